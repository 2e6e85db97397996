// Linux side of console.h: isatty on the stream's descriptor; text written
// as it is.
#include "platform/console.h"

#include <unistd.h>

namespace qex {

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

bool writeText(std::FILE* stream, std::string_view utf8) {
    return std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
}

}  // namespace qex
