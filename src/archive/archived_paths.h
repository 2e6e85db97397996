// The path of each entry below the archive's base, folders joined by "/"
// whatever the system: what the listing shows and what the items named to
// the extract command are matched against.
//
// Entries come in pre-order and a depth rises by at most one from one entry
// to the next (the directory reader guarantees both), so one string holds
// the path of the current entry and each folder's prefix stays in place
// while the entries below it are walked.
#pragma once

#include <string>
#include <vector>

#include "archive/archive_layout.h"

namespace qex {

struct ArchivedPathWalker {
    std::u16string path;
    std::vector<size_t> prefixAt;  // prefixAt[d]: length of the path before an item at depth d
};

// The path of the next entry in directory order; valid until the next call.
const std::u16string& nextArchivedPath(ArchivedPathWalker& walker, const ArchiveEntry& entry,
                                       const std::u16string& name);

// For each of `paths` (as nextArchivedPath spells them), the last entry of
// `entries` whose path it is, or SIZE_MAX when none is. One pass over the
// directory; memory only for the paths asked about.
std::vector<size_t> lastEntriesOf(const std::vector<ArchiveEntry>& entries, const std::vector<std::u16string>& names,
                                  const std::vector<std::u16string>& paths);

}  // namespace qex
