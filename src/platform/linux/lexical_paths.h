// Linux's full paths are made lexically (paths.h); the resolution itself is
// exposed here for its tests.
#pragma once

#include <string>
#include <string_view>

namespace qex {

// Resolves `path` against `currentFolder` (itself a full path) lexically.
// ".." at the root stays at the root. The result is never empty.
std::string resolvePath(std::string_view currentFolder, std::string_view path);

}  // namespace qex
