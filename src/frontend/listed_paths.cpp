// Lists of paths to add (see listed_paths.h).
#include "frontend/listed_paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/file_io.h"
#include "platform/paths.h"

namespace qex {
namespace {

bool isSeparator(char c) { return c == '/' || c == kPathSeparator; }

// The length of the root that starts `path` ("/"; on Windows also "C:\" or
// "C:"), 0 for a relative path.
size_t rootLength(std::string_view path) {
    if (kHasDriveLetters && path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
        return path.size() > 2 && isSeparator(path[2]) ? 3 : 2;
    return !path.empty() && isSeparator(path[0]) ? 1 : 0;
}

}  // namespace

std::vector<std::string> splitList(std::string_view bytes, bool nullSeparated) {
    std::vector<std::string> paths;
    const char end = nullSeparated ? '\0' : '\n';
    while (!bytes.empty()) {
        const size_t stop = std::min(bytes.find(end), bytes.size());
        std::string_view entry = bytes.substr(0, stop);
        if (!nullSeparated && !entry.empty() && entry.back() == '\r') entry.remove_suffix(1);
        if (!entry.empty()) paths.emplace_back(entry);
        bytes.remove_prefix(std::min(stop + 1, bytes.size()));
    }
    return paths;
}

void addListedPath(ListedPaths& paths, std::string_view path, const std::string& currentFolder) {
    const size_t root = rootLength(path);
    std::string base = currentFolder;
    if (root != 0) {
        paths.strippedRoot = true;
        base = std::string(path.substr(0, root));
        if (!isSeparator(base.back())) base.push_back(kPathSeparator);
        for (char& c : base)
            if (c == '/') c = kPathSeparator;
    }
    std::vector<std::string_view> components;
    for (size_t at = root; at < path.size();) {
        size_t stop = at;
        while (stop < path.size() && !isSeparator(path[stop])) ++stop;
        const std::string_view component = path.substr(at, stop - at);
        if (component == "..") {
            paths.refused.emplace_back(path);
            return;
        }
        if (!component.empty() && component != ".") components.push_back(component);
        at = stop + 1;
    }
    auto tree = std::find_if(paths.trees.begin(), paths.trees.end(),
                             [&base](const ListedTree& t) { return t.base == base; });
    if (tree == paths.trees.end()) {
        paths.trees.push_back({base, {}});
        tree = paths.trees.end() - 1;
    }
    ListedNode* node = &tree->root;
    for (const std::string_view component : components) {
        if (node->whole) break;  // already taken with everything below it
        node = &node->children[std::string(component)];
    }
    node->whole = true;
    node->children.clear();
    ++paths.count;
}

bool readList(const std::string& path, std::string& bytes, int& error) {
    error = 0;
    bytes.clear();
    uint8_t buffer[65536];
    if (path == "-") {
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
            bytes.append(reinterpret_cast<const char*>(buffer), got);
        if (std::ferror(stdin)) {
            error = errno != 0 ? errno : EIO;
            return false;
        }
        return true;
    }
    const SystemResult<FileHandle> opened = openNamedForRead(path.c_str());
    if (!opened.ok()) {
        error = opened.error;
        return false;
    }
    for (;;) {
        const SystemResult<size_t> got = readFull(opened.value, buffer, sizeof buffer);
        if (!got.ok()) error = got.error;
        if (!got.ok() || got.value == 0) break;
        bytes.append(reinterpret_cast<const char*>(buffer), got.value);
        if (got.value < sizeof buffer) break;
    }
    ignoreFailure(closeFile(opened.value));  // only read from
    return error == 0;
}

}  // namespace qex
