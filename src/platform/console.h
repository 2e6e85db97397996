// Whether an output stream is a terminal (a console window on Windows):
// the progress display rewrites its status line in place only there.
#pragma once

#include <cstdio>

namespace qex {

bool isTerminal(std::FILE* stream);

}  // namespace qex
