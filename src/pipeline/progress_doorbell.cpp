// ProgressDoorbell operations (see progress_doorbell.h).
#include "pipeline/progress_doorbell.h"

#include <chrono>

namespace qex {

namespace {

void bump(ProgressDoorbell& bell, uint32_t ProgressDoorbell::*count) {
    {
        std::lock_guard<std::mutex> hold(bell.lock);
        ++(bell.*count);
    }
    bell.moved.notify_all();
}

void awaitMove(ProgressDoorbell& bell, uint32_t ProgressDoorbell::*count, uint32_t ticket,
               uint32_t milliseconds) {
    std::unique_lock<std::mutex> hold(bell.lock);
    bell.moved.wait_for(hold, std::chrono::milliseconds(milliseconds),
                        [&] { return bell.*count != ticket; });
}

uint32_t countOf(ProgressDoorbell& bell, uint32_t ProgressDoorbell::*count) {
    std::lock_guard<std::mutex> hold(bell.lock);
    return bell.*count;
}

}  // namespace

uint32_t callsSoFar(ProgressDoorbell& bell) { return countOf(bell, &ProgressDoorbell::calls); }
uint32_t drainsSoFar(ProgressDoorbell& bell) { return countOf(bell, &ProgressDoorbell::drains); }
void callDisplay(ProgressDoorbell& bell) { bump(bell, &ProgressDoorbell::calls); }
void announceDrain(ProgressDoorbell& bell) { bump(bell, &ProgressDoorbell::drains); }

void awaitCall(ProgressDoorbell& bell, uint32_t ticket, uint32_t milliseconds) {
    awaitMove(bell, &ProgressDoorbell::calls, ticket, milliseconds);
}

void awaitDrain(ProgressDoorbell& bell, uint32_t ticket, uint32_t milliseconds) {
    awaitMove(bell, &ProgressDoorbell::drains, ticket, milliseconds);
}

}  // namespace qex
