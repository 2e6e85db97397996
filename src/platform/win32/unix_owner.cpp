// Windows side of the stored owners: none are applied.
#include "platform/unix_owner.h"

namespace qex {

SystemStatus applyStoredOwner(FileHandle, const ModeRule&, uint16_t, uint64_t) { return {}; }

}  // namespace qex
