// UTF-8 and UTF-16 building blocks shared by the platform's text
// conversions: surrogate tests, strict UTF-8 sequence checks, and the
// three-byte form that every unit from 0x800 up (surrogates included) has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text_conversion.h"

namespace qex::utf {

inline constexpr char16_t kReplacementCharacter = 0xFFFD;

inline bool isContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }
inline bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
inline bool isSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }

// Length of the valid UTF-8 sequence at bytes[i], or 0 when the byte there
// does not start one. The second byte's range excludes overlong forms,
// surrogates and code points above U+10FFFF.
inline size_t validSequenceLength(std::string_view bytes, size_t i) {
    const auto at = [&](size_t k) { return static_cast<uint8_t>(bytes[k]); };
    const uint8_t lead = at(i);
    if (lead < 0x80) return 1;
    size_t length = 0;
    uint8_t secondLow = 0x80;
    uint8_t secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) secondLow = 0xA0;
        if (lead == 0xED) secondHigh = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) secondLow = 0x90;
        if (lead == 0xF4) secondHigh = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() - i < length) return 0;
    if (at(i + 1) < secondLow || at(i + 1) > secondHigh) return 0;
    for (size_t k = 2; k < length; ++k)
        if (!isContinuation(at(i + k))) return 0;
    return length;
}

inline char32_t decodeSequence(std::string_view bytes, size_t i, size_t length) {
    const auto at = [&](size_t k) { return static_cast<uint8_t>(bytes[k]); };
    static constexpr uint8_t kLeadMask[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t cp = at(i) & kLeadMask[length];
    for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (at(i + k) & 0x3F);
    return cp;
}

inline void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
        return;
    }
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
}

// Whether every unit (or byte) is below 0x80: each is then the same one
// byte in UTF-8, in UTF-16 and in every native form.
template <class Units>
bool allAscii(const Units& units) {
    uint32_t seen = 0;
    for (const auto unit : units) seen |= static_cast<uint32_t>(unit);  // a signed byte >= 0x80 sets high bits
    return seen < 0x80;
}

// Three-byte form of any unit from 0x800 up, surrogates included.
inline void appendThreeByteForm(std::string& out, char16_t u) {
    out.push_back(static_cast<char>(0xE0 | (u >> 12)));
    out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
}

inline char32_t combinePair(char16_t high, char16_t low) {
    return 0x10000 + ((static_cast<char32_t>(high) - 0xD800) << 10) + (low - 0xDC00);
}

// UTF-16 units to bytes: a valid surrogate pair becomes its four-byte UTF-8
// form, and every other unit goes to `appendUnit(out, unit)`, where the
// conversions differ (escaped bytes, lone surrogates, replacement).
template <class AppendUnit>
std::string unitsToBytes(std::u16string_view units, AppendUnit appendUnit) {
    // The common case, a name all below 0x80, is copied unit for byte in
    // one pass the compiler can vectorise.
    if (allAscii(units)) return std::string(units.begin(), units.end());
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (isHighSurrogate(u) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
            appendUtf8(out, combinePair(u, units[i + 1]));
            ++i;
        } else {
            appendUnit(out, u);
        }
    }
    return out;
}

}  // namespace qex::utf
