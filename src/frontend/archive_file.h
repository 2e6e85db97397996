// An archive opened for a command (list, test, extract): opened once, its
// trailer and directory passed through the directory reader (the one gate
// for archives), the handle kept for the stream, so that the directory
// checked and the stream decoded come from one and the same file.
//
// "-" is standard input. Standard input, and any archive path that cannot
// be read at offsets (a FIFO, /dev/stdin on a pipe), is first copied into a
// private spool file (spool_file.h) and read from there; a terminal on
// standard input is refused.
#pragma once

#include <cstdint>
#include <string>

#include "archive/directory_reader.h"
#include "frontend/command_outcome.h"
#include "platform/file_io.h"

namespace qex {

struct OpenedArchive;
// Closes the handle if the archive still holds it (as its end does).
void closeArchive(OpenedArchive& archive);

// Holds its handle until a run takes it over, or until it goes.
struct OpenedArchive {
    FileHandle file = kNoFile;
    std::string path;  // for messages: as given ("-" for standard input)
    uint64_t bytes = 0;
    Directory directory;

    OpenedArchive() = default;
    OpenedArchive(const OpenedArchive&) = delete;
    OpenedArchive& operator=(const OpenedArchive&) = delete;
    ~OpenedArchive() { closeArchive(*this); }
};

// Fills `archive` and returns true; otherwise reports why ("cannot open
// archive", "cannot read archive", "invalid archive", …) as fatal, leaves
// nothing open and returns false.
bool openArchive(CommandOutcome& outcome, const std::string& path, OpenedArchive& archive);

// The handle, positioned at the stream's start, for a run that takes it
// over; `archive` no longer holds it. kNoFile (reported) when it cannot be
// positioned.
FileHandle takeArchiveStream(CommandOutcome& outcome, OpenedArchive& archive);

// Whether the regular file at `path` reads as a qex archive (its trailer
// and directory pass the gate), so that add may replace it. An empty file
// counts as one: it holds nothing to lose. False, with the system's
// reason in `error` when it could not be read at all.
bool readsAsArchive(const std::string& path, int& error);

}  // namespace qex
