// Removing an unfinished output file when the process is interrupted.
//
// While a run's handlers are installed (once per run, never per file) and a
// file is armed, an interrupt (SIGINT, SIGTERM, SIGHUP or SIGQUIT) removes
// the armed file, provided its name still names the item that was armed (so
// an item that has taken the name since is left alone), and then ends the
// process by the same signal, so that whoever started it sees how it ended.
// A signal the process was told to ignore (nohup) stays ignored.
//
// On Windows the interrupts are the console's: Ctrl+C, Ctrl+Break and the
// console closing, answered by a control handler on a thread of its own.
//
// No moment exists at which an armed item is on disk but an interrupt
// would leave it: the slot is armed *before* the item is created
// (armBeforeCreating) and told when it exists (armedCreationDone). While
// an item is being created the creating thread holds the interrupts off,
// and a handler running on any other thread waits until the creation is
// over, then removes what was created. After an interrupt nothing more can
// be armed, so nothing more is created.
//
// Signals and console handlers belong to the whole process, so there is one
// slot, one armed item at a time. It is a fixed buffer read by the handler
// at any moment and written only while the handler cannot look at it; the
// handler uses only async-signal-safe calls (fstatat, unlinkat, signal,
// raise, sched_yield) and atomics that are always lock-free.
#pragma once

#include "platform/file_io.h"

namespace qex {

// The handlers for one run: installed once, restored to what was there
// before when the run ends.
void installInterruptHandlers();
void restoreInterruptHandlers();

struct InterruptHandlersForRun {
    InterruptHandlersForRun() { installInterruptHandlers(); }
    ~InterruptHandlersForRun() { restoreInterruptHandlers(); }
    InterruptHandlersForRun(const InterruptHandlersForRun&) = delete;
    InterruptHandlersForRun& operator=(const InterruptHandlersForRun&) = delete;
};

enum class Arming {
    armed,        // create the item, then call armedCreationDone
    busy,         // another item is armed: create this one unprotected
    interrupted,  // an interrupt has come: create nothing
};

// Arms removal of `name` in the open `folder` (kNoFile: `name` is a path)
// before the caller creates it there, and then holds the interrupts off
// this thread until armedCreationDone. A name longer than the slot holds
// is never removed by an interrupt.
Arming armBeforeCreating(FileHandle folder, const char* name);

// The creation armed by armBeforeCreating is over: `created` says whether
// the item now exists; `file`, when open, is it (otherwise the name is
// looked at, links not followed). Lets the interrupts in again.
void armedCreationDone(bool created, FileHandle file = kNoFile);

// Arms removal of `path`, the existing regular file open as `file`. False
// (nothing armed) when the file cannot be examined or is not a regular file.
bool armRemovalOnInterrupt(const char* path, FileHandle file);

// Disarms: the armed item is the caller's again (closing the folder it is
// in, putting it in place). When an interrupt is removing it right now,
// this never returns: the process is ending.
void disarmRemovalOnInterrupt();

}  // namespace qex
