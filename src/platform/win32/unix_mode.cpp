// Windows side of the stored Unix modes: none are applied, no link is read.
#include "platform/unix_mode.h"

#include "platform/win32/system_paths.h"

namespace qex {

ModeRule currentModeRule() { return ModeRule{}; }

SystemStatus applyStoredMode(FileHandle, const ModeRule&, uint16_t, uint64_t, uint16_t) { return {}; }

SystemResult<std::string> readLinkTarget(const char*) { return {{}, ERROR_NOT_SUPPORTED}; }

SystemResult<std::string> readOpenLinkTarget(FileHandle) { return {{}, ERROR_NOT_SUPPORTED}; }

}  // namespace qex
