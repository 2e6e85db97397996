// Removing an unfinished output file when the process is interrupted.
//
// While armed, an interrupt (SIGINT, SIGTERM, SIGHUP or SIGQUIT) removes the file at
// the armed path, provided the path still names the file that was armed (so
// a file that has taken its name since is left alone), and then ends the
// process by the same signal, so that whoever started it sees how it ended.
// A signal the process was told to ignore (nohup) stays ignored.
//
// On Windows the interrupts are the console's: Ctrl+C, Ctrl+Break and the
// console closing, answered by a control handler.
//
// Signals and console handlers belong to the whole process, so there is one
// armed file at a time. The handler uses only async-signal-safe calls (lstat, unlink,
// signal, raise); the path is copied when arming, never in the handler.
#pragma once

#include "platform/file_io.h"

namespace qex {

// Arms removal of `path`, the regular file open as `file`. False (nothing
// armed) when the file cannot be examined, is not a regular file, or the
// handlers cannot be installed.
bool armRemovalOnInterrupt(const char* path, FileHandle file);

// Disarms and restores the signal dispositions that were in place before.
void disarmRemovalOnInterrupt();

}  // namespace qex
