// The add command: makes a new archive from a folder, a folder's contents,
// or the items matching a mask (`runAdd` in commands.h).
//
// The main thread walks the source depth first, a folder's entry before its
// contents, items in NTFS listing order, and builds the directory in memory;
// every non-empty file becomes a job for the reader thread, whose bytes the
// coder compresses into the archive from its first byte on. When the
// pipeline has stopped, the directory and trailer are appended.
//
// Several sources are added in the order given, each at depth 0 in its own
// form (two giving the same top-level name: a warning, both kept). Three
// source forms, told apart by the path alone:
//   folder            -> the folder itself at depth 0, its contents below it
//   folder/           -> the folder's contents at depth 0
//   mask or one file  -> every matching item at depth 0; folders entered
//
// Left out, each with a warning: FIFOs, sockets and devices (opening one
// could block forever), files larger than an entry's size field holds
// (kMaxFileBytes), and the contents of folders at the deepest depth an entry
// holds (kMaxDepth) or of a folder that is one of its own ancestors (a link
// loop). The archive itself is never added
// (neither the file being written nor an older archive it replaces).
//
// Add reads only what it listed, never through a link. Each folder is held
// open (listing.h) and listed through that handle; each item is opened
// through its folder without following a link (only a source named on the
// command line is followed) and compared with what the listing saw before
// anything of it is read (opening_listed.h). An item that is no longer the
// one listed, or that cannot be opened or listed, is reported and gets no
// entry; so does a file of which the reader could read nothing (its entry
// is dropped when the directory is written, after the stream). The archive
// never holds something other than what was listed, nor an empty stand-in
// for what could not be read.
//
// Nothing is written before every source has been resolved and listed: a
// missing source, a mask that matches nothing or the archive named as its
// own source is fatal, and the file at the archive's path stays as it was.
// The archive is written to a temporary beside its final name and renamed
// over it once complete (output_replacement.h); a failure or an interrupt
// removes only the temporary. A final name that is not a regular file (a
// pipe, a device) is written directly and never removed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frontend/command_line.h"
#include "frontend/console_output.h"

#include "archive/archive_layout.h"

namespace qex {

// Deepest folder whose contents are still walked: they lie one level below.
inline constexpr uint32_t kMaxEnteredDepth = kMaxDepth - 1;

// Where a test holds the walk: `afterListing` is called with a folder's
// path once the folder (or a source's folder) is listed and before any of
// its items is opened, which is when another user could swap them. The
// program sets none.
struct AddWalkHooks {
    std::function<void(const std::string& folderPath)> afterListing;
};

// runAdd (commands.h) with the walk's hooks.
int runAddWithHooks(const std::u16string& archivePath, const std::vector<std::u16string>& sources,
                    const CommandOptions& options, ConsoleOutput& console, const AddWalkHooks& hooks);

}  // namespace qex
