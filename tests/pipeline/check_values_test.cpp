// Crc32 / Crc32PlusOne: known values, the byte-at-a-time defining rule, and
// the eight-bytes-per-step form against it on random data of every length
// and alignment, whole or in pieces.
#include "pipeline/check_values.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <vector>

namespace qex {
namespace {

const uint8_t* bytesOf(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

uint32_t slowCrc32(const uint8_t* data, size_t size, uint8_t add) {
    uint32_t c = 0;
    for (size_t i = 0; i < size; ++i) c = crc32Step(c, static_cast<uint8_t>(data[i] + add));
    return c;
}

TEST(CheckValues, KnownValuesOfStandardCheckStrings) {
    // The standard CRC-32 check value of the nine digits 1..9.
    const std::string_view digits = "123456789";
    uint32_t crc = 0, crcPlusOne = 0;
    updateCheckValues(crc, crcPlusOne, bytesOf(digits), digits.size());
    EXPECT_EQ(crc, 0xCBF43926u);
    EXPECT_EQ(slowCrc32(bytesOf(digits), digits.size(), 0), 0xCBF43926u);

    // abc, and abc with each byte plus one (bcd, the standard value of
    // which is 0xB01D5B79) for the second value.
    const std::string_view abc = "abc";
    crc = crcPlusOne = 0;
    updateCheckValues(crc, crcPlusOne, bytesOf(abc), abc.size());
    EXPECT_EQ(crc, 0x352441C2u);
    EXPECT_EQ(crcPlusOne, 0xB01D5B79u);
}

TEST(CheckValues, FastFormEqualsDefiningRuleOnRandomData) {
    std::mt19937 rng(20261207);
    std::vector<uint8_t> data(4099);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    // Every length up to 70 from several misaligned starts, then long runs.
    for (size_t start = 0; start < 9; ++start) {
        for (size_t size = 0; size <= 70; ++size) {
            const uint8_t* p = data.data() + start;
            uint32_t crc = 0, crcPlusOne = 0;
            updateCheckValues(crc, crcPlusOne, p, size);
            ASSERT_EQ(crc, slowCrc32(p, size, 0)) << "start " << start << " size " << size;
            ASSERT_EQ(crcPlusOne, slowCrc32(p, size, 1)) << "start " << start << " size " << size;
        }
    }
    // The whole buffer in two pieces (the first may be none, without a
    // buffer): the values carry across updates.
    for (size_t cut : {0u, 1u, 7u, 13u, 2000u}) {
        uint32_t crc = 0, crcPlusOne = 0;
        updateCheckValues(crc, crcPlusOne, cut == 0 ? nullptr : data.data(), cut);
        updateCheckValues(crc, crcPlusOne, data.data() + cut, data.size() - cut);
        EXPECT_EQ(crc, slowCrc32(data.data(), data.size(), 0)) << "cut " << cut;
        EXPECT_EQ(crcPlusOne, slowCrc32(data.data(), data.size(), 1)) << "cut " << cut;
    }
}

}  // namespace
}  // namespace qex
