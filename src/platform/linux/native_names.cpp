// Native name bytes <-> UTF-16 units on Linux; see text_conversion.h for the
// round-trip invariant. Decoding is strict UTF-8 (shortest form only, no
// surrogates, at most U+10FFFF) so that every byte it does not accept can be
// escaped and restored one by one. The console takes UTF-8, controls and
// undecodable bytes escaped.
#include "platform/text_conversion.h"
#include "platform/utf_units.h"

namespace qex {

using namespace utf;

std::u16string nativeToUtf16(std::string_view bytes) {
    if (allAscii(bytes)) return std::u16string(bytes.begin(), bytes.end());
    std::u16string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const size_t length = validSequenceLength(bytes, i);
        if (length == 0) {
            out.push_back(static_cast<char16_t>(0xDC00 + static_cast<uint8_t>(bytes[i])));
            ++i;
            continue;
        }
        appendUtf16(out, decodeSequence(bytes, i, length));
        i += length;
    }
    return out;
}

std::string utf16ToNative(std::u16string_view units) {
    return unitsToBytes(units, [](std::string& out, char16_t u) {
        if (u >= kEscapedByteFirst && u <= kEscapedByteLast) {
            out.push_back(static_cast<char>(u - 0xDC00));
        } else {
            appendUtf8(out, u);  // lone surrogates take their three-byte form
        }
    });
}

}  // namespace qex
