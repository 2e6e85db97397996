// Paths in the native form (bytes, "/" as the separator).
//
// A full path is made lexically: the current folder joined with a relative
// path, "." and ".." components and repeated separators resolved, symbolic
// links left alone. A trailing separator is kept, because it means "the
// folder's contents" to the add command. Joining never doubles a separator,
// so the root "/" can be a target like any other folder.
#pragma once

#include <string>
#include <string_view>

namespace qex {

inline constexpr char kPathSeparator = '/';

// Resolves `path` against `currentFolder` (itself a full path) lexically.
// ".." at the root stays at the root. The result is never empty.
std::string resolvePath(std::string_view currentFolder, std::string_view path);

// Resolves `path` against the process's current folder. Returns false (and
// sets errno) only when the current folder cannot be determined.
bool fullPath(std::string_view path, std::string& result);

// `folder` + "/" + `name`, without a second separator when `folder` already
// ends with one.
std::string joinPath(std::string_view folder, std::string_view name);

// The index just after the last separator of `path` (0 when there is none):
// where the last component starts.
size_t lastComponentStart(std::string_view path);

// True when `component` holds a wildcard ("*" or "?").
bool hasWildcards(std::string_view component);

}  // namespace qex
