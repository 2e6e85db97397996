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
// The count is waited on with std::atomic::wait (a futex on Linux). A signal
// nobody sleeps on costs one atomic add and one load; signals are given per
// job and per 64 KiB chunk, never per byte.
#pragma once

#include <atomic>
#include <cstdint>

namespace qex {

struct WakeSignal {
    std::atomic<uint32_t> count{0};
};

inline uint32_t takeTicket(const WakeSignal& signal) { return signal.count.load(std::memory_order_seq_cst); }

// Returns once the count differs from `ticket` (at once if it already does).
inline void sleepPast(const WakeSignal& signal, uint32_t ticket) {
    signal.count.wait(ticket, std::memory_order_seq_cst);
}

inline void wake(WakeSignal& signal) {
    signal.count.fetch_add(1, std::memory_order_seq_cst);
    signal.count.notify_all();
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
