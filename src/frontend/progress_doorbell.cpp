// ProgressDoorbell operations (see progress_doorbell.h).
#include "frontend/progress_doorbell.h"

#include <chrono>

namespace qex {

uint32_t callsSoFar(ProgressDoorbell& bell) {
    std::lock_guard<std::mutex> hold(bell.lock);
    return bell.calls;
}

void callDisplay(ProgressDoorbell& bell) {
    {
        std::lock_guard<std::mutex> hold(bell.lock);
        ++bell.calls;
    }
    bell.moved.notify_all();
}

void awaitCall(ProgressDoorbell& bell, uint32_t ticket, uint32_t milliseconds) {
    std::unique_lock<std::mutex> hold(bell.lock);
    bell.moved.wait_for(hold, std::chrono::milliseconds(milliseconds), [&] { return bell.calls != ticket; });
}

}  // namespace qex
