// Whether an output stream is a terminal (a console window on Windows):
// the progress display rewrites its status line in place only there. And
// how console text (UTF-8) reaches a stream.
//
// On Linux the bytes are written as they are. On Windows a console is
// given the text as UTF-16 (WriteConsoleW), so every character it can show
// arrives; a redirected stream (a file, a pipe) gets the text in the
// console's output code page (the OEM code page when the process has no
// console), which is what the system's own tools and shells read from a
// program's output, and UTF-8 after "chcp 65001".
#pragma once

#include <cstdio>
#include <string_view>

namespace qex {

bool isTerminal(std::FILE* stream);

// Writes `utf8` to `stream` at once (what the stream buffered goes first).
// False when the write failed, with errno set.
bool writeText(std::FILE* stream, std::string_view utf8);

}  // namespace qex
