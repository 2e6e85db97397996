// Extraction to standard output (`qex x ARCHIVE - [ITEM...]`): the contents
// of the files taken, concatenated in archive order, and nothing else
// there; console text goes to standard error. Folders and symbolic links
// give no bytes, and nothing is created on disk.
//
// The bytes of a file go out as they are decoded, before its check values
// can be compared: a file that fails them (or the stream ending inside it)
// is reported, exit 2, and nothing after it is written. A failed write (the
// reader has gone) stops at once, as a listing does, and is reported as
// for console text: once, exit 1.
#pragma once

#include <string>
#include <vector>

#include "frontend/archive_file.h"
#include "frontend/command_outcome.h"
#include "frontend/console_output.h"

namespace qex {

// Returns the command's exit code.
int extractContents(CommandOutcome& outcome, OpenedArchive& archive, const std::vector<std::u16string>& items,
                    ConsoleOutput& console);

}  // namespace qex
