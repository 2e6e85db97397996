// The extract command: recreates an archive's folders and files below an
// existing target folder (`runExtract` in commands.h).
//
// The directory is read and checked before anything is created; a refused
// archive creates nothing. The main thread then creates every folder in
// directory order and queues one job per file; the writer thread creates
// each file within the target, fills it with the next bytes of the decoded
// stream and stamps it. Nothing is ever created through a symbolic link
// that leaves the target. Once the pipeline has stopped, every file's check
// values are compared with the stored ones (a mismatch is fatal), and a
// second pass sets the folders' times, which creating their contents
// changed.
//
// When items are named (item_selection.h), only they and the folders above
// them are created; the files before the last one asked for pass through
// the writer unwritten, and decoding stops once that file has its bytes.
#pragma once

#include <string>
#include <vector>

#include "frontend/archive_layout.h"

namespace qex {

// Where each entry goes, relative to the target: the path of the folder at
// each depth is kept, so an entry's path is its parent's path and its name.
struct ItemPlacer {
    std::vector<std::string> folderAt;  // folderAt[d]: path of items at depth d, ending with "/" (empty at 0)
};

// The relative native path of an entry at `depth` named `name`; for a folder
// it becomes the place of the entries below it.
std::string placeItem(ItemPlacer& placer, uint8_t depth, const std::u16string& name, bool folder);

}  // namespace qex
