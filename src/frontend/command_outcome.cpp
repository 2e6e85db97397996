// Failure lines and exit codes (see command_outcome.h).
#include "frontend/command_outcome.h"

#include <string>

#include "platform/text_conversion.h"

namespace qex {

namespace {

void writeLine(CommandOutcome& outcome, int level, std::string& line) {
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), outcome.messages);
    std::fflush(outcome.messages);
    if (level > outcome.exitCode) outcome.exitCode = level;
}

}  // namespace

void reportAboutItem(CommandOutcome& outcome, int level, std::string_view path, std::string_view what) {
    std::string line = "qex: \"";
    line.append(nativeToConsole(path));
    line.append("\" ");
    line.append(what);
    writeLine(outcome, level, line);
}

void reportProblem(CommandOutcome& outcome, int level, std::string_view what,
                   std::string_view path, std::string_view reason) {
    // Built whole and written at once, so that lines never interleave.
    std::string line = "qex: ";
    line.append(what);
    if (!path.empty()) {
        line.append(" \"");
        line.append(nativeToConsole(path));
        line.push_back('"');
    }
    if (!reason.empty()) {
        line.append(": ");
        line.append(reason);
    }
    writeLine(outcome, level, line);
}

}  // namespace qex
