// CoroutineContext: runs the coder body as a stackful coroutine inside the
// worker thread, so that the encoder and decoder stay plain loops over
// getByte/putByte and never see chunk boundaries.
//
// The body runs on a stack of its own (kCoroutineStackBytes, committed as
// it is touched, with an inaccessible guard page below it so that an
// overflow faults instead of corrupting memory; platform/stack_switch.h).
// `resume_coder` switches from the worker into the body and returns the code
// the body suspended with; `switch_context` suspends the body with a code.
// Codes: kFinished (0) when the body has finished — it is never resumed after
// that — kNeedInput (1), kOutputFull (2).
//
// A run that stops early (given up, or done with what was asked) never
// resumes the body again, and its stack is released without unwinding: no
// destructor of the body's frames runs. So a body owns nothing on its stack;
// what it needs lives in the coder its caller created (the stream coders'
// model, arena and buffers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/stack_switch.h"

namespace qex {

inline constexpr uint32_t kFinished = 0;
inline constexpr uint32_t kNeedInput = 1;
inline constexpr uint32_t kOutputFull = 2;

// Reach of the coroutine's stack: as deep as a default thread stack, so the
// model's deepest calls fit even with sanitizer-sized frames. Pages are only
// committed when touched.
inline constexpr size_t kCoroutineStackBytes = size_t{8} << 20;

struct CoroutineContext {
    uint32_t state = kFinished;
    bool finished = false;
    void (*body)(void* argument) = nullptr;
    void* argument = nullptr;
    SwitchableStack stack;
};

// Obtains the stack and prepares the first switch into `body(argument)`.
// Fails, with the system's error, when the stack cannot be obtained.
SystemStatus createCoroutine(CoroutineContext& context, void (*body)(void*), void* argument);

// Releases the stack; the body must not be resumed afterwards.
void destroyCoroutine(CoroutineContext& context);

// Worker side: runs the body until it suspends; returns its code.
uint32_t resume_coder(CoroutineContext& context);

// Coroutine side: suspends with `code` until the worker resumes it.
void switch_context(CoroutineContext& context, uint32_t code);

}  // namespace qex
