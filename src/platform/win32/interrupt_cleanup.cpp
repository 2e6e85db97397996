// Windows side of the interrupt cleanup: a console control handler
// (Ctrl+C, Ctrl+Break, the console closing), installed once per run. The
// handler runs on a thread of its own, so it is never the thread creating
// an item and can always wait for a creation to end; it removes the armed
// file if its path still names it, then lets the default handling end the
// process (see interrupt_cleanup.h).
#include "platform/interrupt_cleanup.h"

#include <atomic>
#include <cstring>

#include "platform/file_identity.h"
#include "platform/win32/system_paths.h"

namespace qex {

using namespace win32;

namespace {

enum SlotState : int { kIdle, kCreating, kArmed, kRemoving, kEnded };

// A path as long as Windows takes, in UTF-8.
constexpr size_t kSlotNameBytes = 32768 * 3;

// The console's handlers belong to the whole process: one slot. The
// fields are written only while the state is `idle` or `creating`.
struct ArmedSlot {
    std::atomic<int> state{kIdle};
    char name[kSlotNameBytes] = {};
    FileIdentity identity;
};
ArmedSlot slot;

bool installed = false;

BOOL WINAPI onConsoleControl(DWORD /*event*/) {
    int seen = slot.state.load();
    for (;;) {
        if (seen == kCreating || seen == kRemoving) {
            SwitchToThread();
            seen = slot.state.load();
            continue;
        }
        if (seen == kEnded) break;
        if (slot.state.compare_exchange_weak(seen, kRemoving)) {
            if (seen == kArmed && slot.name[0] != '\0')
                ignoreFailure(removeIfSameFile(slot.name, slot.identity));  // the process ends either way
            slot.state.store(kEnded);
            break;
        }
    }
    return FALSE;  // the default handler ends the process
}

}  // namespace

void installInterruptHandlers() {
    if (!installed) installed = SetConsoleCtrlHandler(&onConsoleControl, TRUE) != 0;
}

void restoreInterruptHandlers() {
    if (installed) SetConsoleCtrlHandler(&onConsoleControl, FALSE);
    installed = false;
}

Arming armBeforeCreating(FileHandle /*folder: paths are full on Windows*/, const char* name) {
    const int now = slot.state.load();
    if (now != kIdle) return now >= kRemoving ? Arming::interrupted : Arming::busy;
    const size_t length = std::strlen(name);
    if (length < kSlotNameBytes) std::memcpy(slot.name, name, length + 1);
    else slot.name[0] = '\0';
    int expected = kIdle;
    if (!slot.state.compare_exchange_strong(expected, kCreating))
        return expected >= kRemoving ? Arming::interrupted : Arming::busy;
    return Arming::armed;
}

void armedCreationDone(bool created, FileHandle file) {
    slot.identity = !created ? FileIdentity{} : file != kNoFile ? identityOfFile(file) : identityOfPath(slot.name);
    slot.state.store(slot.identity.known ? kArmed : kIdle);
}

bool armRemovalOnInterrupt(const char* path, FileHandle file) {
    const FileIdentity identity = identityOfFile(file);
    if (!identity.known || !identity.regular) return false;
    if (armBeforeCreating(kNoFile, path) != Arming::armed) return false;
    armedCreationDone(true, file);
    return true;
}

void disarmRemovalOnInterrupt() {
    int expected = kArmed;
    if (slot.state.compare_exchange_strong(expected, kIdle) || expected == kIdle) return;
    // The handler has taken the file and the process is ending.
    for (;;) Sleep(INFINITE);
}

}  // namespace qex
