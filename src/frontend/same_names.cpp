// The same-path rule of extraction (see same_names.h).
//
// Folders are first made canonical: every folder entry is mapped to the
// first folder entry of its path, found by its canonical parent and its
// name, so that two folder entries of one path count as one. Files and
// links are then looked up by the same key. The maps hold views of the
// directory's names: no path is ever built, whatever the depth.
#include "frontend/same_names.h"

#include <algorithm>
#include <functional>
#include <string_view>
#include <unordered_map>

namespace qex {
namespace {

struct PlaceKey {
    uint32_t folder;  // the canonical folder it lies in
    std::u16string_view name;
    bool operator==(const PlaceKey&) const = default;
};

struct PlaceKeyHash {
    size_t operator()(const PlaceKey& key) const {
        return std::hash<std::u16string_view>()(key.name) ^ (size_t{key.folder} * 0x9E3779B97F4A7C15u);
    }
};

}  // namespace

std::vector<SameNameVerdict> sameNameVerdicts(const std::vector<ArchiveEntry>& entries,
                                              const std::vector<std::u16string>& names, const ItemPlaces& places,
                                              const std::vector<bool>& taken) {
    const size_t count = std::min(entries.size(), places.folderOf.size());
    const auto isTaken = [&](size_t k) { return taken.empty() || taken[k]; };
    std::vector<uint32_t> canonical(places.folderEntry.size(), 0);  // per folder
    std::vector<bool> folderKept(places.folderEntry.size(), false);  // per canonical folder
    std::unordered_map<PlaceKey, uint32_t, PlaceKeyHash> folders;
    folders.reserve(places.folderEntry.size());
    for (uint32_t folder = 1; folder < places.folderEntry.size(); ++folder) {
        const uint32_t k = places.folderEntry[folder];
        const PlaceKey key{canonical[places.folderParent[folder]], names[k]};
        canonical[folder] = folders.try_emplace(key, folder).first->second;
        if (isTaken(k)) folderKept[canonical[folder]] = true;
    }
    std::unordered_map<PlaceKey, uint32_t, PlaceKeyHash> lastFile;  // the last file entry of each path
    for (size_t k = 0; k < count; ++k)
        if (!isFolder(entries[k]) && isTaken(k))
            lastFile.insert_or_assign(PlaceKey{canonical[places.folderOf[k]], names[k]}, static_cast<uint32_t>(k));

    std::vector<SameNameVerdict> verdicts(entries.size(), SameNameVerdict::kept);
    for (size_t k = 0; k < count; ++k) {
        if (isFolder(entries[k]) || !isTaken(k)) continue;
        const PlaceKey key{canonical[places.folderOf[k]], names[k]};
        if (const auto folder = folders.find(key); folder != folders.end() && folderKept[folder->second])
            verdicts[k] = SameNameVerdict::folderWins;
        else if (lastFile.at(key) != k)
            verdicts[k] = SameNameVerdict::laterReplaces;
    }
    return verdicts;
}

}  // namespace qex
