// The four commands. Each takes the archive path and the paths after it
// exactly as the command line gave them (UTF-16), what the switches ask
// (command_line.h; only add takes any but -q) and the process's console
// (console_output.h), and returns the process's exit code: 0 when
// everything was done, non-zero after reporting a failure on standard error
// (command_outcome.h).
#pragma once

#include <string>
#include <vector>

#include "frontend/command_line.h"
#include "frontend/console_output.h"

namespace qex {

// paths: one or more sources, each added at the top level in its own form.
int runAdd(const std::u16string& archivePath, const std::vector<std::u16string>& sources,
           const CommandOptions& options, ConsoleOutput& console);
// paths: the target folder (default: the current folder), then the items to
// extract (default: all).
int runExtract(const std::u16string& archivePath, const std::vector<std::u16string>& paths,
           const CommandOptions& options, ConsoleOutput& console);
// paths: none.
int runTest(const std::u16string& archivePath, const std::vector<std::u16string>& paths,
           const CommandOptions& options, ConsoleOutput& console);
int runList(const std::u16string& archivePath, const std::vector<std::u16string>& paths,
           const CommandOptions& options, ConsoleOutput& console);

}  // namespace qex
