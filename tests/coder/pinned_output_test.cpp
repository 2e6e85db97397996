// Pinned output: the exact size and a hash of the stream for a few inputs
// made inside the test. Any change to the model or the coder that alters a
// single output byte fails here and must be reviewed as a format change.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "coder/memory_codec.h"

namespace qex {
namespace {

using Bytes = std::vector<uint8_t>;

// A fixed generator (64-bit linear congruential), the same on every machine.
struct Lcg {
    uint64_t s;
    uint32_t next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(s >> 33);
    }
};

uint64_t fnv1a(const Bytes& b) {
    uint64_t h = 14695981039346656037ull;
    for (uint8_t x : b) {
        h ^= x;
        h *= 1099511628211ull;
    }
    return h;
}

Bytes textLike() {
    Lcg r{1};
    const char* words[] = {"archive ", "folder ", "the ", "of ", "stream ", "model ", "context ",
                           "and ",     "a ",      "is ",  "byte ", "order ",  "escape. ", "\n"};
    Bytes out;
    while (out.size() < 200000) {
        const std::string w = words[std::min(r.next() % 14, r.next() % 14)];
        out.insert(out.end(), w.begin(), w.end());
    }
    return out;
}

Bytes binaryLike() {
    Lcg r{2};
    Bytes out;
    while (out.size() < 200000) {
        // Records: a little-endian counter, a small opcode, random operands.
        const uint32_t n = uint32_t(out.size() / 12);
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(n >> (8 * i)));
        out.push_back(uint8_t(0x48 + r.next() % 4));
        out.push_back(0x89);
        for (int i = 0; i < 6; ++i) out.push_back(r.next() % 3 == 0 ? uint8_t(r.next()) : 0);
    }
    return out;
}

Bytes runs() {
    Lcg r{3};
    Bytes out;
    while (out.size() < 200000) out.insert(out.end(), 1 + r.next() % 3000, uint8_t(r.next() % 5));
    return out;
}

struct Pinned {
    const char* name;
    Bytes (*make)();
    size_t streamBytes;
    uint64_t streamHash;
};

TEST(PinnedOutput, StreamsKeepTheirSizeAndHash) {
    const Pinned pinned[] = {
        // Recorded from the encoder whose streams equal the independent golden
        // streams byte for byte.
        {"text", textLike, 16628, 0x3bbb26af8158c478ull},
        {"binary", binaryLike, 86577, 0x8b665fdd50f2f679ull},
        {"runs", runs, 374, 0x92109bb41286faddull},
    };
    for (const Pinned& p : pinned) {
        const Bytes input = p.make();
        Bytes stream;
        ASSERT_TRUE(compressBuffer(input.data(), input.size(), stream));
        EXPECT_EQ(stream.size(), p.streamBytes) << p.name;
        EXPECT_EQ(fnv1a(stream), p.streamHash) << p.name << " hash 0x" << std::hex << fnv1a(stream);
        Bytes back;
        ASSERT_TRUE(decompressBuffer(stream.data(), stream.size(), back));
        EXPECT_TRUE(back == input) << p.name;
    }
}

}  // namespace
}  // namespace qex
