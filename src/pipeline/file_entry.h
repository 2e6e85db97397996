// The part of a file's directory entry that the data threads read and fill.
//
// The front end owns these and hands their addresses down in the job
// records; an entry must not move or be touched by the front end from the
// moment its job is queued until the pipeline has stopped. On add the
// reader fills in the size and check values of the bytes that entered the
// stream; on extract the writer reads the times and attributes and fills in
// the check values of the bytes it wrote.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_io.h"

namespace qex {

struct FileEntry {
    // Add: bytes read into the stream. Extract: bytes the job takes from it.
    uint64_t size = 0;
    uint32_t crc = 0;
    uint32_t crcPlusOne = 0;
    uint16_t attributes = 0;
    uint64_t creationTime = 0;  // FILETIME; Linux cannot set it
    uint64_t lastWriteTime = 0;
    uint64_t lastAccessTime = 0;
    // Extract: check values over the bytes the file received, to compare
    // with `crc` and `crcPlusOne`; valid once the file's record reaches the
    // progress ring (and after the run).
    uint32_t writtenCrc = 0;
    uint32_t writtenCrcPlusOne = 0;
    // Extract: set by main before queueing: the bytes pass unwritten (test,
    // or a file not asked for); the check values are still computed.
    bool passThrough = false;
    bool written = false;   // all its bytes arrived, matched and stand under its name
    bool received = false;  // the file received all its bytes (written or passed through)
    bool damaged = false;   // its bytes did not all arrive, or they fail their check values
    // The job's bytes are a symbolic link's target (unix_mode.h). Add: the
    // reader reads the link at the job's path instead of opening it.
    // Extract: the writer makes a link of them instead of a file.
    bool symbolicLink = false;
    // Extract: the job's bytes are the archived path of an earlier file this
    // one is a further name of (unix_mode.h); the writer gathers them as a
    // link's target and the caller makes the hard link after the run.
    bool hardLink = false;
    // Add: the job's bytes are these, not read from its path (a hard link's
    // first name, unix_mode.h); the front end keeps them for the whole run.
    const std::string* givenBytes = nullptr;
    // Add: the file (or the link, opened as itself) that the walk opened
    // and found to be what it listed; the reader takes it over and closes
    // it, and never opens the job's name. kNoFile: the reader opens the
    // name itself (callers that queue named files, such as the
    // benchmarks).
    FileHandle source = kNoFile;
    // Add, set by the reader: nothing of the file entered the stream
    // because it could not be opened or its first read failed; its entry is
    // left out of the directory.
    bool unread = false;
};

}  // namespace qex
