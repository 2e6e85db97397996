// Directory records byte for byte: the 40-byte entry, the NameList's
// one-to-three-byte units, and the example folder T with its trailer.
// (Malformed names are refused at the directory gate: directory_reader_test.cpp.)
#include "archive/archive_layout.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/archive_builder.h"

namespace qex {
namespace {

std::vector<uint8_t> nameBytes(std::u16string_view name) {
    std::vector<uint8_t> list;
    appendName(list, name);
    return list;
}

std::u16string decodeOrFail(const std::vector<uint8_t>& list) {
    // list ends with the 0x0A that appendName adds
    std::u16string out;
    size_t bad = 0;
    EXPECT_EQ(decodeName(list.data(), list.size() - 1, out, bad), NameDecodeError::none);
    return out;
}

TEST(ArchiveEntry, FieldsAreLittleEndianAtTheirOffsets) {
    ArchiveEntry e;
    e.sizeLow = 0x04030201;
    e.sizeHigh = 0x05;
    e.depth = 0x06;
    e.attributes = 0x0807;
    e.creationTime = 0x100F0E0D0C0B0A09;
    e.lastWriteTime = 0x1817161514131211;
    e.lastAccessTime = 0x201F1E1D1C1B1A19;
    e.crc = 0x24232221;
    e.crcPlusOne = 0x28272625;
    uint8_t bytes[kEntryBytes];
    encodeEntry(e, bytes);
    // Every field's least significant byte first, fields in record order, so
    // the forty bytes read 01, 02, ..., 0x28.
    for (size_t i = 0; i < kEntryBytes; ++i) ASSERT_EQ(bytes[i], i + 1) << "offset " << i;
    // Decoding gives every field back: encoded again, the same forty bytes.
    uint8_t again[kEntryBytes];
    encodeEntry(decodeEntry(bytes), again);
    EXPECT_EQ(std::vector<uint8_t>(again, again + kEntryBytes),
              std::vector<uint8_t>(bytes, bytes + kEntryBytes));
}

TEST(ArchiveEntry, SizeIsFortyBits) {
    ArchiveEntry e;
    setEntrySize(e, kMaxFileBytes);
    EXPECT_EQ(e.sizeLow, 0xFFFFFFFFu);
    EXPECT_EQ(e.sizeHigh, 0xFF);
    EXPECT_EQ(entrySize(e), kMaxFileBytes);
    setEntrySize(e, 0x12'3456'789Aull);
    EXPECT_EQ(e.sizeLow, 0x3456789Au);
    EXPECT_EQ(e.sizeHigh, 0x12);
    EXPECT_EQ(entrySize(e), 0x12'3456'789Aull);
}

TEST(NameList, UnitsTakeOneToThreeBytesAndDecodeBack) {
    using Bytes = std::vector<uint8_t>;
    const std::vector<std::pair<std::u16string, Bytes>> cases{
        // Below 0x80: the unit itself.
        {u"a.txt", {'a', '.', 't', 'x', 't', 0x0A}},
        // U+00E9: 0xC0 + (0xE9 >> 6) = 0xC3, 0x80 + (0xE9 & 0x3F) = 0xA9.
        {u"\u00E9", {0xC3, 0xA9, 0x0A}},
        // U+0800 and U+0FFF: 0xE0 + (unit >> 12) = 0xE0 leads both.
        {u"\u0800\u0FFF", {0xE0, 0xA0, 0x80, 0xE0, 0xBF, 0xBF, 0x0A}},
        // U+1F600 = D83D DE00: each half its own three-byte sequence, six bytes.
        {std::u16string({0xD83D, 0xDE00}), {0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80, 0x0A}},
        // The unit 0x0A would end the name: it takes the two-byte form C0 8A.
        {u"a\nb", {'a', 0xC0, 0x8A, 'b', 0x0A}},
    };
    for (const auto& [name, bytes] : cases) {
        EXPECT_EQ(nameBytes(name), bytes);
        EXPECT_EQ(decodeOrFail(bytes), name);
    }
    // The edges of each form, and lone halves of a pair, come back too.
    for (const std::u16string& name : {std::u16string(u"\u007F\u0080\u07FF\uFFFF"),
                                       std::u16string({'x', 0xDC80, 0xD800})}) {
        EXPECT_EQ(decodeOrFail(nameBytes(name)), name);
    }
}

TEST(NameList, AnyUnitsRoundTripThroughTheArchiveForm) {
    // Lone and paired surrogates, the separator's unit, anything but 0: the
    // names either system gives (its own conversions are the platform's tests).
    std::mt19937 rng(3);
    for (int i = 0; i < 2000; ++i) {
        std::u16string name(1 + rng() % 16, u'\0');
        for (auto& u : name) u = static_cast<char16_t>(1 + rng() % 0xFFFF);
        ASSERT_EQ(decodeOrFail(nameBytes(name)), name);
    }
}

TEST(Directory, ExampleFolderEncodesToExactBytes) {
    // T (folder) holding a.txt ("abc") and the empty folder S, a.txt listed first.
    ArchiveEntry t, a, s;
    t.attributes = kAttributeDirectory;
    a.depth = 1;
    a.attributes = 0x20;
    setEntrySize(a, 3);
    a.crc = 0x352441C2;
    a.crcPlusOne = 0xB01D5B79;
    a.lastWriteTime = 0x01DB123456789ABCull;
    s.depth = 1;
    s.attributes = kAttributeDirectory;
    const std::vector<uint8_t> out = test::writtenDirectory({u"T", u"a.txt", u"S"}, {t, a, s});
    ASSERT_EQ(out.size(), 10u + 120u + 8u);

    const std::string nameList(out.begin(), out.begin() + 10);
    EXPECT_EQ(nameList, "T\na.txt\nS\n");
    // a.txt's record: size 3, high byte 0, depth 1, attributes 0x0020,
    // creation time 0, last write time, access time 0, both check values.
    const std::vector<uint8_t> aRecord(out.begin() + 50, out.begin() + 90);
    const std::vector<uint8_t> expected = {
        0x03, 0x00, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00,  //
        0, 0, 0, 0, 0, 0, 0, 0,                          //
        0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12, 0xDB, 0x01,  //
        0, 0, 0, 0, 0, 0, 0, 0,                          //
        0xC2, 0x41, 0x24, 0x35, 0x79, 0x5B, 0x1D, 0xB0};
    EXPECT_EQ(aRecord, expected);
    // Folder records: depth at offset 5, attribute 0x10 at offset 6.
    EXPECT_EQ(out[10 + 5], 0);
    EXPECT_EQ(out[10 + 6], 0x10);
    EXPECT_EQ(out[90 + 5], 1);
    EXPECT_EQ(out[90 + 6], 0x10);
    // Trailer: N = 10, E = 120.
    const std::vector<uint8_t> trailer(out.end() - 8, out.end());
    EXPECT_EQ(trailer, (std::vector<uint8_t>{10, 0, 0, 0, 120, 0, 0, 0}));
}

TEST(Directory, NothingFoundIsEightZeroBytes) {
    EXPECT_EQ(test::writtenDirectory({}, {}), std::vector<uint8_t>(8, 0));
}

}  // namespace
}  // namespace qex
