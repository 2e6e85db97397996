// Entry paths in directory order; see archived_paths.h.
#include "archive/archived_paths.h"

#include <cstdint>
#include <unordered_map>

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

std::vector<size_t> lastEntriesOf(const std::vector<ArchiveEntry>& entries, const std::vector<std::u16string>& names,
                                  const std::vector<std::u16string>& paths) {
    std::unordered_map<std::u16string, size_t> found;  // path -> its last entry so far
    for (const std::u16string& path : paths) found.emplace(path, SIZE_MAX);
    ArchivedPathWalker walker;
    for (size_t k = 0; k < entries.size() && k < names.size(); ++k) {
        const auto wanted = found.find(nextArchivedPath(walker, entries[k], names[k]));
        if (wanted != found.end()) wanted->second = k;
    }
    std::vector<size_t> last;
    last.reserve(paths.size());
    for (const std::u16string& path : paths) last.push_back(found[path]);
    return last;
}

}  // namespace qex
