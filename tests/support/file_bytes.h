// Whole files as byte strings, read and written through the C++ library, for
// tests that check what a run left on disk without going through qex's own
// file services.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qex::test {

inline std::string readFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline void writeFileBytes(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

}  // namespace qex::test
