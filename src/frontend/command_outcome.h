// How a command ends: the exit code, and the one line on standard error for
// every failure on the way.
//
// 0: success. 1: finished with warnings (some items could not be read,
// created or stamped; everything else is complete and correct). 2: fatal
// (the archive cannot be created, opened, read or written, its directory is
// invalid, a check value does not match, or the coder cannot start). The
// code only ever rises.
#pragma once

#include <cstdio>
#include <string_view>

namespace qex {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitWarnings = 1;
inline constexpr int kExitFatal = 2;

struct CommandOutcome {
    int exitCode = kExitSuccess;
    std::FILE* messages = stderr;
};

// Prints `qex: <what> "<path>": <reason>` (the path and the reason only when
// given) and raises the exit code to `level`.
void reportProblem(CommandOutcome& outcome, int level, std::string_view what,
                   std::string_view path, std::string_view reason);

// Prints `qex: "<path>" <what>` (what happened to one item) and raises the
// exit code to `level`.
void reportAboutItem(CommandOutcome& outcome, int level, std::string_view path, std::string_view what);

inline void reportWarning(CommandOutcome& outcome, std::string_view what, std::string_view path,
                          std::string_view reason = {}) {
    reportProblem(outcome, kExitWarnings, what, path, reason);
}

inline void reportFatal(CommandOutcome& outcome, std::string_view what, std::string_view path,
                        std::string_view reason = {}) {
    reportProblem(outcome, kExitFatal, what, path, reason);
}

// A note: printed like a problem, the exit code unchanged.
inline void reportNote(CommandOutcome& outcome, std::string_view what, std::string_view path = {},
                       std::string_view reason = {}) {
    reportProblem(outcome, kExitSuccess, what, path, reason);
}

}  // namespace qex
