// Lexical path resolution against the current folder on Linux (see paths.h
// and lexical_paths.h).
#include "platform/paths.h"

#include "platform/linux/lexical_paths.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace qex {

std::string resolvePath(std::string_view currentFolder, std::string_view path) {
    std::string joined;
    if (path.empty() || path.front() != kPathSeparator) {
        joined.assign(currentFolder);
        joined.push_back(kPathSeparator);
    }
    joined.append(path);
    const bool trailingSeparator = !path.empty() && path.back() == kPathSeparator;

    // Split into components, dropping empty ones and "."; ".." removes the
    // previous component (and nothing at the root).
    std::vector<std::string_view> parts;
    std::string_view rest(joined);
    while (!rest.empty()) {
        const size_t cut = rest.find(kPathSeparator);
        const std::string_view part = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }

    std::string result;
    for (const std::string_view part : parts) {
        result.push_back(kPathSeparator);
        result.append(part);
    }
    if (result.empty() || trailingSeparator) result.push_back(kPathSeparator);
    return result;
}

SystemResult<std::string> fullPath(std::string_view path) {
    std::string current;
    if (path.empty() || path.front() != kPathSeparator) {
        // getcwd is asked with a growing buffer: folders can be deeper than
        // any fixed limit.
        std::vector<char> buffer(4096);
        while (getcwd(buffer.data(), buffer.size()) == nullptr) {
            if (errno != ERANGE) return {{}, errno};
            buffer.resize(buffer.size() * 2);
        }
        current = buffer.data();
    }
    return {resolvePath(current, path), 0};
}

std::string unfitNameReason(std::u16string_view) { return {}; }

}  // namespace qex
