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

// Whether the system's file names ignore case (so that the names a user
// gives for archived items do too).
inline constexpr bool kNamesIgnoreCase = true;

inline constexpr char kPathSeparator = '\\';

// Units a name stored in an archive must not hold on any system, because
// they would make it more than one component of a path. (A name that only
// Windows cannot hold, a backslash or a colon in it say, is refused for the
// one item that holds it when it is created: unfitNameReason in paths.h.)
inline constexpr std::u16string_view kNameBreakingUnits = u"/";

// Whether a path may start with a drive letter ("C:\\dir", "C:dir").
inline constexpr bool kHasDriveLetters = true;

// What ends the folder part of a path: Windows also takes "/" as a
// separator, and a drive's colon ("C:name").
inline constexpr std::string_view kFolderEnds = "\\/:";

// Only the read-only attribute is applied; a stored mode is kept in the
// archive but has nothing to act on here.
inline constexpr bool kRestoresUnixModes = false;

}  // namespace qex
