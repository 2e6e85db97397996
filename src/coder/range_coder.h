// The 32-bit range coder with byte-wise output and carry propagation.
//
// Encoder: `low` plus a separate carry bit form a 33-bit number. The most
// recent byte shifted out (`cache`) and the run of 0xFF bytes behind it
// (`pendingCount`) are withheld until it is known whether a later carry
// reaches them. The stream is exactly 5 + N bytes, N the number of byte
// shifts during coding; it always starts with 0x00.
// Decoder: keeps the distance `code` between the stream value and the low
// end of the interval. Both sides keep range >= 2^24 after every operation.
#pragma once

#include <cstdint>

#include "base/invariants.h"
#include "coder/coder_io.h"

namespace qex {

inline constexpr uint32_t kRangeTop = 0xFFFFFFFF;
inline constexpr uint32_t kShiftTwoBelow = 0xFFFF;    // range at or below: shift two bytes
inline constexpr uint32_t kShiftOneBelow = 0xFFFFFF;  // range at or below: shift one byte
inline constexpr int kFlushShifts = 5;
inline constexpr int kDecoderPrimeBytes = 5;
// After normalising the range never falls below this: a scale below 2^16
// then leaves every count at least 256 units of range.
inline constexpr uint32_t kMinNormalisedRange = 0x1000000;
inline constexpr uint32_t kMaxTotal = 0xFFFF;

struct RangeEncoder {
    uint32_t low = 0;
    uint32_t carry = 0;
    uint32_t cache = 0;
    uint32_t pendingCount = 0;
    uint32_t range = kRangeTop;
    CoderIo* io = nullptr;
};

inline void init(RangeEncoder& e, CoderIo& io) {
    e = RangeEncoder{};
    e.io = &io;
}

inline void emitTopByte(RangeEncoder& e) {
    if (e.low < 0xFF000000u || e.carry != 0) {
        putByte(*e.io, uint8_t(e.cache + e.carry));
        const uint8_t filler = uint8_t(0xFF + e.carry);
        for (; e.pendingCount != 0; --e.pendingCount) putByte(*e.io, filler);
        e.cache = e.low >> 24;
        e.carry = 0;
    } else {
        ++e.pendingCount;
    }
    e.low <<= 8;
}

inline void normalise(RangeEncoder& e) {
    if (e.range <= kShiftTwoBelow) {
        e.range <<= 16;
        emitTopByte(e);
        emitTopByte(e);
    } else if (e.range <= kShiftOneBelow) {
        e.range <<= 8;
        emitTopByte(e);
    }
    QEX_ASSERT(e.range >= kMinNormalisedRange);
}

inline void addToLow(RangeEncoder& e, uint32_t add) {
    const uint32_t sum = e.low + add;
    e.carry += (sum < e.low);
    e.low = sum;
}

// Codes [start, start + size) of a scale `total` (total < 2^16).
inline void encode(RangeEncoder& e, uint32_t start, uint32_t size, uint32_t total) {
    QEX_ASSERT(total <= kMaxTotal && size != 0 && start + size <= total);
    const uint32_t r = e.range / total;
    addToLow(e, start * r);
    e.range = size * r;
    normalise(e);
}

// Codes a binary decision whose hit probability is p / 16384; a hit is the
// lower part of the interval.
inline void encodeBinary(RangeEncoder& e, uint32_t p, bool hit) {
    const uint32_t bound = (e.range >> 15) * (2 * p);
    if (hit) {
        e.range = bound;
    } else {
        addToLow(e, bound);
        e.range -= bound;
    }
    normalise(e);
}

inline void flush(RangeEncoder& e) {
    for (int i = 0; i < kFlushShifts; ++i) emitTopByte(e);
}

struct RangeDecoder {
    uint32_t code = 0;
    uint32_t range = kRangeTop;
    CoderIo* io = nullptr;
};

// Primes `code` with five bytes; the first (always 0x00) drops out.
inline void init(RangeDecoder& d, CoderIo& io) {
    d = RangeDecoder{};
    d.io = &io;
    for (int i = 0; i < kDecoderPrimeBytes; ++i) d.code = (d.code << 8) + getByte(io);
}

inline void normalise(RangeDecoder& d) {
    if (d.range <= kShiftTwoBelow) {
        d.range <<= 16;
        const uint32_t first = getByte(*d.io);
        const uint32_t second = getByte(*d.io);
        d.code = (d.code << 16) + first * 256 + second;
    } else if (d.range <= kShiftOneBelow) {
        d.range <<= 8;
        d.code = (d.code << 8) + getByte(*d.io);
    }
    QEX_ASSERT(d.range >= kMinNormalisedRange);
}

// Scales the range by `total`: one unit of count is then `range` units of
// the stream value.
inline void scaleRange(RangeDecoder& d, uint32_t total) {
    QEX_ASSERT(total != 0 && total <= kMaxTotal);
    d.range /= total;
}

// After scaleRange: whether the count the stream value falls on is below
// `cum`. The count is code / range rounded down, and count < cum exactly when
// code < cum * range, so the search for the symbol compares products instead
// of waiting for a second division. cum never passes the scale's total, so
// the product stays below the range before scaling.
inline bool countBelow(const RangeDecoder& d, uint32_t cum) { return d.code < cum * d.range; }

// Scales the range by `total` and returns the count the stream value falls
// on. On a damaged stream the count may reach or pass `total`.
inline uint32_t getCount(RangeDecoder& d, uint32_t total) {
    scaleRange(d, total);
    return d.code / d.range;
}

inline void consume(RangeDecoder& d, uint32_t start, uint32_t size) {
    QEX_ASSERT(size != 0);
    d.code -= start * d.range;
    d.range *= size;
    normalise(d);
}

// True on a hit; equality with the bound is a miss.
inline bool decodeBinary(RangeDecoder& d, uint32_t p) {
    const uint32_t bound = (d.range >> 15) * (2 * p);
    bool hit;
    if (d.code < bound) {
        d.range = bound;
        hit = true;
    } else {
        d.code -= bound;
        d.range -= bound;
        hit = false;
    }
    normalise(d);
    return hit;
}

}  // namespace qex
