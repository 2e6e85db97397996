// Which of several archived items of the same path extraction keeps.
//
// An archive can name one path twice (two sources that overlap, or a
// hostile archive). The rule does not depend on the order of the entries
// or on the timing of the threads that create them:
//   - a folder is kept over every file and symbolic link of its path; they
//     are refused with a message and their bytes pass through unwritten;
//   - among files and links of one path, the last in the archive is kept
//     and the earlier ones pass through unwritten, without a message.
// Folders of one path are one folder: what lies below each lands in it.
// Paths are compared as the archive spells them (a system that ignores
// case may still see two of them as one: its own check then applies).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_layout.h"
#include "frontend/extract_command.h"

namespace qex {

enum class SameNameVerdict : uint8_t {
    kept,           // nothing else of its path is kept instead
    laterReplaces,  // a later file or link of the same path is kept instead
    folderWins,     // a folder of the same path is kept instead
};

// Per entry. Only the entries `taken` holds count (all when it is empty).
std::vector<SameNameVerdict> sameNameVerdicts(const std::vector<ArchiveEntry>& entries,
                                              const std::vector<std::u16string>& names, const ItemPlaces& places,
                                              const std::vector<bool>& taken);

}  // namespace qex
