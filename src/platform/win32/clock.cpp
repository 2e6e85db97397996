// Windows side of the tick: GetTickCount, which wraps after about 49.7 days.
#include "platform/clock.h"

#include <windows.h>

namespace qex {

uint32_t tickMilliseconds() { return GetTickCount(); }

}  // namespace qex
