// ProgressDoorbell: how the thread that records finished files and the
// progress display call each other while every record must reach the
// display (the output is a log, not a terminal). The producer rings once
// its ring is half full, so the display drains it before it fills; the
// display, having drained it, tells a producer that waits for room. Neither
// side sleeps a fixed interval waiting for the other, so printing a log
// holds the pipeline up no longer than the printing itself takes.
//
// Calls and drains are counted, not flagged: a waiter takes the count
// before it looks at the ring and sleeps only while the count still stands
// there, so a call made between the look and the sleep is never lost (the
// ticket rule of the wake signals). Used per file at most, never per byte.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qex {

struct ProgressDoorbell {
    std::mutex lock;
    std::condition_variable moved;  // either count moved
    uint32_t calls = 0;             // producer -> display: print now
    uint32_t drains = 0;            // display -> producer: the ring was drained
};

uint32_t callsSoFar(ProgressDoorbell& bell);
uint32_t drainsSoFar(ProgressDoorbell& bell);

void callDisplay(ProgressDoorbell& bell);
void announceDrain(ProgressDoorbell& bell);

// Sleep until the count moves past `ticket`, or `milliseconds` pass.
void awaitCall(ProgressDoorbell& bell, uint32_t ticket, uint32_t milliseconds);
void awaitDrain(ProgressDoorbell& bell, uint32_t ticket, uint32_t milliseconds);

}  // namespace qex
