// The paths of -T/--files-from, read and merged into trees for the add
// command's walk.
//
// A list holds one path a line (a CR before the LF is dropped), or with
// --null one path per NUL-ended entry; empty entries are skipped. Each path
// keeps its folders: "src/a.c" stores the folder "src" and the file a.c
// below it, every folder once however many listed paths lie in it. A
// relative path is found from the current folder; an absolute one from the
// root, stored without its leading "/" (on Windows its drive too). "." and
// empty components are dropped; a path with a ".." component is refused,
// since it would leave the tree it is stored in. A listed folder brings
// everything below it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qex {

// One component of the listed paths. `whole`: listed itself, so taken with
// everything below it; otherwise only the listed paths below it are.
struct ListedNode {
    bool whole = false;
    std::map<std::string, ListedNode> children;  // by native name
};

// The paths found from one place: the current folder, or a root.
struct ListedTree {
    std::string base;  // a full native path ending with a separator
    ListedNode root;
};

struct ListedPaths {
    std::vector<ListedTree> trees;  // in the order their first path was listed
    bool strippedRoot = false;      // some path was absolute
    std::vector<std::string> refused;  // paths with "..", as listed
    size_t count = 0;                  // paths taken
};

// Splits a list's bytes into its paths.
std::vector<std::string> splitList(std::string_view bytes, bool nullSeparated);

// Adds one listed path. `currentFolder` is the full path of the current
// folder, ending with a separator.
void addListedPath(ListedPaths& paths, std::string_view path, const std::string& currentFolder);

// Reads all of a list: the file at `path`, or standard input for "-".
// False with the system's error code when it cannot be read.
bool readList(const std::string& path, std::string& bytes, int& error);

}  // namespace qex
