// ProgressDoorbell: how the command wakes the progress display's thread
// between its timed prints (to end it at once, not after its interval).
//
// Calls are counted, not flagged: the display takes the count before it
// prints and sleeps only while the count still stands there, so a call made
// during a print is never lost (the ticket rule of the wake signals).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qex {

struct ProgressDoorbell {
    std::mutex lock;
    std::condition_variable moved;  // the count moved
    uint32_t calls = 0;
};

uint32_t callsSoFar(ProgressDoorbell& bell);
void callDisplay(ProgressDoorbell& bell);

// Sleep until the count moves past `ticket`, or `milliseconds` pass.
void awaitCall(ProgressDoorbell& bell, uint32_t ticket, uint32_t milliseconds);

}  // namespace qex
