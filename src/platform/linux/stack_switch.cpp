// Linux side of the switchable stack: an anonymous mapping with a guard page
// and the C library's context calls. A switch happens once per 64 KiB of
// coder input or output, so its cost does not matter; what matters is that
// the stack survives every switch untouched.
#include "platform/stack_switch.h"

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define QEX_ASAN_FIBERS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QEX_ASAN_FIBERS 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define QEX_TSAN_FIBERS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QEX_TSAN_FIBERS 1
#endif
#endif

#ifdef QEX_ASAN_FIBERS
#include <sanitizer/asan_interface.h>
#endif
#ifdef QEX_TSAN_FIBERS
#include <sanitizer/tsan_interface.h>
#endif

namespace qex {

namespace {

struct Contexts {
    ucontext_t ownerSlot{};
    ucontext_t stackSlot{};
    unsigned char* mapping = nullptr;  // guard page + stack
    size_t mappingBytes = 0;
    // Sanitizer bookkeeping (unused in plain builds).
    void* ownerFakeStack = nullptr;
    void* stackFakeStack = nullptr;
    const void* ownerStackBottom = nullptr;
    size_t ownerStackBytes = 0;
    void* ownerFiber = nullptr;
    void* stackFiber = nullptr;
};

Contexts& contextsOf(SwitchableStack& stack) { return *static_cast<Contexts*>(stack.system); }

// Sanitizer announcements around each swapcontext. The address sanitizer
// must know which stack is live (or it reports the other stack's frames as
// errors); the thread sanitizer keeps a shadow call stack per fiber.

void announceEnterStack(SwitchableStack& stack) {
    Contexts& c = contextsOf(stack);
#ifdef QEX_ASAN_FIBERS
    __sanitizer_start_switch_fiber(&c.ownerFakeStack, stack.bottom, stack.bytes);
#endif
#ifdef QEX_TSAN_FIBERS
    c.ownerFiber = __tsan_get_current_fiber();
    __tsan_switch_to_fiber(c.stackFiber, 0);
#endif
    (void)c;
}

void announceBackInOwner(SwitchableStack& stack) {
#ifdef QEX_ASAN_FIBERS
    __sanitizer_finish_switch_fiber(contextsOf(stack).ownerFakeStack, nullptr, nullptr);
#endif
    (void)stack;
}

void announceLeaveStack(SwitchableStack& stack, bool forGood) {
    Contexts& c = contextsOf(stack);
#ifdef QEX_ASAN_FIBERS
    // Code that has left for good never comes back: its fake frames are freed.
    __sanitizer_start_switch_fiber(forGood ? nullptr : &c.stackFakeStack, c.ownerStackBottom, c.ownerStackBytes);
#endif
#ifdef QEX_TSAN_FIBERS
    __tsan_switch_to_fiber(c.ownerFiber, 0);
#endif
    (void)c;
    (void)forGood;
}

void announceBackInStack(SwitchableStack& stack, bool first) {
#ifdef QEX_ASAN_FIBERS
    Contexts& c = contextsOf(stack);
    __sanitizer_finish_switch_fiber(first ? nullptr : c.stackFakeStack, &c.ownerStackBottom, &c.ownerStackBytes);
#endif
    (void)stack;
    (void)first;
}

// makecontext passes int arguments only: the stack's address travels as
// two 32-bit halves.
void stackEntry(unsigned int high, unsigned int low) {
    auto* stack = reinterpret_cast<SwitchableStack*>((uintptr_t{high} << 32) | uintptr_t{low});
    announceBackInStack(*stack, true);
    stack->entry(stack->argument);
    // The entry leaves for good instead of returning; returning here would
    // end the thread.
    std::abort();
}

}  // namespace

SystemStatus createStack(SwitchableStack& stack, size_t bytes, void (*entry)(void*), void* argument) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t mappingBytes = bytes + page;
    void* mapping = ::mmap(nullptr, mappingBytes, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED) return {errno};
    // Stacks grow down: the guard page lies below the lowest usable byte.
    if (::mprotect(mapping, page, PROT_NONE) != 0) {
        const int error = errno;
        ::munmap(mapping, mappingBytes);
        return {error};
    }
    auto* contexts = new (std::nothrow) Contexts;
    if (contexts == nullptr) {
        ::munmap(mapping, mappingBytes);
        return {ENOMEM};
    }
    stack = SwitchableStack{};
    stack.entry = entry;
    stack.argument = argument;
    stack.system = contexts;
    contexts->mapping = static_cast<unsigned char*>(mapping);
    contexts->mappingBytes = mappingBytes;
    stack.bottom = contexts->mapping + page;
    stack.bytes = bytes;
    if (::getcontext(&contexts->stackSlot) != 0) {
        const int error = errno;
        destroyStack(stack);
        return {error};
    }
    contexts->stackSlot.uc_stack.ss_sp = stack.bottom;
    contexts->stackSlot.uc_stack.ss_size = stack.bytes;
    contexts->stackSlot.uc_link = nullptr;
    const auto address = reinterpret_cast<uintptr_t>(&stack);
    ::makecontext(&contexts->stackSlot, reinterpret_cast<void (*)()>(&stackEntry), 2,
                  static_cast<unsigned int>(address >> 32), static_cast<unsigned int>(address & 0xFFFFFFFFu));
#ifdef QEX_TSAN_FIBERS
    contexts->stackFiber = __tsan_create_fiber(0);
#endif
    return {};
}

void destroyStack(SwitchableStack& stack) {
    if (stack.system == nullptr) return;
    Contexts& c = contextsOf(stack);
#ifdef QEX_TSAN_FIBERS
    if (c.stackFiber != nullptr) __tsan_destroy_fiber(c.stackFiber);
    c.stackFiber = nullptr;
#endif
#ifdef QEX_ASAN_FIBERS
    // The last frames on the stack never return: clear their redzones, or
    // memory mapped later at the same place would look poisoned.
    if (stack.bottom != nullptr) __asan_unpoison_memory_region(stack.bottom, stack.bytes);
#endif
    if (c.mapping != nullptr) ::munmap(c.mapping, c.mappingBytes);
    delete &c;
    stack.system = nullptr;
    stack.bottom = nullptr;
}

void enterStack(SwitchableStack& stack) {
    announceEnterStack(stack);
    Contexts& c = contextsOf(stack);
    ::swapcontext(&c.ownerSlot, &c.stackSlot);
    announceBackInOwner(stack);
}

void leaveStack(SwitchableStack& stack, bool forGood) {
    announceLeaveStack(stack, forGood);
    Contexts& c = contextsOf(stack);
    ::swapcontext(&c.stackSlot, &c.ownerSlot);
    announceBackInStack(stack, false);
}

}  // namespace qex
