// Archived attribute bits applied to extracted files and folders.
//
// Only the read-only bit has a meaning on Linux: a file archived read-only
// loses every write permission bit once its contents and times are in place
// (so that the bit cannot stop the extraction itself). Hidden, system,
// archive and the other bits have no Linux counterpart and are ignored, and
// so are all bits of a folder. Windows takes all 16 bits as they are stored;
// the system itself ignores the ones nobody can set (folder, compressed,
// encrypted and the like).
#pragma once

#include <cstdint>

#include "platform/file_io.h"

namespace qex {

inline constexpr uint16_t kAttributeReadOnly = 0x01;
inline constexpr uint16_t kAttributeDirectory = 0x10;

// On an open file or folder (a file's handle stays writable).
SystemStatus applyFileAttributes(FileHandle file, uint16_t attributes);

}  // namespace qex
