// Console text with one failure rule (see console_output.h).
#include "frontend/console_output.h"

#include <cerrno>

#include "frontend/command_outcome.h"
#include "platform/console.h"
#include "platform/output_replacement.h"
#include "platform/standard_streams.h"
#include "platform/system_result.h"

namespace qex {

namespace {

void noteFailure(ConsoleOutput& console) {
    const int error = errno != 0 ? errno : EIO;
    bool expected = false;
    if (console.failed.compare_exchange_strong(expected, true)) console.error.store(error);
}

}  // namespace

bool consoleUsable(const ConsoleOutput& console) { return !console.failed.load(std::memory_order_acquire); }

void writeConsole(ConsoleOutput& console, std::string_view text) {
    if (!consoleUsable(console) || text.empty()) return;
    errno = 0;
    if (!writeText(console.stream, text)) noteFailure(console);
}

void flushConsole(ConsoleOutput& console) {
    if (!consoleUsable(console)) return;
    errno = 0;
    if (std::fflush(console.stream) != 0) noteFailure(console);
}

int finishConsole(ConsoleOutput& console, std::FILE* errors, int exitCode) {
    flushConsole(console);
    if (consoleUsable(console)) return exitCode;
    if (console.stream != errors && !console.reported) {
        const std::string line = "qex: cannot write to standard output: " + systemReason(console.error.load()) + "\n";
        writeText(errors, line);
        std::fflush(errors);
    }
    return exitCode > kExitWarnings ? exitCode : kExitWarnings;
}

bool isStandardOutput(const std::string& path) {
    const SystemResult<OutputPlace> place = examineOutputPlace(path);
    const FileIdentity out = identityOfStandardOutput();
    return place.ok() && place.value.existing.known && out.known && place.value.existing.device == out.device &&
           place.value.existing.inode == out.inode;
}

}  // namespace qex
