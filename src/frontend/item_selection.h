// The items the extract command takes when the user names some: each named
// ITEM is an archived path as the listing shows it (folders joined by "/",
// a trailing "/" allowed) or a mask in which "*" and "?" match within one
// path component (never across "/"), with the matching rules of add's
// masks (on Windows without regard to case, as its file names and add's
// masks there; on Linux exactly). A matching folder brings everything
// below it; the folders above a matching item are taken too, so that it
// has a place to go.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "archive/directory_reader.h"
#include "frontend/command_outcome.h"

namespace qex {

struct ItemSelection {
    std::vector<bool> taken;        // per entry
    std::vector<bool> itemMatched;  // per named item: it matched at least one entry
    // One past the last file entry taken: decoding can stop once the files
    // before it have their bytes. 0 when no file is taken.
    size_t fileEntriesEnd = 0;
};

// True when `item` (a path or mask, components joined by "/") names the
// archived `path` itself.
bool itemNamesPath(std::u16string_view item, std::u16string_view path);

ItemSelection selectItems(const Directory& directory, const std::vector<std::u16string>& items);

// The entries the command's ITEM arguments take, with a warning for each
// item that matches none; an empty selection when no item is named (the
// command then takes every entry).
ItemSelection selectNamedItems(CommandOutcome& outcome, const Directory& directory,
                               const std::vector<std::u16string>& items);

}  // namespace qex
