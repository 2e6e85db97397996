// Linux side of the tick: the monotonic clock, cut to 32 bits.
#include "platform/clock.h"

#include <ctime>

namespace qex {

uint32_t tickMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                        static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

}  // namespace qex
