// Range coder: carries through withheld 0xFF runs, one- and two-byte
// normalisation, the binary decision's bound, and random round trips. (The
// exact bytes of the smallest streams are pinned by the codec's tests.)
#include "coder/range_coder.h"

#include <gtest/gtest.h>

#include "support/vector_coder_io.h"

#include <random>
#include <tuple>
#include <vector>

namespace qex {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(RangeEncoder, CarryTurnsWithheldFFRunIntoZerosAndNoCarryWritesItAsFF) {
    // The cached byte 0x12 and a run of withheld 0xFF bytes: adding 0x20 to
    // a low of 0xFFFFFFF0 overflows (r = 0x10000, start * r = 0x200000), the
    // carry raises the cache and clears the run; without a carry they go out
    // as they are.
    for (const bool carry : {true, false}) {
        SCOPED_TRACE(carry);
        VectorCoderIo v;
        RangeEncoder e;
        init(e, v.io);
        e.cache = 0x12;
        e.pendingCount = 3;
        e.low = carry ? 0xFFFFFFF0 : 0x10000000;
        e.range = 0x01000000;
        if (carry) encode(e, 0x20, 1, 1 << 8);
        flush(e);
        ASSERT_GE(v.bytes.size(), 5u);
        const Bytes expected = carry ? Bytes{0x13, 0, 0, 0} : Bytes{0x12, 0xFF, 0xFF, 0xFF, 0x10};
        EXPECT_EQ(Bytes(v.bytes.begin(), v.bytes.begin() + expected.size()), expected);
    }
}

TEST(RangeEncoder, RangeOf0x10000ShiftsOneByteAnd0xFFFFShiftsTwo) {
    // {range after the symbol, range after normalising, bytes out (the
    // first is the leading 00)}.
    for (const auto& [range, normalised, shifted] : {std::tuple{0x10000u, 0x1000000u, size_t{1}},
                                                     std::tuple{0xFFFFu, 0xFFFF0000u, size_t{2}}}) {
        VectorCoderIo v;
        RangeEncoder e;
        init(e, v.io);
        e.range = range * 4;
        encode(e, 0, 1, 4);
        EXPECT_EQ(e.range, normalised) << range;
        EXPECT_EQ(v.bytes.size(), shifted) << range;
    }
}

TEST(RangeEncoder, BinaryHitLeavesLowUnchanged) {
    VectorCoderIo v;
    RangeEncoder e;
    init(e, v.io);
    e.low = 0x12345678;
    encodeBinary(e, 8000, true);
    EXPECT_EQ(e.low, 0x12345678u);
    encodeBinary(e, 8000, false);
    EXPECT_NE(e.low, 0x12345678u);
}

TEST(RangeDecoder, CodeEqualToBinaryBoundIsAMiss) {
    VectorCoderIo v;
    RangeDecoder d;
    init(d, v.io);  // all zeros
    d.range = 0x80000000;
    const uint32_t bound = 0xC80000;  // where probability 100 ends at this range
    d.code = bound;
    EXPECT_FALSE(decodeBinary(d, 100));
    d.range = 0x80000000;
    d.code = bound - 1;
    EXPECT_TRUE(decodeBinary(d, 100));
}

TEST(RangeCoder, RandomIntervalsAndDecisionsRoundTripExactly) {
    std::mt19937 rng(12345);
    struct Step {
        bool binary;
        uint32_t a, b, total;
    };
    std::vector<Step> steps;
    for (int i = 0; i < 200000; ++i) {
        if (rng() % 3 == 0) {
            const uint32_t p = 1 + rng() % 16383;
            steps.push_back({true, p, uint32_t(rng() % 2), 0});
        } else {
            const uint32_t total = 1 + uint32_t(rng() % 65535);
            const uint32_t start = uint32_t(rng() % total);
            const uint32_t size = 1 + uint32_t(rng() % (total - start));
            steps.push_back({false, start, size, total});
        }
    }
    VectorCoderIo v;
    RangeEncoder e;
    init(e, v.io);
    for (const Step& s : steps) {
        if (s.binary) encodeBinary(e, s.a, s.b != 0);
        else encode(e, s.a, s.b, s.total);
    }
    flush(e);
    const size_t written = v.bytes.size();

    RangeDecoder d;
    init(d, v.io);
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        if (s.binary) {
            ASSERT_EQ(decodeBinary(d, s.a), s.b != 0) << i;
        } else {
            const uint32_t count = getCount(d, s.total);
            ASSERT_GE(count, s.a) << i;
            ASSERT_LT(count, s.a + s.b) << i;
            consume(d, s.a, s.b);
        }
    }
    // Five bytes to prime, one per byte shift: exactly what the encoder wrote.
    EXPECT_EQ(v.readPos, written);
}

}  // namespace
}  // namespace qex
