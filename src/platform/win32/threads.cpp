// Windows side of the thread services: Sleep and SetThreadAffinityMask.
#include "platform/threads.h"

#include <windows.h>

namespace qex {

void sleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

void bindCurrentThreadToFirstProcessor() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    DWORD_PTR first = 1;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        first = process & (~process + 1);  // the lowest processor the process may use
    (void)SetThreadAffinityMask(GetCurrentThread(), first);
}

}  // namespace qex
