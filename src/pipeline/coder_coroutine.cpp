// The coder coroutine on the platform's switchable stack: the body runs
// there and suspends with a code; the worker resumes it until it is done.
#include "pipeline/coder_coroutine.h"

namespace qex {

namespace {

void coroutineEntry(void* argument) {
    auto* context = static_cast<CoroutineContext*>(argument);
    context->body(context->argument);
    context->finished = true;
    switch_context(*context, kFinished);
    // A finished body is never resumed: the stack's entry never returns.
}

}  // namespace

SystemStatus createCoroutine(CoroutineContext& context, void (*body)(void*), void* argument) {
    context = CoroutineContext{};
    context.body = body;
    context.argument = argument;
    return createStack(context.stack, kCoroutineStackBytes, &coroutineEntry, &context);
}

void destroyCoroutine(CoroutineContext& context) { destroyStack(context.stack); }

uint32_t resume_coder(CoroutineContext& context) {
    if (context.finished) return kFinished;
    enterStack(context.stack);
    return context.state;
}

void switch_context(CoroutineContext& context, uint32_t code) {
    context.state = code;
    leaveStack(context.stack, code == kFinished);
}

}  // namespace qex
