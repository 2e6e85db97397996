// Archive time stamps and the file system's.
//
// The archive stores times as FILETIME: 100-nanosecond ticks since
// 1601-01-01 00:00 UTC, unsigned 64-bit. Conversions clamp instead of
// wrapping: a time before 1601 becomes 0, and no FILETIME overflows a
// 64-bit timespec. A FILETIME of 0 means "no time stored" when setting
// times, and the file's own time is left as it is. Linux keeps no settable
// creation time, so it is never set there; Windows sets all three.
//
// Failures are reported as system_result.h describes.
#pragma once

#include <cstdint>
#include <ctime>

#include "platform/file_io.h"

namespace qex {

// Seconds from 1601-01-01 to 1970-01-01 (369 years, 89 of them leap years).
inline constexpr int64_t kFileTimeEpochSeconds = 11644473600;
inline constexpr int64_t kFileTimeTicksPerSecond = 10000000;

timespec fileTimeToTimespec(uint64_t fileTime);
uint64_t timespecToFileTime(const timespec& time);

// The local date and time of an archive time stamp, as the listing shows
// it; an error when the system cannot express it.
SystemResult<std::tm> localTimeOf(uint64_t fileTime);

// Sets the creation, last access and last write times of an open file.
SystemStatus setFileTimes(FileHandle file, uint64_t creationTime, uint64_t lastAccessTime, uint64_t lastWriteTime);

}  // namespace qex
