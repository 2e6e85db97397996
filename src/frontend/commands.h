// The four commands. Each takes the archive path and the paths after it
// exactly as the command line gave them (UTF-16) and the process's console
// (console_output.h), and returns the process's exit code: 0 when
// everything was done, non-zero after reporting a failure on standard error
// (command_outcome.h).
#pragma once

#include <string>
#include <vector>

#include "frontend/console_output.h"

namespace qex {

// "-" as the archive: standard input for extract, test and list, standard
// output for add; as extract's target: the files' contents go to standard
// output. Console text then goes to standard error.
inline constexpr char kStandardStreamArgument[] = "-";

// paths: one or more sources, each added at the top level in its own form.
int runAdd(const std::u16string& archivePath, const std::vector<std::u16string>& sources, ConsoleOutput& console);
// paths: the target folder (default: the current folder), then the items to
// extract (default: all).
int runExtract(const std::u16string& archivePath, const std::vector<std::u16string>& paths, ConsoleOutput& console);
// paths: none.
int runTest(const std::u16string& archivePath, const std::vector<std::u16string>& paths, ConsoleOutput& console);
int runList(const std::u16string& archivePath, const std::vector<std::u16string>& paths, ConsoleOutput& console);

}  // namespace qex
