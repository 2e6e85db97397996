// Windows side of console.h: a console handle answers GetConsoleMode; a
// file, a pipe or the NUL device does not.
#include "platform/console.h"

#include <io.h>
#include <windows.h>

namespace qex {

bool isTerminal(std::FILE* stream) {
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

}  // namespace qex
