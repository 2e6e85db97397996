// Linux side of console.h: isatty on the stream's descriptor.
#include "platform/console.h"

#include <unistd.h>

namespace qex {

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

}  // namespace qex
