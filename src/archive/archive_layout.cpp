// Byte-by-byte encoding of the directory records; see archive_layout.h.
#include "archive/archive_layout.h"


namespace qex {
namespace {

template <typename T>
void putLittleEndian(uint8_t*& p, T value) {
    for (size_t i = 0; i < sizeof(T); ++i) *p++ = static_cast<uint8_t>(value >> (8 * i));
}

template <typename T>
T getLittleEndian(const uint8_t*& p) {
    T value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(T{*p++} << (8 * i));
    return value;
}

// Units that would end a name early are written in the longer two-byte form.
constexpr uint8_t kTwoByteLead = 0xC0;
constexpr uint8_t kThreeByteLead = 0xE0;
constexpr uint8_t kContinuation = 0x80;
constexpr uint8_t kFirstInvalidLead = 0xF0;

void appendUnit(std::vector<uint8_t>& out, char16_t u) {
    if (u < 0x80 && u != kNameEnd) {
        out.push_back(static_cast<uint8_t>(u));
    } else if (u < 0x800) {
        out.push_back(static_cast<uint8_t>(kTwoByteLead + (u >> 6)));
        out.push_back(static_cast<uint8_t>(kContinuation + (u & 0x3F)));
    } else {
        out.push_back(static_cast<uint8_t>(kThreeByteLead + (u >> 12)));
        out.push_back(static_cast<uint8_t>(kContinuation + ((u >> 6) & 0x3F)));
        out.push_back(static_cast<uint8_t>(kContinuation + (u & 0x3F)));
    }
}

bool isContinuation(uint8_t b) { return (b & 0xC0) == kContinuation; }

}  // namespace

void encodeEntry(const ArchiveEntry& e, uint8_t out[kEntryBytes]) {
    uint8_t* p = out;
    putLittleEndian(p, e.sizeLow);
    putLittleEndian(p, e.sizeHigh);
    putLittleEndian(p, e.depth);
    putLittleEndian(p, e.attributes);
    putLittleEndian(p, e.creationTime);
    putLittleEndian(p, e.lastWriteTime);
    putLittleEndian(p, e.lastAccessTime);
    putLittleEndian(p, e.crc);
    putLittleEndian(p, e.crcPlusOne);
}

ArchiveEntry decodeEntry(const uint8_t in[kEntryBytes]) {
    const uint8_t* p = in;
    ArchiveEntry e;
    e.sizeLow = getLittleEndian<uint32_t>(p);
    e.sizeHigh = getLittleEndian<uint8_t>(p);
    e.depth = getLittleEndian<uint8_t>(p);
    e.attributes = getLittleEndian<uint16_t>(p);
    e.creationTime = getLittleEndian<uint64_t>(p);
    e.lastWriteTime = getLittleEndian<uint64_t>(p);
    e.lastAccessTime = getLittleEndian<uint64_t>(p);
    e.crc = getLittleEndian<uint32_t>(p);
    e.crcPlusOne = getLittleEndian<uint32_t>(p);
    return e;
}

void encodeTrailer(const ArchiveTrailer& t, uint8_t out[kTrailerBytes]) {
    uint8_t* p = out;
    putLittleEndian(p, t.nameListBytes);
    putLittleEndian(p, t.entryBytes);
}

ArchiveTrailer decodeTrailer(const uint8_t in[kTrailerBytes]) {
    const uint8_t* p = in;
    ArchiveTrailer t;
    t.nameListBytes = getLittleEndian<uint32_t>(p);
    t.entryBytes = getLittleEndian<uint32_t>(p);
    return t;
}

void appendName(std::vector<uint8_t>& nameList, std::u16string_view name) {
    for (char16_t u : name) appendUnit(nameList, u);
    nameList.push_back(kNameEnd);
}

NameDecodeError decodeName(const uint8_t* bytes, size_t size, std::u16string& out,
                           size_t& errorOffset) {
    out.clear();
    size_t i = 0;
    while (i < size) {
        const uint8_t lead = bytes[i];
        size_t continuations = 0;
        uint32_t unit = lead;
        if (lead < 0x80) {
            continuations = 0;
        } else if (isContinuation(lead)) {
            errorOffset = i;
            return NameDecodeError::strayContinuation;
        } else if (lead < kThreeByteLead) {
            continuations = 1;
            unit = lead & 0x1F;
        } else if (lead < kFirstInvalidLead) {
            continuations = 2;
            unit = lead & 0x0F;
        } else {
            errorOffset = i;
            return NameDecodeError::invalidLead;
        }
        for (size_t k = 1; k <= continuations; ++k) {
            if (i + k >= size || !isContinuation(bytes[i + k])) {
                errorOffset = i;
                return NameDecodeError::missingContinuation;
            }
            unit = (unit << 6) | (bytes[i + k] & 0x3F);
        }
        out.push_back(static_cast<char16_t>(unit));
        i += 1 + continuations;
    }
    return NameDecodeError::none;
}

}  // namespace qex
