// Crc32 and Crc32PlusOne, eight bytes per step.
//
// The complemented running value c and the usual CRC register r are each
// other's complement (r = ~c), so the buffer routines complement on entry and
// exit and run the classic eight-table form on r in between. Both values are
// computed in the same loop over the same loaded words; the "plus one" bytes
// are formed eight at a time without carries between bytes. The results are
// identical to crc32Step applied byte by byte.
#include "pipeline/check_values.h"

#include <array>
#include <bit>
#include <cstring>

namespace qex {
namespace {

constexpr uint32_t kReflectedPolynomial = 0xEDB88320u;
constexpr int kSlices = 8;

using Table = std::array<uint32_t, 256>;

// S: the usual table of the reflected polynomial.
constexpr Table makeRegisterTable() {
    Table s{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t v = i;
        for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? (v >> 1) ^ kReflectedPolynomial : v >> 1;
        s[i] = v;
    }
    return s;
}

// T[i ^ 0xFF] = S[i] ^ 0xFF000000: the table of the complemented form.
constexpr Table makeComplementedTable(const Table& s) {
    Table t{};
    for (uint32_t i = 0; i < 256; ++i) t[i ^ 0xFF] = s[i] ^ 0xFF000000u;
    return t;
}

// slices[k][i]: the register contribution of byte value i followed by k zero bytes.
constexpr std::array<Table, kSlices> makeSlices(const Table& s) {
    std::array<Table, kSlices> slices{};
    slices[0] = s;
    for (int k = 1; k < kSlices; ++k)
        for (uint32_t i = 0; i < 256; ++i)
            slices[k][i] = (slices[k - 1][i] >> 8) ^ s[slices[k - 1][i] & 0xFF];
    return slices;
}

constexpr Table kRegisterTable = makeRegisterTable();
constexpr Table kComplementedTable = makeComplementedTable(kRegisterTable);
constexpr std::array<Table, kSlices> kSliceTables = makeSlices(kRegisterTable);

constexpr bool kWordAtATime = std::endian::native == std::endian::little;

uint32_t registerStep(uint32_t r, uint8_t b) { return (r >> 8) ^ kRegisterTable[(r ^ b) & 0xFF]; }

// Eight bytes (little-endian word w) through the register r.
uint32_t registerWord(uint32_t r, uint64_t w) {
    const auto& t = kSliceTables;
    const uint32_t lo = static_cast<uint32_t>(w) ^ r;
    const uint32_t hi = static_cast<uint32_t>(w >> 32);
    return t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
           t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
}

// Every byte of w increased by one, modulo 256: the low seven bits take the
// increment (their carry lands in bit 7 at most), bit 7 is then flipped back.
uint64_t plusOneEachByte(uint64_t w) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    return ((w & kLow7) + kOnes) ^ (w & ~kLow7);
}

}  // namespace

uint32_t crc32Step(uint32_t crc, uint8_t byte) {
    return (crc >> 8) ^ kComplementedTable[(crc ^ byte) & 0xFF];
}

void updateCheckValues(uint32_t& crc, uint32_t& crcPlusOne, const uint8_t* data, size_t size) {
    uint32_t r = ~crc;
    uint32_t q = ~crcPlusOne;
    size_t i = 0;
    if constexpr (kWordAtATime) {
        for (; i + 8 <= size; i += 8) {
            uint64_t w;
            std::memcpy(&w, data + i, 8);
            r = registerWord(r, w);
            q = registerWord(q, plusOneEachByte(w));
        }
    }
    for (; i < size; ++i) {
        r = registerStep(r, data[i]);
        q = registerStep(q, static_cast<uint8_t>(data[i] + 1));
    }
    crc = ~r;
    crcPlusOne = ~q;
}

}  // namespace qex
