// Windows side of the switchable stack: a fiber. The owning thread becomes
// a fiber itself the first time it enters (and a thread again when the
// stack is released, if it was converted here). The system reserves the
// fiber's stack, commits it as it grows and keeps a guard page below it, so
// an overflow ends in a stack-overflow fault rather than in other memory.
#include "platform/stack_switch.h"

#include <windows.h>

#include <cstdlib>
#include <new>

namespace qex {

namespace {

struct Fibers {
    void* owner = nullptr;
    void* fiber = nullptr;
    bool convertedOwner = false;  // the owning thread was made a fiber here
};

Fibers& fibersOf(SwitchableStack& stack) { return *static_cast<Fibers*>(stack.system); }

// GetCurrentFiber reads the thread's block through the segment register;
// GCC takes that read for an access to an empty array.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
void* currentFiber() { return GetCurrentFiber(); }
#pragma GCC diagnostic pop

void WINAPI fiberEntry(void* argument) {
    auto* stack = static_cast<SwitchableStack*>(argument);
    stack->entry(stack->argument);
    // The entry leaves for good instead of returning; a fiber that returns
    // ends its thread.
    std::abort();
}

}  // namespace

SystemStatus createStack(SwitchableStack& stack, size_t bytes, void (*entry)(void*), void* argument) {
    auto* fibers = new (std::nothrow) Fibers;
    if (fibers == nullptr) return {ERROR_NOT_ENOUGH_MEMORY};
    stack = SwitchableStack{};
    stack.entry = entry;
    stack.argument = argument;
    stack.bytes = bytes;
    stack.system = fibers;
    fibers->fiber = CreateFiberEx(0, bytes, FIBER_FLAG_FLOAT_SWITCH, &fiberEntry, &stack);
    if (fibers->fiber == nullptr) {
        const int error = static_cast<int>(GetLastError());
        delete fibers;
        stack.system = nullptr;
        return {error};
    }
    return {};
}

void destroyStack(SwitchableStack& stack) {
    if (stack.system == nullptr) return;
    Fibers& fibers = fibersOf(stack);
    DeleteFiber(fibers.fiber);
    if (fibers.convertedOwner) ConvertFiberToThread();
    delete &fibers;
    stack.system = nullptr;
}

void enterStack(SwitchableStack& stack) {
    Fibers& fibers = fibersOf(stack);
    if (fibers.owner == nullptr) {
        if (IsThreadAFiber()) {
            fibers.owner = currentFiber();
        } else {
            fibers.owner = ConvertThreadToFiberEx(nullptr, FIBER_FLAG_FLOAT_SWITCH);
            fibers.convertedOwner = fibers.owner != nullptr;
        }
        if (fibers.owner == nullptr) std::abort();  // nothing to come back to
    }
    SwitchToFiber(fibers.fiber);
}

void leaveStack(SwitchableStack& stack, bool /*forGood*/) { SwitchToFiber(fibersOf(stack).owner); }

}  // namespace qex
