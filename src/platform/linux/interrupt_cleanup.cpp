// Linux side of the interrupt cleanup: sigaction once per run,
// pthread_sigmask around a creation, and in the handler fstatat, unlinkat,
// signal and raise (see interrupt_cleanup.h).
#include "platform/interrupt_cleanup.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace qex {
namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kInterruptCount = sizeof kInterrupts / sizeof kInterrupts[0];

// The slot's states. Only the handler leaves `idle` or `armed` for
// `removing`, and only it sets `ended`; nothing leaves `ended`.
enum SlotState : int {
    kIdle,      // nothing armed
    kCreating,  // the name is written; the item is being created
    kArmed,     // the item exists: `device` and `inode` say which
    kRemoving,  // a handler is removing it
    kEnded,     // an interrupt has been handled: the process is ending
};

// A path longer than this cannot be removed by one call anyway.
constexpr size_t kSlotNameBytes = PATH_MAX;

// Process-wide by nature: a signal handler has no other way to find it.
// `folder`, `name`, `device` and `inode` are written only while the state
// is `idle` or `creating`, which the handler does not read them in.
struct ArmedSlot {
    std::atomic<int> state{kIdle};
    int folder = AT_FDCWD;
    char name[kSlotNameBytes] = {};
    dev_t device = 0;
    ino_t inode = 0;
    sigset_t heldMask{};  // the creating thread's mask before the hold
};
ArmedSlot slot;
static_assert(std::atomic<int>::is_always_lock_free);

struct sigaction previous[kInterruptCount];
bool installed[kInterruptCount] = {};

sigset_t interruptSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : kInterrupts) sigaddset(&set, signalNumber);
    return set;
}

void removeArmedItem() {
    if (slot.name[0] == '\0') return;
    struct stat info {};
    if (::fstatat(slot.folder, slot.name, &info, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (info.st_dev != slot.device || info.st_ino != slot.inode) return;  // not ours any more
    ::unlinkat(slot.folder, slot.name, 0);
}

void onInterrupt(int signalNumber) {
    int seen = slot.state.load();
    for (;;) {
        // A creation on another thread ends soon (that thread holds the
        // interrupts off, so it is not this one); so does another removal.
        if (seen == kCreating || seen == kRemoving) {
            ::sched_yield();
            seen = slot.state.load();
            continue;
        }
        if (seen == kEnded) break;
        if (slot.state.compare_exchange_weak(seen, kRemoving)) {
            if (seen == kArmed) removeArmedItem();
            slot.state.store(kEnded);
            break;
        }
    }
    // The signal is blocked while its handler runs, so the raised one is
    // delivered, with its default action, as the handler returns.
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

}  // namespace

void installInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int k = 0; k < kInterruptCount; ++k) {
        if (installed[k]) continue;
        struct sigaction before {};
        if (::sigaction(kInterrupts[k], nullptr, &before) != 0) continue;
        if (before.sa_handler == SIG_IGN) continue;
        installed[k] = ::sigaction(kInterrupts[k], &action, &previous[k]) == 0;
    }
}

void restoreInterruptHandlers() {
    for (int k = 0; k < kInterruptCount; ++k) {
        if (installed[k]) ::sigaction(kInterrupts[k], &previous[k], nullptr);
        installed[k] = false;
    }
}

Arming armBeforeCreating(FileHandle folder, const char* name) {
    const sigset_t interrupts = interruptSet();
    sigset_t before;
    ::pthread_sigmask(SIG_BLOCK, &interrupts, &before);
    const int now = slot.state.load();
    if (now != kIdle) {
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
        return now >= kRemoving ? Arming::interrupted : Arming::busy;
    }
    const size_t length = std::strlen(name);
    slot.folder = folder == kNoFile ? AT_FDCWD : folder;
    if (length < kSlotNameBytes) std::memcpy(slot.name, name, length + 1);
    else slot.name[0] = '\0';
    slot.heldMask = before;
    int expected = kIdle;
    if (!slot.state.compare_exchange_strong(expected, kCreating)) {
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
        return expected >= kRemoving ? Arming::interrupted : Arming::busy;
    }
    return Arming::armed;
}

void armedCreationDone(bool created, FileHandle file) {
    struct stat info {};
    const bool known = created && (file != kNoFile ? ::fstat(file, &info) == 0
                                                   : ::fstatat(slot.folder, slot.name, &info, AT_SYMLINK_NOFOLLOW) == 0);
    slot.device = info.st_dev;
    slot.inode = info.st_ino;
    // A creation that failed, or an item that cannot be examined, is not
    // armed; the latter stays where it is.
    const sigset_t before = slot.heldMask;
    slot.state.store(known ? kArmed : kIdle);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

bool armRemovalOnInterrupt(const char* path, FileHandle file) {
    struct stat info {};
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (armBeforeCreating(kNoFile, path) != Arming::armed) return false;
    armedCreationDone(true, file);
    return true;
}

void disarmRemovalOnInterrupt() {
    int expected = kArmed;
    if (slot.state.compare_exchange_strong(expected, kIdle) || expected == kIdle) return;
    // A handler on another thread has taken the item and ends the process.
    for (;;) ::pause();
}

}  // namespace qex
