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

std::string withoutLongPathPrefix(std::string_view path) {
    constexpr std::string_view kNetworkPrefix = "UNC\\";
    if (!path.starts_with(kLongPathPrefix)) return std::string(path);
    const std::string_view rest = path.substr(kLongPathPrefix.size());
    if (rest.starts_with(kNetworkPrefix)) return "\\\\" + std::string(rest.substr(kNetworkPrefix.size()));
    return std::string(rest);
}

bool hasWildcards(std::string_view component) {
    return component.find_first_of("*?") != std::string_view::npos;
}

}  // namespace qex
