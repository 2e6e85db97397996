// Thread services: the poll sleep and processor binding.
#pragma once

#include <cstdint>

namespace qex {

// The pause between looks of a thread that polls (the progress printer
// watching for its stop); the pipeline threads wake each other instead.
inline constexpr uint32_t kPollMilliseconds = 10;

void sleepMilliseconds(uint32_t milliseconds);

// Binds the calling thread, and only it, to the first processor it may run
// on. Failure (a restricted container, say) is ignored: the binding only
// keeps the coder's caches warm.
void bindCurrentThreadToFirstProcessor();

}  // namespace qex
