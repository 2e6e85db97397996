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
    return unitsToBytes(units, [](std::string& out, char16_t u) {
        appendUtf8(out, isSurrogate(u) ? kReplacementCharacter : u);
    });
}

}  // namespace qex
