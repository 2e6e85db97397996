// An archive file's directory, read for a command: opens the file, passes
// its trailer and directory through the directory reader (the one gate for
// archives) and reports a failure the way every command does.
#pragma once

#include <cstdint>
#include <string>

#include "archive/directory_reader.h"
#include "frontend/command_outcome.h"

namespace qex {

// Fills `directory` (and `archiveBytes`, the file's size) and returns true;
// otherwise reports "cannot open archive", "cannot read archive" or
// "invalid archive" as fatal and returns false.
bool loadArchiveDirectory(CommandOutcome& outcome, const std::string& archivePath, Directory& directory,
                          uint64_t& archiveBytes);

// Whether the regular file at `path` reads as a qex archive (its trailer
// and directory pass the gate), so that add may replace it. An empty file
// counts as one: it holds nothing to lose. False, with the system's
// reason in `error` when it could not be read at all.
bool readsAsArchive(const std::string& path, int& error);

}  // namespace qex
