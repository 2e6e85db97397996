// The system's own error codes for the failures tests provoke, so that a
// test can expect the reason the platform layer reports: errno values on
// Linux, GetLastError values on Windows.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace qex::test {

#ifdef _WIN32
inline constexpr int kErrorNoSuchFile = ERROR_FILE_NOT_FOUND;
inline constexpr int kErrorNoSuchFolder = ERROR_PATH_NOT_FOUND;  // a folder on the way is missing
inline constexpr int kErrorIsAFolder = ERROR_ACCESS_DENIED;      // a folder opened as a file
inline constexpr int kErrorDeviceFull = ERROR_DISK_FULL;
#else
inline constexpr int kErrorNoSuchFile = ENOENT;
inline constexpr int kErrorNoSuchFolder = ENOENT;
inline constexpr int kErrorIsAFolder = EISDIR;
inline constexpr int kErrorDeviceFull = ENOSPC;
#endif

}  // namespace qex::test
