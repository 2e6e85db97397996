// The archive's directory: the NameList, the 40-byte ArchiveEntry records and
// the 8-byte ArchiveTrailer that follow the compressed stream.
//
// Whole file: stream (from offset 0) | NameList (N bytes) | entries (E bytes)
// | N (u32) | E (u32). All integers little-endian; every field is written and
// read byte by byte, never by copying a struct onto the file.
//
// NameList: one name per entry, each followed by 0x0A, each UTF-16 unit as
// one to three bytes (a surrogate half is a three-byte sequence of its own).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_attributes.h"

namespace qex {

inline constexpr size_t kEntryBytes = 40;
inline constexpr size_t kTrailerBytes = 8;
inline constexpr uint8_t kNameEnd = 0x0A;

// The format's limits, each set by the width of the field that holds it.
// Every check and every message about a limit takes it from here.
//
// A size is sizeLow + sizeHigh * 2^32: 32 + 8 bits.
inline constexpr unsigned kEntrySizeBits = 40;
inline constexpr uint64_t kMaxFileBytes = (uint64_t{1} << kEntrySizeBits) - 1;
// A depth is one byte: entries lie at depths 0 to kMaxDepth.
inline constexpr unsigned kDepthLevels = 256;
inline constexpr unsigned kMaxDepth = kDepthLevels - 1;
// N and E are 32-bit trailer words.
inline constexpr uint64_t kMaxDirectoryPartBytes = UINT32_MAX;
// The folder bit of `attributes` is kAttributeDirectory
// (platform/file_attributes.h).

struct ArchiveEntry {
    uint32_t sizeLow = 0;
    uint8_t sizeHigh = 0;
    uint8_t depth = 0;  // 0 to kMaxDepth
    uint16_t attributes = 0;
    uint64_t creationTime = 0;    // 100 ns intervals since 1601-01-01 UTC
    uint64_t lastWriteTime = 0;
    uint64_t lastAccessTime = 0;
    uint32_t crc = 0;
    uint32_t crcPlusOne = 0;
};
// Same footprint in memory as on file (large directories stay compact).
static_assert(sizeof(ArchiveEntry) == kEntryBytes);

struct ArchiveTrailer {
    uint32_t nameListBytes = 0;  // N
    uint32_t entryBytes = 0;     // E
};

inline bool isFolder(const ArchiveEntry& e) { return (e.attributes & kAttributeDirectory) != 0; }
inline uint64_t entrySize(const ArchiveEntry& e) {
    return e.sizeLow | (uint64_t{e.sizeHigh} << 32);
}
// Stores bits 0 to 39 of `size`; callers refuse sizes above kMaxFileBytes.
inline void setEntrySize(ArchiveEntry& e, uint64_t size) {
    e.sizeLow = static_cast<uint32_t>(size);
    e.sizeHigh = static_cast<uint8_t>(size >> 32);
}

void encodeEntry(const ArchiveEntry& entry, uint8_t out[kEntryBytes]);
ArchiveEntry decodeEntry(const uint8_t in[kEntryBytes]);

void encodeTrailer(const ArchiveTrailer& trailer, uint8_t out[kTrailerBytes]);
ArchiveTrailer decodeTrailer(const uint8_t in[kTrailerBytes]);

// Appends one name and its 0x0A to a NameList. The unit 0x0A itself (legal
// in native names) is written as the two-byte form 0xC0 0x8A so that it
// cannot end the name early; it decodes back to 0x0A.
void appendName(std::vector<uint8_t>& nameList, std::u16string_view name);

enum class NameDecodeError {
    none,
    strayContinuation,    // a byte 0x80..0xBF where a unit should start
    missingContinuation,  // a lead byte not followed by enough continuations
    invalidLead,          // a byte 0xF0 or above
};

// Decodes the bytes of one name (without its 0x0A) into UTF-16 units.
// On failure `errorOffset` is the offset of the offending byte.
NameDecodeError decodeName(const uint8_t* bytes, size_t size, std::u16string& out,
                           size_t& errorOffset);

}  // namespace qex
