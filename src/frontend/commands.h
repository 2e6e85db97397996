// The two commands that do work. Each takes its paths exactly as the command
// line gave them (UTF-16) and returns the process's exit code: 0 when
// everything was archived or extracted, non-zero after reporting a failure on
// standard error.
#pragma once

#include <string>

namespace qex {

int runAdd(const std::u16string& archivePath, const std::u16string& sourcePath);
int runExtract(const std::u16string& archivePath, const std::u16string& targetPath);

}  // namespace qex
