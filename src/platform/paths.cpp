// Joining and splitting native paths, the same on every system apart from
// the separator (see paths.h).
#include "platform/paths.h"

namespace qex {

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string result(folder);
    if (result.empty() || result.back() != kPathSeparator) result.push_back(kPathSeparator);
    result.append(name);
    return result;
}

size_t lastComponentStart(std::string_view path) {
    const size_t slash = path.rfind(kPathSeparator);
    return slash == std::string_view::npos ? 0 : slash + 1;
}

std::string_view withoutLongPathPrefix(std::string_view path) {
    return path.starts_with(kLongPathPrefix) ? path.substr(kLongPathPrefix.size()) : path;
}

bool hasWildcards(std::string_view component) {
    return component.find_first_of("*?") != std::string_view::npos;
}

}  // namespace qex
