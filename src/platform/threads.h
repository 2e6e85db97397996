// Thread services: the poll sleep.
#pragma once

#include <cstdint>

namespace qex {

// The pause between looks of a thread that polls (the progress printer
// watching for its stop); the pipeline threads wake each other instead.
inline constexpr uint32_t kPollMilliseconds = 10;

void sleepMilliseconds(uint32_t milliseconds);

}  // namespace qex
