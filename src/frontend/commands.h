// The two commands that do work. Each takes its paths exactly as the command
// line gave them (UTF-16) and the process's console (console_output.h), and
// returns the process's exit code: 0 when everything was archived or
// extracted, non-zero after reporting a failure on standard error.
#pragma once

#include <string>

#include "frontend/console_output.h"

namespace qex {

int runAdd(const std::u16string& archivePath, const std::u16string& sourcePath, ConsoleOutput& console);
int runExtract(const std::u16string& archivePath, const std::u16string& targetPath, ConsoleOutput& console);

}  // namespace qex
