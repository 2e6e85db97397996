// FILETIME <-> timespec, the same arithmetic on every system (see
// file_times.h).
#include "platform/file_times.h"

namespace qex {

timespec fileTimeToTimespec(uint64_t fileTime) {
    // 2^64 ticks are about 1.8e12 seconds: every FILETIME fits a 64-bit
    // time_t, so only the shift to the 1970 epoch is needed.
    const uint64_t seconds = fileTime / kFileTimeTicksPerSecond;
    const uint64_t ticks = fileTime % kFileTimeTicksPerSecond;
    timespec result{};
    result.tv_sec = static_cast<time_t>(static_cast<int64_t>(seconds) - kFileTimeEpochSeconds);
    result.tv_nsec = static_cast<long>(ticks * 100);
    return result;
}

uint64_t timespecToFileTime(const timespec& time) {
    const int64_t seconds = static_cast<int64_t>(time.tv_sec);
    if (seconds < -kFileTimeEpochSeconds) return 0;
    // In unsigned arithmetic: the sum can pass INT64_MAX but never 2^64.
    const uint64_t since1601 = static_cast<uint64_t>(seconds) + static_cast<uint64_t>(kFileTimeEpochSeconds);
    const uint64_t ticks = static_cast<uint64_t>(time.tv_nsec) / 100;
    constexpr uint64_t kMaxSeconds = UINT64_MAX / kFileTimeTicksPerSecond;
    if (since1601 > kMaxSeconds) return UINT64_MAX;
    const uint64_t whole = since1601 * kFileTimeTicksPerSecond;
    return whole > UINT64_MAX - ticks ? UINT64_MAX : whole + ticks;
}

}  // namespace qex
