// Range coder: exact bytes of small streams, carries through withheld 0xFF
// runs, one- and two-byte normalisation, and random round trips.
#include "coder/range_coder.h"

#include <gtest/gtest.h>

#include "support/vector_coder_io.h"

#include <random>
#include <vector>

namespace qex {
namespace {


using Bytes = std::vector<uint8_t>;

TEST(RangeEncoder, EndSymbolAloneGivesSixBytes) {
    // range 0xFFFFFFFF / 257 = 0xFF00FF; low = 256 * that = 0xFF00FF00, whose
    // top byte 0xFF is withheld; the flush writes the leading 00, the withheld
    // FF, then the rest of low (00 FF 00 00 with one more FF withheld).
    VectorCoderIo v;
    RangeEncoder e;
    init(e, v.io);
    encode(e, 256, 1, 257);
    flush(e);
    EXPECT_EQ(v.bytes, (Bytes{0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00}));
}

TEST(RangeEncoder, SingleByteAndEndSymbolGiveSevenBytes) {
    VectorCoderIo v;
    RangeEncoder e;
    init(e, v.io);
    encode(e, 97, 1, 257);
    encode(e, 260, 1, 261);
    flush(e);
    EXPECT_EQ(v.bytes, (Bytes{0x00, 0x61, 0x9D, 0x67, 0x7E, 0x98, 0x00}));
}

TEST(RangeEncoder, CarryTurnsWithheldFFRunIntoZeros) {
    VectorCoderIo v;
    RangeEncoder e;
    init(e, v.io);
    e.cache = 0x12;
    e.pendingCount = 5;
    e.low = 0xFFFFFFF0;
    e.range = 0x01000000;
    // Adding 0x20 overflows low: the carry increments cache and clears the run.
    encode(e, 0x20, 1, 1 << 8);  // r = 0x10000, start * r = 0x200000 overflows
    flush(e);
    ASSERT_GE(v.bytes.size(), 7u);
    EXPECT_EQ(v.bytes[0], 0x13);
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(v.bytes[i], 0x00) << i;
}

TEST(RangeEncoder, WithheldFFRunWithoutCarryIsWrittenAsFF) {
    VectorCoderIo v;
    RangeEncoder e;
    init(e, v.io);
    e.cache = 0x12;
    e.pendingCount = 3;
    e.low = 0x10000000;
    flush(e);
    ASSERT_GE(v.bytes.size(), 5u);
    EXPECT_EQ(v.bytes[0], 0x12);
    EXPECT_EQ(v.bytes[1], 0xFF);
    EXPECT_EQ(v.bytes[2], 0xFF);
    EXPECT_EQ(v.bytes[3], 0xFF);
    EXPECT_EQ(v.bytes[4], 0x10);
}

TEST(RangeEncoder, RangeOf0x10000ShiftsOneByteAnd0xFFFFShiftsTwo) {
    {
        VectorCoderIo v;
        RangeEncoder e;
        init(e, v.io);
        e.range = 0x10000 * 4;
        encode(e, 0, 1, 4);  // range becomes exactly 0x10000
        EXPECT_EQ(e.range, 0x1000000u);
        EXPECT_EQ(v.bytes.size(), 1u);  // the leading 00 from the first shift
    }
    {
        VectorCoderIo v;
        RangeEncoder e;
        init(e, v.io);
        e.range = 0xFFFF * 3;
        encode(e, 0, 1, 3);  // range becomes 0xFFFF
        EXPECT_EQ(e.range, 0xFFFF0000u);
        EXPECT_EQ(v.bytes.size(), 2u);
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
    const uint32_t bound = (d.range >> 15) * (2 * 100);
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
