// How a pipeline thread sleeps on a WakeSignal on Windows (the protocol is
// in pipeline/wake_signal.h).
//
// The MinGW-w64 standard library has no system wait behind
// std::atomic::wait and falls back to a shared table of waiters that can
// lose a notify, leaving a thread asleep for good while the count has
// already moved (the pipeline then hangs). So here the sleeper holds a
// mutex while it compares the count with its ticket and goes to sleep on a
// condition variable, and the signaller passes through the same mutex after
// moving the count and before notifying: the move is then either seen by
// the comparison or lands while the sleeper is already waiting, and no
// wake-up can be lost. (The mutex and condition variable come from the
// standard library, which builds them on the system's own, so the program
// still imports only the base system DLLs.) Signals are given per job and
// per 64 KiB chunk, never per byte, so the lock costs nothing that matters.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qex {

struct WakeSignal {
    std::atomic<uint32_t> count{0};
    // Guard the compare-and-sleep against a wake slipping in between;
    // mutable because sleeping on a signal does not change what it says.
    mutable std::mutex sleepLock;
    mutable std::condition_variable sleepers;
    // The ticket its sleeper sleeps past, plus one; 0 while nobody sleeps.
    // Lets a test see that a thread looked at everything signalled so far
    // and went to sleep (see sleepsAtCurrentCount).
    mutable std::atomic<uint64_t> sleeper{0};
};

// Returns once the count differs from `ticket` (at once if it already does).
inline void sleepPast(const WakeSignal& signal, uint32_t ticket) {
    signal.sleeper.store(uint64_t{ticket} + 1, std::memory_order_seq_cst);
    {
        std::unique_lock<std::mutex> lock(signal.sleepLock);
        signal.sleepers.wait(lock, [&] { return signal.count.load(std::memory_order_seq_cst) != ticket; });
    }
    signal.sleeper.store(0, std::memory_order_seq_cst);
}

inline void wake(WakeSignal& signal) {
    signal.count.fetch_add(1, std::memory_order_seq_cst);
    // An empty pass through the lock: a sleeper that compared before the add
    // is now inside its wait, so the notify below reaches it.
    { const std::lock_guard<std::mutex> pass(signal.sleepLock); }
    signal.sleepers.notify_all();
}

}  // namespace qex
