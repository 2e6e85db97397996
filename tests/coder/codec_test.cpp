// The whole coder over memory: golden streams from independent encoders,
// round trips over varied inputs, restarts in step on both sides, and
// decoding of damaged or random streams that always ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "coder/memory_codec.h"
#include "support/file_bytes.h"

namespace qex {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes compress(const Bytes& in, CodecStats* stats = nullptr, size_t arena = kArenaBytes) {
    Bytes out;
    EXPECT_TRUE(compressBuffer(in.data(), in.size(), out, stats, arena));
    return out;
}

Bytes decompress(const Bytes& stream, CodecStats* stats = nullptr, size_t arena = kArenaBytes,
                 size_t maxOutput = SIZE_MAX) {
    Bytes out;
    EXPECT_TRUE(decompressBuffer(stream.data(), stream.size(), out, stats, arena, maxOutput));
    return out;
}

// The root codes the end symbol as [256, 257) of 257; the flush writes the
// leading 00 and the withheld bytes.
TEST(Codec, EmptyInputGivesSixByteStream) {
    const Bytes stream = compress({});
    EXPECT_EQ(stream, (Bytes{0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00}));
    CodecStats stats;
    EXPECT_TRUE(decompress(stream, &stats).empty());
    EXPECT_EQ(stats.streamBytes, 6u);
    EXPECT_TRUE(stats.sawEndSymbol);
}

// 0x61 is [97, 98) of 257 in the root; the root then has total 261 and the
// end symbol is [260, 261) of 261.
TEST(Codec, SingleByteGivesSevenByteStream) {
    const Bytes stream = compress({0x61});
    EXPECT_EQ(stream, (Bytes{0x00, 0x61, 0x9D, 0x67, 0x7E, 0x98, 0x00}));
    CodecStats stats;
    EXPECT_EQ(decompress(stream, &stats), Bytes{0x61});
    EXPECT_EQ(stats.streamBytes, 7u);
}

class GoldenStream : public ::testing::TestWithParam<const char*> {};

TEST_P(GoldenStream, EncodesToTheIndependentStreamAndBack) {
    const std::string name = GetParam();
    const Bytes input = test::readWholeFile(std::string(QEX_GOLDEN_INPUTS) + "/" + name);
    const Bytes golden = test::readWholeFile(std::string(QEX_TEST_DATA) + "/golden/streams/" + name + ".qs");
    ASSERT_FALSE(golden.empty()) << "missing golden stream for " << name;
    CodecStats enc;
    const Bytes stream = compress(input, &enc);
    ASSERT_EQ(stream.size(), golden.size());
    size_t firstDiff = 0;
    while (firstDiff < stream.size() && stream[firstDiff] == golden[firstDiff]) ++firstDiff;
    EXPECT_EQ(firstDiff, stream.size()) << "first differing stream byte";
    EXPECT_EQ(enc.restarts, 0u);
    CodecStats dec;
    EXPECT_EQ(decompress(golden, &dec), input);
    EXPECT_EQ(dec.streamBytes, golden.size());
    EXPECT_TRUE(dec.sawEndSymbol);
}

INSTANTIATE_TEST_SUITE_P(AllSmallInputs, GoldenStream,
                         ::testing::Values("empty.bin", "a.bin", "allbytes.bin", "prose.txt", "records.bin",
                                           "runs.bin", "noise.bin"),
                         [](const auto& info) {
                             std::string n = info.param;
                             return n.substr(0, n.find('.'));
                         });

void expectRoundTrip(const Bytes& input, size_t arena = kArenaBytes, uint32_t minRestarts = 0) {
    CodecStats enc;
    const Bytes stream = compress(input, &enc, arena);
    CodecStats dec;
    const Bytes back = decompress(stream, &dec, arena);
    ASSERT_EQ(back.size(), input.size());
    EXPECT_TRUE(back == input);
    EXPECT_EQ(dec.streamBytes, stream.size());
    EXPECT_TRUE(dec.sawEndSymbol);
    EXPECT_GE(enc.restarts, minRestarts);
    EXPECT_EQ(dec.restarts, enc.restarts);
    EXPECT_EQ(dec.restartAfter, enc.restartAfter);
}

TEST(CodecRoundTrip, VariedInputs) {
    std::mt19937 rng(99);
    Bytes every;
    for (int r = 0; r < 3; ++r)
        for (int b = 0; b < 256; ++b) every.push_back(uint8_t(b));
    Bytes run(300000, 0x41);
    Bytes random(200000);
    for (auto& b : random) b = uint8_t(rng());
    Bytes text;
    const char* words[] = {"the ", "model ", "context ", "of ", "a ", "stream ", "escape\n", "order "};
    while (text.size() < 300000) {
        const char* w = words[rng() % 8];
        text.insert(text.end(), w, w + std::strlen(w));
    }
    expectRoundTrip({});
    expectRoundTrip({0});
    expectRoundTrip({0xFF, 0xFF});
    expectRoundTrip(every);
    expectRoundTrip(run);
    expectRoundTrip(random);
    expectRoundTrip(text);
    Bytes exe = test::readWholeFile("/proc/self/exe");  // executable code
    ASSERT_GT(exe.size(), 10000u);
    exe.resize(std::min<size_t>(exe.size(), 1500000));
    expectRoundTrip(exe);
}

// A 256 KiB arena runs out after a few tens of kilobytes: many restarts,
// which must happen after the same bytes on both sides.
TEST(CodecRoundTrip, SmallArenaRestartsInStep) {
    std::mt19937 rng(5);
    Bytes input;
    while (input.size() < 2000000) {
        const int kind = rng() % 3;
        for (int i = 0; i < 5000; ++i)
            input.push_back(kind == 0 ? uint8_t(rng()) : kind == 1 ? uint8_t('a' + rng() % 20) : uint8_t(i));
    }
    expectRoundTrip(input, 256 * 1024, 3);
}

TEST(CodecDamage, TruncatedStreamsEndAndReadNoFurther) {
    const Bytes input = test::readWholeFile(std::string(QEX_GOLDEN_INPUTS) + "/prose.txt");
    const Bytes prefix(input.begin(), input.begin() + 200000);
    const Bytes stream = compress(prefix);
    for (size_t cut : {size_t(0), size_t(1), size_t(5), stream.size() / 2}) {
        CodecStats dec;
        const Bytes back = decompress(Bytes(stream.begin(), stream.begin() + cut), &dec, kArenaBytes, 1 << 22);
        EXPECT_NE(back, prefix) << cut;
        EXPECT_EQ(dec.streamBytes, cut);
    }
    // The decoder is fed zeros past the end, as the pipeline does, so a cut
    // that only loses trailing zero bytes of the flush loses nothing.
    size_t zeros = 0;
    while (stream[stream.size() - 1 - zeros] == 0) ++zeros;
    CodecStats dec;
    EXPECT_EQ(decompress(Bytes(stream.begin(), stream.end() - zeros), &dec), prefix);
    EXPECT_TRUE(dec.sawEndSymbol);
}

TEST(CodecDamage, RandomAndFlippedStreamsAlwaysEnd) {
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 20; ++trial) {
        Bytes junk(1 + rng() % 20000);
        for (auto& b : junk) b = uint8_t(rng());
        // Whatever junk decodes to, a smaller output cap cuts the same bytes short.
        const Bytes out = decompress(junk, nullptr, kArenaBytes, 1 << 20);
        const Bytes capped = decompress(junk, nullptr, kArenaBytes, 1000);
        EXPECT_EQ(capped, Bytes(out.begin(), out.begin() + std::min<size_t>(out.size(), 1000))) << trial;
    }
    const Bytes input = test::readWholeFile(std::string(QEX_GOLDEN_INPUTS) + "/records.bin");
    const Bytes stream = compress(Bytes(input.begin(), input.begin() + 100000));
    for (size_t at : {size_t(3), size_t(100), stream.size() / 3, stream.size() - 3}) {
        Bytes flipped = stream;
        flipped[at] ^= 0x10;
        const Bytes out = decompress(flipped, nullptr, kArenaBytes, 1 << 20);
        // A flip early in the stream changes what comes out; one among the
        // final flush bytes may fall inside the last interval and change nothing.
        if (at < stream.size() / 2) {
            EXPECT_NE(out, Bytes(input.begin(), input.begin() + 100000)) << at;
        }
    }
}

TEST(CodecDamage, OutputCapEndsDecoding) {
    const Bytes stream = compress(Bytes(100000, 7));
    const Bytes out = decompress(stream, nullptr, kArenaBytes, 1000);
    EXPECT_EQ(out.size(), 1000u);
    EXPECT_EQ(out, Bytes(1000, 7));
}

}  // namespace
}  // namespace qex
