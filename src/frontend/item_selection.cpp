// Choosing the entries named on the extract command line; see
// item_selection.h.
#include "frontend/item_selection.h"

#include "archive/archived_paths.h"
#include "platform/listing.h"
#include "platform/paths.h"
#include "platform/text_conversion.h"

namespace qex {
namespace {

// The item as the listing would show it: the system's separator as "/",
// no trailing "/".
std::u16string normalisedItem(std::u16string item) {
    for (char16_t& unit : item)
        if (unit == static_cast<char16_t>(kPathSeparator)) unit = u'/';
    while (!item.empty() && item.back() == u'/') item.pop_back();
    return item;
}

}  // namespace

bool itemNamesPath(std::u16string_view item, std::u16string_view path) {
    for (;;) {
        const size_t itemEnd = item.find(u'/');
        const size_t pathEnd = path.find(u'/');
        if (!matchesWildcards(item.substr(0, itemEnd), path.substr(0, pathEnd), kNamesIgnoreCase)) return false;
        if (itemEnd == std::u16string_view::npos || pathEnd == std::u16string_view::npos)
            return itemEnd == pathEnd;
        item.remove_prefix(itemEnd + 1);
        path.remove_prefix(pathEnd + 1);
    }
}

ItemSelection selectItems(const Directory& directory, const std::vector<std::u16string>& items) {
    std::vector<std::u16string> wanted;
    for (const std::u16string& item : items) wanted.push_back(normalisedItem(item));
    ItemSelection selection;
    const std::vector<ArchiveEntry>& entries = directory.entries;
    selection.taken.assign(entries.size(), false);
    selection.itemMatched.assign(wanted.size(), false);
    ArchivedPathWalker walker;
    // Per depth: the entry of the folder the current item lies in, and
    // whether a named item selected that folder (and so all below it).
    std::vector<size_t> folderAt;
    std::vector<bool> selectedAt(1, false);
    for (size_t k = 0; k < entries.size(); ++k) {
        const ArchiveEntry& entry = entries[k];
        const size_t depth = entry.depth;
        const std::u16string& path = nextArchivedPath(walker, entry, directory.names[k]);
        bool selected = selectedAt[depth];
        for (size_t i = 0; i < wanted.size(); ++i) {
            if (!wanted[i].empty() && itemNamesPath(wanted[i], path)) {
                selection.itemMatched[i] = true;
                selected = true;
            }
        }
        if (isFolder(entry)) {
            folderAt.resize(depth + 1);
            folderAt[depth] = k;
            selectedAt.resize(depth + 2);
            selectedAt[depth + 1] = selected;
        }
        if (!selected) continue;
        selection.taken[k] = true;
        if (!isFolder(entry)) selection.fileEntriesEnd = k + 1;
        // The folders above it, up to the first one already taken.
        for (size_t d = depth; d > 0 && !selection.taken[folderAt[d - 1]]; --d)
            selection.taken[folderAt[d - 1]] = true;
    }
    return selection;
}

ItemSelection selectNamedItems(CommandOutcome& outcome, const Directory& directory,
                               const std::vector<std::u16string>& items) {
    if (items.empty()) return {};
    ItemSelection selection = selectItems(directory, items);
    for (size_t i = 0; i < items.size(); ++i)
        if (!selection.itemMatched[i]) reportWarning(outcome, "no archived item matches", utf16ToNative(items[i]));
    return selection;
}

}  // namespace qex
