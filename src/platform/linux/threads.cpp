// Linux side of the thread services: nanosleep and the affinity mask.
#include "platform/threads.h"

#include <pthread.h>
#include <sched.h>

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

void bindCurrentThreadToFirstProcessor() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::pthread_getaffinity_np(::pthread_self(), sizeof allowed, &allowed) != 0) return;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        (void)::pthread_setaffinity_np(::pthread_self(), sizeof one, &one);
        return;
    }
}

}  // namespace qex
