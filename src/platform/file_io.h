// Plain file access for the data threads and the commands: open, create,
// read, write, seek, size, close.
//
// Every call reports failure through its result (system_result.h), never
// by throwing. Paths are native (paths.h); on Windows each is handed to the
// system as a full path behind the long-path prefix. Reads retry until the
// buffer is full or the file ends, so a short read always means the end of
// the file; writes retry until everything is written, so a write that
// succeeds wrote every byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/system_result.h"
#include "system/system_facts.h"

namespace qex {

// FileHandle (a descriptor, or a HANDLE's value) comes with the system's
// facts; either way -1 is no file.
inline constexpr FileHandle kNoFile = -1;

// Opens an existing file for reading; never waits, not even at a named pipe.
SystemResult<FileHandle> openForRead(const char* path);

// Opens a file the user named to be read as a stream (an archive, a list of
// paths): a named pipe there waits for its first writer, as any reader of
// one does, instead of reading the end before the writer came.
SystemResult<FileHandle> openNamedForRead(const char* path);

// Creates a file for writing, replacing an existing one (truncated). New
// files get mode 0666 less the umask, as any file a user creates.
SystemResult<FileHandle> createForWrite(const char* path);

// Reads up to `count` bytes; fewer only at the end of the file. The value
// is the count read.
SystemResult<size_t> readFull(FileHandle file, uint8_t* buffer, size_t count);

// Writes all `count` bytes. Fails when the system refuses or the device is
// full (a write that makes no progress is ENOSPC).
SystemStatus writeAll(FileHandle file, const uint8_t* data, size_t count);

// Moves the file position to `offset` from the start; the value is the new
// position.
SystemResult<int64_t> seekTo(FileHandle file, int64_t offset);

// Size of an open file in bytes.
SystemResult<int64_t> fileSize(FileHandle file);

// Closes the handle. Fails when the system reports a failure (on some file
// systems the last write error shows only here). The handle is gone either
// way.
SystemStatus closeFile(FileHandle file);

}  // namespace qex
