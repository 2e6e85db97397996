// Strict UTF-8 for the console, and the escapes that keep names from acting
// on a terminal, the same on every system. The native forms
// of names differ per system and live beside the other system services.
#include "platform/text_conversion.h"

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

}  // namespace

std::u16string escapedForConsole(std::u16string_view units, bool keepSeparators) {
    constexpr bool kBackslashSeparates = kPathSeparator == '\\';
    std::u16string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (isHighSurrogate(u) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
            out.push_back(u);
            out.push_back(units[++i]);
        } else if (kBackslashSeparates) {
            if (needsEscape(u) || (u == u'\\' && !keepSeparators)) appendBracketEscape(out, u);
            else out.push_back(u);
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
        } else if (u == u'\\') {
            appendAscii(out, "\\\\");
        } else {
            out.push_back(u);
        }
    }
    return out;
}

std::string consoleText(std::u16string_view units) { return utf16ToUtf8(escapedForConsole(units)); }

std::string nativeToConsole(std::string_view native) { return consoleText(nativeToUtf16(native)); }

std::string archivedPathText(std::u16string_view units) { return utf16ToUtf8(escapedForConsole(units, false)); }

}  // namespace qex
