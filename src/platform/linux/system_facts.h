// What the shared platform code needs to know about Linux at compile time:
// the type of an open file, how paths are separated, and whether stored
// Unix modes are restored. The Windows build has its own copy of this file
// with the same names (platform/win32/system_facts.h).
#pragma once

#include <string_view>

namespace qex {

// An open file is a descriptor.
using FileHandle = int;

// Whether the system's file names ignore case (so that the names a user
// gives for archived items do too).
inline constexpr bool kNamesIgnoreCase = false;

inline constexpr char kPathSeparator = '/';

// Units a name stored in an archive must not hold, because they would make
// it more than one component of a path here.
inline constexpr std::u16string_view kNameBreakingUnits = u"/";

// Whether a path may start with a drive letter ("C:\\dir", "C:dir").
inline constexpr bool kHasDriveLetters = false;

// What ends the folder part of a path.
inline constexpr std::string_view kFolderEnds = "/";

// Permission bits, set-user-ID and links are restored from the stored mode.
inline constexpr bool kRestoresUnixModes = true;

}  // namespace qex
