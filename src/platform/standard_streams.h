// The process's standard streams, made safe before anything else happens.
//
// A descriptor 0, 1 or 2 that was closed when the process started would be
// taken by the first file opened (the archive, say), and console text would
// land inside it; each closed one is opened on the null device instead, so
// that files never take those numbers. A broken pipe (the reader of
// standard output has gone) is an ordinary write error, not the end of the
// process: the commands finish and report it. So is a file grown past the
// size limit (ulimit -f): the write fails with "File too large" and the
// failure path runs (message, temporaries removed, old archive kept).
//
// On Windows the standard handles are not numbers files can take, and
// there is no broken-pipe signal: both calls do nothing there.
#pragma once

#include "platform/file_identity.h"

namespace qex {

// Call first thing in main, before any file is opened or any thread starts.
void makeStandardStreamsSafe();

// Which file standard output is (unknown when it is closed or unusable).
FileIdentity identityOfStandardOutput();

}  // namespace qex
