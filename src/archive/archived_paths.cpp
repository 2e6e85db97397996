// Entry paths in directory order; see archived_paths.h.
#include "archive/archived_paths.h"

namespace qex {

const std::u16string& nextArchivedPath(ArchivedPathWalker& walker, const ArchiveEntry& entry,
                                       const std::u16string& name) {
    const size_t depth = entry.depth;
    if (walker.prefixAt.size() < depth + 2) walker.prefixAt.resize(depth + 2, 0);
    // The parent folder's path is still in place: every entry since it lay
    // below it and changed only what follows its prefix.
    walker.path.resize(walker.prefixAt[depth]);
    if (depth > 0) walker.path.back() = u'/';
    walker.path += name;
    if (isFolder(entry)) walker.prefixAt[depth + 1] = walker.path.size() + 1;
    return walker.path;
}

}  // namespace qex
