// Native strings on Windows: UTF-8 that carries any UTF-16 unit sequence
// losslessly (a lone surrogate travels as its three-byte form), so a name
// the listing reported opens again.
#include "platform/text_conversion.h"
#include "platform/utf_units.h"

namespace qex {

using namespace utf;

namespace {

// Length of the three-byte form of a lone surrogate at bytes[i], or 0.
size_t surrogateFormLength(std::string_view bytes, size_t i) {
    if (bytes.size() - i < 3) return 0;
    const auto at = [&](size_t k) { return static_cast<uint8_t>(bytes[k]); };
    if (at(i) != 0xED || at(i + 1) < 0xA0 || at(i + 1) > 0xBF || !isContinuation(at(i + 2))) return 0;
    return 3;
}

}  // namespace

std::u16string nativeToUtf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        size_t length = validSequenceLength(bytes, i);
        if (length == 0) length = surrogateFormLength(bytes, i);
        if (length == 0) {
            // Never made by utf16ToNative: only text typed by hand can hold it.
            out.push_back(kReplacementCharacter);
            ++i;
            continue;
        }
        appendUtf16(out, decodeSequence(bytes, i, length));
        i += length;
    }
    return out;
}

std::string utf16ToNative(std::u16string_view units) {
    // Lone surrogates take their three-byte form.
    return unitsToBytes(units, [](std::string& out, char16_t u) { appendUtf8(out, u); });
}

}  // namespace qex
