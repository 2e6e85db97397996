// Where a command's console text goes (the command line's lines, the
// progress display), and whether it still can.
//
// Main makes one for the process and hands it down. Its stream is standard
// output, or standard error when the archive being written is standard
// output itself (`qex a /dev/stdout SRC | ...`): the archive then gets the
// stream to itself. Once a write to it fails (the reader of a pipe has
// gone, the disk is full), nothing more is written to it: the command goes
// on to its end, and the failure is reported once, on standard error, with
// exit code 1 at least.
//
// Only the main thread or the printer thread writes, never both at once;
// the flags are atomic so that either may see the other's failure.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>

namespace qex {

struct ConsoleOutput {
    std::FILE* stream = stdout;
    std::atomic<bool> failed{false};
    std::atomic<int> error{0};  // the system's code for the first failure
    bool reported = false;      // a command has reported the failure itself
    // -q: the command's name, its file lines and its status line are not
    // printed; what a command exists to print (a listing) still is, and
    // warnings and errors go to standard error as ever.
    bool quiet = false;
};

// True until a write has failed.
bool consoleUsable(const ConsoleOutput& console);

// Writes `text` in one call (so that lines of other writers to the same
// stream never cut into it); nothing once a write has failed.
void writeConsole(ConsoleOutput& console, std::string_view text);

// Pushes what is buffered to the stream; a failure counts as a failed write.
void flushConsole(ConsoleOutput& console);

// The end of the process's console use: flushes, and when any write failed
// reports it on `errors` (unless that is the stream that failed, or a
// command has reported it) and returns `exitCode` raised to 1; otherwise
// returns `exitCode`.
int finishConsole(ConsoleOutput& console, std::FILE* errors, int exitCode);

// True when `path` names the same file as standard output (so that an
// archive written there must not get console text mixed in).
bool isStandardOutput(const std::string& path);

}  // namespace qex
