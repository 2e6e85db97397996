// The coroutine switch on the C library's context calls. A switch happens
// once per 64 KiB of input or output, so its cost does not matter; what
// matters is that the body's stack survives every suspension untouched.
#include "pipeline/coder_coroutine.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/file_io.h"

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

// Sanitizer announcements around each swapcontext. The address sanitizer
// must know which stack is live (or it reports the other stack's frames as
// errors); the thread sanitizer keeps a shadow call stack per fiber.

void announceEnterCoroutine(CoroutineContext& context) {
#ifdef QEX_ASAN_FIBERS
    __sanitizer_start_switch_fiber(&context.workerFakeStack, context.stackBottom, context.stackBytes);
#endif
#ifdef QEX_TSAN_FIBERS
    context.workerFiber = __tsan_get_current_fiber();
    __tsan_switch_to_fiber(context.coroutineFiber, 0);
#endif
    (void)context;
}

void announceBackInWorker(CoroutineContext& context) {
#ifdef QEX_ASAN_FIBERS
    __sanitizer_finish_switch_fiber(context.workerFakeStack, nullptr, nullptr);
#endif
    (void)context;
}

void announceLeaveCoroutine(CoroutineContext& context, bool forGood) {
#ifdef QEX_ASAN_FIBERS
    // A body that has finished never comes back: its fake frames are freed.
    __sanitizer_start_switch_fiber(forGood ? nullptr : &context.coroutineFakeStack,
                                   context.workerStackBottom, context.workerStackBytes);
#endif
#ifdef QEX_TSAN_FIBERS
    __tsan_switch_to_fiber(context.workerFiber, 0);
#endif
    (void)context;
    (void)forGood;
}

void announceBackInCoroutine(CoroutineContext& context, bool first) {
#ifdef QEX_ASAN_FIBERS
    __sanitizer_finish_switch_fiber(first ? nullptr : context.coroutineFakeStack, &context.workerStackBottom,
                                    &context.workerStackBytes);
#endif
    (void)context;
    (void)first;
}

// makecontext passes int arguments only: the context's address travels as
// two 32-bit halves.
void coroutineEntry(unsigned int high, unsigned int low) {
    auto* context = reinterpret_cast<CoroutineContext*>((uintptr_t{high} << 32) | uintptr_t{low});
    announceBackInCoroutine(*context, true);
    context->body(context->argument);
    context->finished = true;
    switch_context(*context, kIdle);
    // A finished body is never resumed; returning here would end the thread.
    std::abort();
}

}  // namespace

bool createCoroutine(CoroutineContext& context, void (*body)(void*), void* argument, std::string& reason) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t mappingBytes = kCoroutineStackBytes + page;
    void* mapping = ::mmap(nullptr, mappingBytes, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED) {
        reason = systemReason(errno);
        return false;
    }
    // Stacks grow down: the guard page lies below the lowest usable byte.
    if (::mprotect(mapping, page, PROT_NONE) != 0) {
        reason = systemReason(errno);
        ::munmap(mapping, mappingBytes);
        return false;
    }
    context = CoroutineContext{};
    context.body = body;
    context.argument = argument;
    context.mapping = static_cast<unsigned char*>(mapping);
    context.mappingBytes = mappingBytes;
    context.stackBottom = context.mapping + page;
    context.stackBytes = kCoroutineStackBytes;
    if (::getcontext(&context.coroutineSlot) != 0) {
        reason = systemReason(errno);
        destroyCoroutine(context);
        return false;
    }
    context.coroutineSlot.uc_stack.ss_sp = context.stackBottom;
    context.coroutineSlot.uc_stack.ss_size = context.stackBytes;
    context.coroutineSlot.uc_link = nullptr;
    const auto address = reinterpret_cast<uintptr_t>(&context);
    ::makecontext(&context.coroutineSlot, reinterpret_cast<void (*)()>(&coroutineEntry), 2,
                  static_cast<unsigned int>(address >> 32), static_cast<unsigned int>(address & 0xFFFFFFFFu));
#ifdef QEX_TSAN_FIBERS
    context.coroutineFiber = __tsan_create_fiber(0);
#endif
    return true;
}

void destroyCoroutine(CoroutineContext& context) {
#ifdef QEX_TSAN_FIBERS
    if (context.coroutineFiber != nullptr) __tsan_destroy_fiber(context.coroutineFiber);
    context.coroutineFiber = nullptr;
#endif
#ifdef QEX_ASAN_FIBERS
    // The body's last frames never return: clear their redzones, or memory
    // mapped later at the same place would look poisoned.
    if (context.stackBottom != nullptr) __asan_unpoison_memory_region(context.stackBottom, context.stackBytes);
#endif
    if (context.mapping != nullptr) ::munmap(context.mapping, context.mappingBytes);
    context.mapping = nullptr;
    context.stackBottom = nullptr;
}

uint32_t resume_coder(CoroutineContext& context) {
    if (context.finished) return kIdle;
    context.started = true;
    announceEnterCoroutine(context);
    ::swapcontext(&context.workerSlot, &context.coroutineSlot);
    announceBackInWorker(context);
    return context.state;
}

void switch_context(CoroutineContext& context, uint32_t code) {
    context.state = code;
    const bool forGood = code == kIdle;
    announceLeaveCoroutine(context, forGood);
    ::swapcontext(&context.coroutineSlot, &context.workerSlot);
    announceBackInCoroutine(context, false);
}

}  // namespace qex
