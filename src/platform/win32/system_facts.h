// What the shared platform code needs to know about Windows at compile
// time: the type of an open file, how paths are separated, and whether
// stored Unix modes are restored. The Linux build has its own copy of this
// file with the same names (platform/linux/system_facts.h).
#pragma once

#include <cstdint>
#include <string_view>

namespace qex {

// An open file is a HANDLE, held as its value; INVALID_HANDLE_VALUE is -1.
using FileHandle = intptr_t;

inline constexpr char kPathSeparator = '\\';

// Units a name stored in an archive must not hold, because they would make
// it more than one component of a path here. (A colon, which would name a
// drive or another file's stream, is refused for the one item that holds it
// when it is created: within_folder.h.)
inline constexpr std::u16string_view kNameBreakingUnits = u"/\\";

// What ends the folder part of a path: Windows also takes "/" as a
// separator, and a drive's colon ("C:name").
inline constexpr std::string_view kFolderEnds = "\\/:";

// Only the read-only attribute is applied; a stored mode is kept in the
// archive but has nothing to act on here.
inline constexpr bool kRestoresUnixModes = false;

}  // namespace qex
