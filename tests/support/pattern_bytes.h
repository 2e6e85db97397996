// Reproducible bytes that do not compress: a seeded xorshift sequence, for
// files and streams whose contents a test compares after a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qex::test {

inline std::vector<uint8_t> patternBytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return bytes;
}

}  // namespace qex::test
