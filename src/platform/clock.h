// A millisecond tick for speed figures: only differences between two ticks
// mean anything, taken modulo 2^32 (the tick wraps after about 49.7 days).
#pragma once

#include <cstdint>

namespace qex {

uint32_t tickMilliseconds();

}  // namespace qex
