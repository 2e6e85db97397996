// Thread services the pipeline needs: the poll sleep and processor binding.
#pragma once

#include <cstdint>

namespace qex {

// Every wait in the pipeline is a poll with this pause between looks.
inline constexpr uint32_t kPollMilliseconds = 10;

void sleepMilliseconds(uint32_t milliseconds);

// Binds the calling thread, and only it, to the first processor it may run
// on. Failure (a restricted container, say) is ignored: the binding only
// keeps the coder's caches warm.
void bindCurrentThreadToFirstProcessor();

}  // namespace qex
