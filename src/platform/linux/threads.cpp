// Linux side of the thread services: nanosleep.
#include "platform/threads.h"

#include <cerrno>
#include <ctime>

namespace qex {

void sleepMilliseconds(uint32_t milliseconds) {
    timespec left{};
    left.tv_sec = milliseconds / 1000;
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace qex
