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
// How the sleep is done depends on the system:
// - Linux: the count is waited on with std::atomic::wait, a futex. A signal
//   nobody sleeps on costs one atomic add and one load.
// - Windows: the MinGW-w64 standard library has no system wait behind
//   std::atomic::wait and falls back to a shared table of waiters that can
//   lose a notify, leaving a thread asleep for good while the count has
//   already moved (the pipeline then hangs). So there the sleeper holds a
//   mutex while it compares the count with its ticket and goes to sleep on
//   a condition variable, and the signaller passes through the same mutex
//   after moving the count and before notifying: the move is then either
//   seen by the comparison or lands while the sleeper is already waiting,
//   and no wake-up can be lost. (The mutex and condition variable come from
//   the standard library, which builds them on the system's own, so the
//   program still imports only the base system DLLs.)
// Either way signals are given per job and per 64 KiB chunk, never per
// byte, so the lock on Windows costs nothing that matters, and the coder's
// per-byte path never touches a signal.
#pragma once

#include <atomic>
#include <cstdint>
#ifdef _WIN32
#include <condition_variable>
#include <mutex>
#endif

namespace qex {

struct WakeSignal {
    std::atomic<uint32_t> count{0};
#ifdef _WIN32
    // Guard the compare-and-sleep against a wake slipping in between;
    // mutable because sleeping on a signal does not change what it says.
    mutable std::mutex sleepLock;
    mutable std::condition_variable sleepers;
#endif
};

inline uint32_t takeTicket(const WakeSignal& signal) { return signal.count.load(std::memory_order_seq_cst); }

// Returns once the count differs from `ticket` (at once if it already does).
inline void sleepPast(const WakeSignal& signal, uint32_t ticket) {
#ifdef _WIN32
    std::unique_lock<std::mutex> lock(signal.sleepLock);
    signal.sleepers.wait(lock, [&] { return signal.count.load(std::memory_order_seq_cst) != ticket; });
#else
    signal.count.wait(ticket, std::memory_order_seq_cst);
#endif
}

inline void wake(WakeSignal& signal) {
    signal.count.fetch_add(1, std::memory_order_seq_cst);
#ifdef _WIN32
    // An empty pass through the lock: a sleeper that compared before the add
    // is now inside its wait, so the notify below reaches it.
    { const std::lock_guard<std::mutex> pass(signal.sleepLock); }
    signal.sleepers.notify_all();
#else
    signal.count.notify_all();
#endif
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
