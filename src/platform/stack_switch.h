// One more stack for a thread, and the switch between it and the thread's
// own: what the coder coroutine runs on.
//
// `enterStack` (from the owning thread) runs the stack's code until that
// code calls `leaveStack`; the next `enterStack` continues right after that
// call. The entry function must never return: it leaves for good instead.
// Only the thread that created a stack may enter it.
//
// Linux: a lazily committed mapping with an inaccessible guard page below
// it, switched with the C library's context calls; the switches are
// announced to the address and thread sanitizers when the build uses them.
// Windows: a fiber, whose stack the system commits as it grows, guarded
// the same way.
#pragma once

#include <cstddef>

#include "platform/system_result.h"

namespace qex {

struct SwitchableStack {
    void (*entry)(void* argument) = nullptr;
    void* argument = nullptr;
    unsigned char* bottom = nullptr;  // lowest usable byte, when the system says
    size_t bytes = 0;
    void* system = nullptr;  // the platform's own record of the two contexts
};

// Prepares a stack of `bytes` on which `entry(argument)` will start at the
// first enterStack. Fails when the stack cannot be obtained.
SystemStatus createStack(SwitchableStack& stack, size_t bytes, void (*entry)(void*), void* argument);

// Releases the stack; it must not be entered afterwards.
void destroyStack(SwitchableStack& stack);

// Owner side: runs on the stack until its code leaves.
void enterStack(SwitchableStack& stack);

// Stack side: back to the owner. `forGood` when the stack will never be
// entered again.
void leaveStack(SwitchableStack& stack, bool forGood);

}  // namespace qex
