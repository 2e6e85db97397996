// Strict UTF-8 for the console, and the escapes that keep names from acting
// on a terminal, the same on every system. The native forms
// of names differ per system and live beside the other system services.
#include "platform/text_conversion.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/invariants.h"
#include "platform/paths.h"
#include "platform/utf_units.h"

namespace qex {

using namespace utf;

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        appendThreeByteForm(out, static_cast<char16_t>(cp));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string utf16ToUtf8(std::u16string_view units) {
    return unitsToBytes(units, [](std::string& out, char16_t u) {
        appendUtf8(out, isSurrogate(u) ? kReplacementCharacter : u);
    });
}

namespace {

void appendAscii(std::u16string& out, std::string_view text) { out.append(text.begin(), text.end()); }

// `prefix` followed by `value` in `digits` digits of base `base` (lower case).
void appendEscape(std::u16string& out, std::string_view prefix, unsigned value, unsigned base, int digits) {
    appendAscii(out, prefix);
    for (int k = digits - 1; k >= 0; --k) {
        unsigned divisor = 1;
        for (int i = 0; i < k; ++i) divisor *= base;
        out.push_back(static_cast<char16_t>("0123456789abcdef"[(value / divisor) % base]));
    }
}

}  // namespace

namespace {

// Where "\\" separates folders (Windows), an escape is the unit in
// hexadecimal between "<" and ">", which no name there can hold: so no
// escape reads as a path. Two digits below 0x100, four above.
void appendBracketEscape(std::u16string& out, char16_t unit) {
    out.push_back(u'<');
    for (int shift = unit < 0x100 ? 4 : 12; shift >= 0; shift -= 4)
        out.push_back(static_cast<char16_t>("0123456789ABCDEF"[(unit >> shift) & 0xF]));
    out.push_back(u'>');
}

bool needsEscape(char16_t u) { return u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F) || isSurrogate(u); }

// How many units from the start pass unchanged, counted eight at a time
// (at least every whole block that passes; the caller finds the unit that
// ends the run). The same test as needsEscape and the backslash, on eight
// units at once.
size_t plainUnitsAhead(std::u16string_view units, bool backslashPasses) {
    size_t n = 0;
#if defined(__SSE2__)
    constexpr size_t kBlockUnits = 8;
    const __m128i highBits = _mm_set1_epi16(static_cast<int16_t>(0xFFE0));  // C0 and C1 blocks of 32
    const __m128i c1Block = _mm_set1_epi16(0x80);
    const __m128i del = _mm_set1_epi16(0x7F);
    const __m128i surrogateBits = _mm_set1_epi16(static_cast<int16_t>(0xF800));
    const __m128i surrogates = _mm_set1_epi16(static_cast<int16_t>(0xD800));
    // When backslashes pass, the last compare looks for DEL a second time.
    const __m128i backslash = backslashPasses ? del : _mm_set1_epi16('\\');
    for (; units.size() - n >= kBlockUnits; n += kBlockUnits) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units.data() + n));
        const __m128i block32 = _mm_and_si128(v, highBits);
        __m128i hit = _mm_cmpeq_epi16(block32, _mm_setzero_si128());         // below 0x20
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(block32, c1Block));          // 0x80..0x9F
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(v, del));                    // 0x7F
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(_mm_and_si128(v, surrogateBits), surrogates));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi16(v, backslash));
        if (_mm_movemask_epi8(hit) != 0) break;
    }
#else
    (void)units;
    (void)backslashPasses;
#endif
    return n;
}

}  // namespace

std::u16string escapedForConsole(std::u16string_view units, bool keepSeparators) {
    constexpr bool kBackslashSeparates = kPathSeparator == '\\';
    const bool backslashPasses = kBackslashSeparates && keepSeparators;
    // Exactly the units the cases below would copy one by one. Most names
    // are nothing but such units, and a log of long paths escapes megabytes
    // of them, so runs of them are copied whole.
    const auto passesUnchanged = [backslashPasses](char16_t u) {
        return !needsEscape(u) && (u != u'\\' || backslashPasses);
    };
    std::u16string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        size_t runEnd = i + plainUnitsAhead(units.substr(i), backslashPasses);
        while (runEnd < units.size() && passesUnchanged(units[runEnd])) ++runEnd;
        out.append(units.substr(i, runEnd - i));
        if (runEnd == units.size()) break;
        i = runEnd;
        const char16_t u = units[i];
        if (isHighSurrogate(u) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
            out.push_back(u);
            out.push_back(units[++i]);
        } else if (kBackslashSeparates) {
            appendBracketEscape(out, u);  // needsEscape(u), or a backslash inside a name
        } else if (u == u'\t' || u == u'\n' || u == u'\r') {
            appendAscii(out, u == u'\t' ? "\\t" : u == u'\n' ? "\\n" : "\\r");
        } else if (u < 0x20 || u == 0x7F) {
            appendEscape(out, "\\", u, 8, 3);
        } else if (u >= 0x80 && u <= 0x9F) {
            appendEscape(out, "\\u", u, 16, 4);
        } else if (u >= kEscapedByteFirst && u <= kEscapedByteLast) {
            appendEscape(out, "\\x", u - 0xDC00, 16, 2);
        } else if (isSurrogate(u)) {
            appendEscape(out, "\\u", u, 16, 4);
        } else {
            QEX_ASSERT(u == u'\\');
            appendAscii(out, "\\\\");
        }
    }
    return out;
}

std::string consoleText(std::u16string_view units) { return utf16ToUtf8(escapedForConsole(units)); }

std::string nativeToConsole(std::string_view native) { return consoleText(nativeToUtf16(native)); }

std::string archivedPathText(std::u16string_view units) { return utf16ToUtf8(escapedForConsole(units, false)); }

}  // namespace qex
