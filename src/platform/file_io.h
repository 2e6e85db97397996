// Plain file access for the data threads and the commands: open, create,
// read, write, seek, size, close.
//
// Every call reports failure through its result and the system's error code
// (errno on Linux, GetLastError on Windows), never by throwing;
// `systemReason` turns that code into the text shown to the user. Paths are
// native (paths.h); on Windows each is handed to the system as a full path
// behind the long-path prefix. Reads retry until the buffer is full or the file ends, so a short
// read always means the end of the file; writes retry until everything is
// written, so a write that returns success wrote every byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qex {

#ifdef _WIN32
// A HANDLE's value; INVALID_HANDLE_VALUE is -1.
using FileHandle = intptr_t;
#else
using FileHandle = int;
#endif
inline constexpr FileHandle kNoFile = -1;

// Text of a system error code ("No such file or directory").
std::string systemReason(int error);

// Opens an existing file for reading. Returns kNoFile and sets `error`
// when it cannot be opened.
FileHandle openForRead(const char* path, int& error);

// Creates a file for writing, replacing an existing one (truncated). New
// files get mode 0666 less the umask, as any file a user creates.
FileHandle createForWrite(const char* path, int& error);

// Reads up to `count` bytes; fewer only at the end of the file. Returns the
// count read, or -1 with `error` set.
int64_t readFull(FileHandle file, uint8_t* buffer, size_t count, int& error);

// Writes all `count` bytes. Returns false with `error` set when the system
// refuses or the device is full (a write that makes no progress is ENOSPC).
bool writeAll(FileHandle file, const uint8_t* data, size_t count, int& error);

// Moves the file position; `fromEnd` counts back from the end of the file.
// Returns the new position, or -1 with `error` set.
int64_t seekTo(FileHandle file, int64_t offset, int& error);
int64_t seekFromEnd(FileHandle file, int64_t offsetBack, int& error);

// Size of an open file in bytes, or -1 with `error` set.
int64_t fileSize(FileHandle file, int& error);

// Closes the handle. Returns false with `error` set when the system reports
// a failure (on some file systems the last write error shows only here).
// The handle is gone either way.
bool closeFile(FileHandle file, int& error);

}  // namespace qex
