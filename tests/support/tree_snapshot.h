// What a folder tree holds, read without qex's own file services: every item
// below a root by its relative path, described well enough to notice any
// change to it. Links are described, never followed.
#pragma once

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/file_bytes.h"

namespace qex::test {

// "folder", "file <content>", "link to <target>" or "other".
inline std::string describeItem(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    const fs::file_status status = fs::symlink_status(path);
    if (fs::is_symlink(status)) return "link to " + fs::read_symlink(path).string();
    if (fs::is_directory(status)) return "folder";
    if (fs::is_regular_file(status)) return "file " + readFileBytes(path);
    return "other";
}

// Every item below `root`, described by describeItem. `skip`, a folder
// below the root, is listed but not entered (a target another check
// covers). A tree that cannot be read throws, failing the test.
inline std::map<std::string, std::string> treeItems(const std::filesystem::path& root,
                                                    const std::filesystem::path& skip = {}) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> items;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (!skip.empty() && it->path() == skip) it.disable_recursion_pending();
        items[it->path().lexically_relative(root).string()] = describeItem(it->path());
    }
    return items;
}

// The names directly in `folder`, sorted, hidden ones included (a
// temporary left behind shows here).
inline std::vector<std::string> namesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(folder))
        names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace qex::test
