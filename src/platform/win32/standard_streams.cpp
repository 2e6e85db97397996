// Windows side of the standard streams (see standard_streams.h): nothing to
// make safe; standard output's identity from its handle.
#include "platform/standard_streams.h"

#include "platform/win32/system_paths.h"

namespace qex {

using namespace win32;

void makeStandardStreamsSafe() {}

FileIdentity identityOfStandardOutput() {
    const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return {};
    return identityOfFile(fileOf(handle));
}

}  // namespace qex
