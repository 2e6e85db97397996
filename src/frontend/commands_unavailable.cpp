// Stand-ins for the add and extract commands in builds that lack them: they
// say so on standard error and fail, so that no caller mistakes them for
// success.
#include <cstdio>

#include "frontend/commands.h"

namespace qex {

// Exit code of a command that cannot run in this build.
constexpr int kUnavailableExitCode = 2;

int runAdd(const std::u16string&, const std::u16string&) {
    std::fputs("qex: the add command is not available in this build\n", stderr);
    return kUnavailableExitCode;
}

int runExtract(const std::u16string&, const std::u16string&) {
    std::fputs("qex: the extract command is not available in this build\n", stderr);
    return kUnavailableExitCode;
}

}  // namespace qex
