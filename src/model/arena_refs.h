// References into the model's arena and the packed little records stored there.
//
// A reference is a 32-bit byte offset from the arena's base; 0 means none.
// Offsets keep the arena's address order, which the model relies on (a
// successor below the unit area is a raw-text position). Records are packed
// (a context is 12 bytes, a symbol state 6), so fields are read and written
// with memcpy: well defined at any alignment, and a plain load on the target.
#pragma once

#include <cstdint>
#include <cstring>

namespace qex {

using Ref = uint32_t;
inline constexpr Ref kNone = 0;

inline uint16_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

}  // namespace qex
