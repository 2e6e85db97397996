// WakeSignal: how a pipeline thread sleeps until another thread has done
// what it waits for (queued a job, published or freed a chunk, stopped).
//
// The waiter takes a ticket (the signal's count), then looks at what it
// waits for, and only if that has not happened sleeps until the count moves
// past the ticket. The signaller first makes its change visible, then moves
// the count and wakes the sleeper. Because the ticket is taken before the
// look, no signal can fall between look and sleep: a change made after the
// look has moved the count, and the sleep returns at once. Wake-ups may be
// spurious; waiters look again.
//
// How the sleep is done depends on the system: WakeSignal itself,
// sleepPast and wake come from the system's own header
// (platform/<system>/wake_signal_sleep.h). Either way signals are given per
// job and per 64 KiB chunk, never per byte, and the coder's per-byte path
// never touches a signal.
#pragma once

#include <cstdint>

#include "system/wake_signal_sleep.h"

namespace qex {

inline uint32_t takeTicket(const WakeSignal& signal) { return signal.count.load(std::memory_order_seq_cst); }

// True while the signal's thread sleeps on a ticket taken after the last
// signal: it has looked at everything changed before that signal and found
// nothing to do. Tests wait for this to show that a thread stays put.
inline bool sleepsAtCurrentCount(const WakeSignal& signal) {
    const uint64_t sleeper = signal.sleeper.load(std::memory_order_seq_cst);
    return sleeper != 0 && sleeper - 1 == signal.count.load(std::memory_order_seq_cst);
}

// Sleeps on `signal` until `ready()` holds.
template <typename Ready>
void waitUntil(const WakeSignal& signal, Ready ready) {
    for (;;) {
        const uint32_t ticket = takeTicket(signal);
        if (ready()) return;
        sleepPast(signal, ticket);
    }
}

}  // namespace qex
