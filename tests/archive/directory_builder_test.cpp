// The directory under construction: 1 KiB blocks whose records never split
// or move, and the bytes written behind the stream.
#include "archive/directory_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/directory_reader.h"
#include "support/archive_builder.h"

namespace qex {
namespace {

ArchiveEntry fileEntry(uint8_t depth, uint64_t size) {
    ArchiveEntry entry;
    entry.depth = depth;
    entry.attributes = 0x20;
    setEntrySize(entry, size);
    entry.lastWriteTime = 0x0123456789ABCDEFull;
    return entry;
}

TEST(BlockChain, RecordsAreNeverSplitAcrossBlocks) {
    BlockChain chain;
    // 1008 data bytes per block: three records of 400 bytes need two blocks.
    uint8_t* first = reserveBytes(chain, 400, 1);
    uint8_t* second = reserveBytes(chain, 400, 1);
    uint8_t* third = reserveBytes(chain, 400, 1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(second, first + 400);
    EXPECT_EQ(third, chain.last->data);
    EXPECT_NE(chain.first, chain.last);
    EXPECT_EQ(chain.first->used, 800u);
    EXPECT_EQ(chain.last->used, 400u);
    EXPECT_EQ(chain.usedBytes, 1200u);
    EXPECT_EQ(reserveBytes(chain, kBlockDataBytes + 1, 1), nullptr);
    EXPECT_NE(reserveBytes(chain, kBlockDataBytes, 1), nullptr);
}

TEST(DirectoryBuilder, EntriesKeepTheirAddressWhileTheChainGrows) {
    DirectoryBuilder builder;
    PendingEntry* firstFile = appendItem(builder, u"first", fileEntry(0, 10));
    ASSERT_NE(firstFile, nullptr);
    firstFile->queued = true;
    FileEntry* handedDown = &firstFile->file;
    std::u16string name = u"n?";
    for (int k = 0; k < 5000; ++k) {
        name[1] = static_cast<char16_t>(u'a' + k % 26);
        ASSERT_NE(appendItem(builder, name, fileEntry(0, 0)), nullptr);
    }
    // The reader fills the entry by address long after it was queued.
    handedDown->size = 3;
    handedDown->crc = 0x352441C2;
    handedDown->crcPlusOne = 0xB01D5B79;
    const ArchiveEntry final = finalEntry(*reinterpret_cast<const PendingEntry*>(builder.entries.first->data));
    EXPECT_EQ(entrySize(final), 3u);
    EXPECT_EQ(final.crc, 0x352441C2u);
    EXPECT_EQ(final.crcPlusOne, 0xB01D5B79u);
    EXPECT_EQ(final.lastWriteTime, 0x0123456789ABCDEFull);
}

std::vector<uint8_t> written(const DirectoryBuilder& builder) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(writeBuiltDirectory(builder, [&](const uint8_t* data, size_t size) {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }));
    return bytes;
}

TEST(DirectoryBuilder, WrittenDirectoryMatchesTheLayoutWithoutItemsNotStored) {
    // Names of the longest kind (255 units of three bytes) fill many blocks,
    // so dropped names lie at the start, the middle and the end of blocks;
    // the 0x0A unit is written in its two-byte form.
    DirectoryBuilder builder;
    test::ArchiveBuilder expected;  // the layout assembled by hand, without a stream
    expected.stream = std::vector<uint8_t>{};
    std::vector<std::u16string> stored{u"T"};
    ArchiveEntry folder;
    folder.attributes = 0x10;
    ASSERT_NE(appendItem(builder, u"T", folder), nullptr);
    expected.add(folder, u"T");
    for (int k = 0; k < 50; ++k) {
        const std::u16string name = std::u16string(254, u'\u20AC') + static_cast<char16_t>(u'A' + k % 26);
        PendingEntry* pending = appendItem(builder, name, fileEntry(1, 0));
        ASSERT_NE(pending, nullptr);
        if (k % 3 == 0) {
            pending->leftOut = true;  // its job was refused
        } else if (k % 3 == 1) {
            pending->queued = true;  // the reader could read nothing of it
            pending->file.unread = true;
        } else {
            expected.add(fileEntry(1, 0), name);
            stored.push_back(name);
        }
    }
    ASSERT_NE(appendItem(builder, u"line\nbreak", fileEntry(1, 0)), nullptr);
    expected.add(fileEntry(1, 0), u"line\nbreak");
    stored.push_back(u"line\nbreak");

    ASSERT_TRUE(directoryFitsTrailer(builder));
    const std::vector<uint8_t> bytes = written(builder);
    EXPECT_EQ(bytes, expected.bytes());
    Directory directory;
    std::string problem;
    ASSERT_TRUE(readDirectory(memoryArchiveSource(bytes.data(), bytes.size()), directory, problem))
        << problem;
    EXPECT_EQ(directory.names, stored);
}

TEST(DirectoryBuilder, WriteStopsAtTheFirstFailure) {
    DirectoryBuilder builder;
    for (int k = 0; k < 100; ++k) ASSERT_NE(appendItem(builder, u"name", fileEntry(0, 0)), nullptr);
    int calls = 0;
    EXPECT_FALSE(writeBuiltDirectory(builder, [&](const uint8_t*, size_t) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace qex
