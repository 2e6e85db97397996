// How a pipeline thread sleeps on a WakeSignal on Linux (the protocol is in
// pipeline/wake_signal.h): the count is waited on with std::atomic::wait, a
// futex. A signal nobody sleeps on costs one atomic add and one load.
#pragma once

#include <atomic>
#include <cstdint>

namespace qex {

struct WakeSignal {
    std::atomic<uint32_t> count{0};
    // The ticket its sleeper sleeps past, plus one; 0 while nobody sleeps.
    // Lets a test see that a thread looked at everything signalled so far
    // and went to sleep (see sleepsAtCurrentCount).
    mutable std::atomic<uint64_t> sleeper{0};
};

// Returns once the count differs from `ticket` (at once if it already does).
inline void sleepPast(const WakeSignal& signal, uint32_t ticket) {
    signal.sleeper.store(uint64_t{ticket} + 1, std::memory_order_seq_cst);
    signal.count.wait(ticket, std::memory_order_seq_cst);
    signal.sleeper.store(0, std::memory_order_seq_cst);
}

inline void wake(WakeSignal& signal) {
    signal.count.fetch_add(1, std::memory_order_seq_cst);
    signal.count.notify_all();
}

}  // namespace qex
