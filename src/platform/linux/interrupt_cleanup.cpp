// Linux side of the interrupt cleanup: sigaction, and in the handler lstat,
// unlink, signal and raise (see interrupt_cleanup.h).
#include "platform/interrupt_cleanup.h"

#include <signal.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "platform/file_identity.h"

namespace qex {
namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kInterruptCount = sizeof kInterrupts / sizeof kInterrupts[0];

// Process-wide by nature: a signal handler has no other way to find them.
// The path and identity are written before `armed` is raised and left
// alone while it is up.
std::unique_ptr<char[]> armedPath;
FileIdentity armedIdentity;
std::atomic<bool> armed{false};
struct sigaction previous[kInterruptCount];
bool installed[kInterruptCount] = {};
static_assert(std::atomic<bool>::is_always_lock_free);

void onInterrupt(int signalNumber) {
    // Nothing can be reported from here: the process ends either way.
    if (armed.exchange(false)) ignoreFailure(removeIfSameFile(armedPath.get(), armedIdentity));
    // The signal is blocked while its handler runs, so the raised one is
    // delivered, with its default action, as the handler returns.
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

}  // namespace

bool armRemovalOnInterrupt(const char* path, FileHandle file) {
    disarmRemovalOnInterrupt();
    const FileIdentity identity = identityOfFile(file);
    if (!identity.known || !identity.regular) return false;
    const size_t length = std::strlen(path);
    armedPath = std::make_unique<char[]>(length + 1);
    std::memcpy(armedPath.get(), path, length + 1);
    armedIdentity = identity;
    armed.store(true);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int k = 0; k < kInterruptCount; ++k) {
        struct sigaction before {};
        if (::sigaction(kInterrupts[k], nullptr, &before) != 0) continue;
        if (before.sa_handler == SIG_IGN) continue;
        installed[k] = ::sigaction(kInterrupts[k], &action, &previous[k]) == 0;
    }
    return true;
}

void disarmRemovalOnInterrupt() {
    armed.store(false);
    for (int k = 0; k < kInterruptCount; ++k) {
        if (installed[k]) ::sigaction(kInterrupts[k], &previous[k], nullptr);
        installed[k] = false;
    }
}

}  // namespace qex
