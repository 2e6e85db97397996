// Archives that cannot be read at offsets (standard input, a pipe, a FIFO):
// their bytes are copied once into a spool file, which can.
//
// The spool is private to the user (0600 on Linux, the user's own temporary
// folder on Windows), lies in the temporary folder (TMPDIR, else /tmp; on
// Windows TMP or TEMP), and has no name anyone could open or that could be
// left behind: on Linux it is unlinked before a byte is written (O_TMPFILE
// where the file system has it), on Windows it is deleted when its handle
// closes, which the system does however the process ends.
#pragma once

#include "platform/file_io.h"
#include "platform/system_result.h"

namespace qex {

// Whether `file` can be read at any offset (a regular file or a disk).
bool readsAtOffsets(FileHandle file);

// An empty spool file, open for reading and writing.
SystemResult<FileHandle> createSpoolFile();

// Standard input and output as handles of their own: closing one leaves
// the stream itself open.
SystemResult<FileHandle> duplicateStandardInput();
SystemResult<FileHandle> duplicateStandardOutput();

// Whether standard input is a terminal (nobody types an archive).
bool standardInputIsTerminal();

}  // namespace qex
