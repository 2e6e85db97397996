// Windows side of the thread services: Sleep.
#include "platform/threads.h"

#include <windows.h>

namespace qex {

void sleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace qex
