// Strict UTF-8 for the console, the same on every system. The native forms
// of names differ per system and live beside the other system services.
#include "platform/text_conversion.h"

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
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (isHighSurrogate(u) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
            appendUtf8(out, combinePair(u, units[i + 1]));
            ++i;
        } else {
            appendUtf8(out, isSurrogate(u) ? kReplacementCharacter : u);
        }
    }
    return out;
}

}  // namespace qex
