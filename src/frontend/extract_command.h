// The extract command: recreates an archive's folders and files below an
// existing target folder (`runExtract` in commands.h).
//
// The directory is read and checked before anything is created; a refused
// archive creates nothing. The main thread then creates every folder in
// directory order and queues one job per file; the writer thread writes
// each file under a temporary name in its folder and renames it over its
// final name once all its bytes are there and match their check values, so
// an existing file is replaced, never written into. Symbolic links come
// last: their bytes are checked in stream order, but each link is made
// only once every file and folder of the run is in place, so nothing the
// run creates passes through a link it made. Of several items of one path
// the folder is kept, else the last (same_names.h). Nothing is ever created
// through a symbolic link that leaves the target. A folder that cannot be
// made is reported once, with the number of items below it, which are not
// tried. The first damaged file stops the run: it is named once with the
// count of items not restored, and folders made beyond it are removed
// again. Lines about single items are bounded. Last, a second pass sets the
// folders' times, which creating their contents changed.
//
// When items are named (item_selection.h), only they and the folders above
// them are created; the files before the last one asked for pass through
// the writer unwritten, and decoding stops once that file has its bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_layout.h"

namespace qex {

// Where each entry goes, relative to the target, found in one walk over
// the directory: an entry's path is the path of the folder it lies in and
// its own name. Folders are kept as links to their parent, not as paths,
// so the memory is a few words per entry however deep or long the names
// (a hostile archive's folder names can be tens of thousands of units
// long); a path is built when it is needed.
struct ItemPlaces {
    // Folder 0 is the target itself; then one per folder entry, in
    // directory order.
    std::vector<uint32_t> folderEntry;   // per folder: its entry
    std::vector<uint32_t> folderParent;  // per folder: the folder it lies in
    std::vector<uint32_t> folderOf;      // per entry: the folder it lies in
};

// The directory reader guarantees depth <= previous depth + 1, so every
// entry's folder is known when the entry is reached.
ItemPlaces placeItems(const std::vector<ArchiveEntry>& entries, const std::vector<std::u16string>& names);

// The relative native path of entry `k`.
std::string placeOf(const ItemPlaces& places, const std::vector<std::u16string>& names, size_t k);

}  // namespace qex
