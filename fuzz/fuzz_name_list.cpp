// Fuzzes the decoding of one NameList name.
//
// Any bytes may arrive from an archive. Decoding must never read past the
// name, and whatever it accepts must survive being written again: encoding
// the decoded units and decoding that gives the same units, and the encoded
// form never holds the byte that ends a name.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive_layout.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so that the address sanitizer catches
    // any read beyond the name.
    std::vector<uint8_t> name(data, data + size);
    std::u16string units;
    size_t errorOffset = SIZE_MAX;
    const qex::NameDecodeError error = qex::decodeName(name.data(), name.size(), units, errorOffset);
    if (error != qex::NameDecodeError::none) {
        QEX_FUZZ_CHECK(errorOffset < size);
        return 0;
    }
    QEX_FUZZ_CHECK(units.size() <= size);

    std::vector<uint8_t> encoded;
    qex::appendName(encoded, units);
    QEX_FUZZ_CHECK(!encoded.empty() && encoded.back() == qex::kNameEnd);
    encoded.pop_back();
    QEX_FUZZ_CHECK(std::memchr(encoded.data(), qex::kNameEnd, encoded.size()) == nullptr);

    std::u16string again;
    QEX_FUZZ_CHECK(qex::decodeName(encoded.data(), encoded.size(), again, errorOffset) ==
                   qex::NameDecodeError::none);
    QEX_FUZZ_CHECK(again == units);
    return 0;
}
