// The directory gate: well-formed directories read back whole; every kind of
// damaged or hostile directory is refused with a message naming the problem.
#include "archive/directory_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/paths.h"
#include "support/archive_builder.h"

namespace qex {
namespace {

using ::testing::HasSubstr;

ArchiveEntry folder(uint8_t depth) {
    ArchiveEntry e;
    e.depth = depth;
    e.attributes = kAttributeDirectory;
    return e;
}

ArchiveEntry file(uint8_t depth, uint64_t size) {
    ArchiveEntry e;
    e.depth = depth;
    e.attributes = 0x20;
    setEntrySize(e, size);
    return e;
}

// An archive from a stream, raw NameList bytes and entries, assembled by
// the shared archive builder; the trailer holds the true sizes unless
// overridden.
std::vector<uint8_t> craft(const std::string& stream, const std::string& nameList,
                           const std::vector<ArchiveEntry>& entries, int64_t n = -1, int64_t e = -1) {
    test::ArchiveBuilder builder;
    builder.stream = std::vector<uint8_t>(stream.begin(), stream.end());
    builder.nameList.assign(nameList.begin(), nameList.end());
    builder.entries = entries;
    if (n >= 0) builder.nameListBytes = static_cast<uint32_t>(n);
    if (e >= 0) builder.entryBytes = static_cast<uint32_t>(e);
    return builder.bytes();
}

struct ReadResult {
    bool ok = false;
    Directory directory;
    std::string problem;
};

ReadResult read(const std::vector<uint8_t>& archive) {
    ReadResult r;
    r.ok = readDirectory(memoryArchiveSource(archive.data(), archive.size()), r.directory, r.problem);
    return r;
}

std::string refusal(const std::vector<uint8_t>& archive) {
    const ReadResult r = read(archive);
    EXPECT_FALSE(r.ok) << "accepted a bad directory";
    EXPECT_FALSE(r.problem.empty());
    return r.problem;
}

TEST(DirectoryReader, AcceptsWhatTheFormatAllows) {
    // Nothing archived: stream then eight zero bytes.
    ReadResult r = read(craft("xyz", "", {}));
    ASSERT_TRUE(r.ok) << r.problem;
    EXPECT_TRUE(r.directory.entries.empty());
    EXPECT_EQ(r.directory.streamBytes, 3u);
    // Depth may fall by several levels at once; folders' sizes are ignored;
    // names may hold a line feed (two-byte form), backslashes and dots.
    ArchiveEntry sizedFolder = folder(1);
    setEntrySize(sizedFolder, 5);
    ArchiveEntry checked = file(3, 7);
    checked.crc = 0x352441C2;
    checked.crcPlusOne = 0xB01D5B79;
    const std::vector<ArchiveEntry> entries{folder(0), sizedFolder, folder(2), checked, file(0, 1)};
    r = read(craft("stream", "a\nb\nc\nd\xC0\x8A\n...\n", entries));
    ASSERT_TRUE(r.ok) << r.problem;
    EXPECT_EQ(r.directory.names, (std::vector<std::u16string>{u"a", u"b", u"c", u"d\n", u"..."}));
    ASSERT_EQ(r.directory.entries.size(), 5u);
    EXPECT_TRUE(isFolder(r.directory.entries[2]));
    EXPECT_EQ(entrySize(r.directory.entries[1]), 5u);  // stored as it was
    EXPECT_EQ(entrySize(r.directory.entries[3]), 7u);
    EXPECT_EQ(r.directory.entries[3].depth, 3);
    EXPECT_EQ(r.directory.entries[3].crc, 0x352441C2u);
    EXPECT_EQ(r.directory.entries[3].crcPlusOne, 0xB01D5B79u);
    EXPECT_EQ(r.directory.streamBytes, 6u);
#ifndef _WIN32
    // A backslash is only a character of the name on Linux.
    r = read(craft("", "a\\b\n", {file(0, 0)}));
    EXPECT_TRUE(r.ok) << r.problem;
#endif
}

TEST(DirectoryReader, RefusesSizesAndCountsThatDoNotAgree) {
    EXPECT_THAT(refusal({1, 2, 3}), HasSubstr("too short"));
    EXPECT_THAT(refusal(craft("", "a\n", {file(0, 0)}, 1000)), HasSubstr("larger than the archive"));
    // N + E overflows 32 bits: the sum is taken in 64 bits.
    EXPECT_THAT(refusal(craft("", "", {}, 0xFFFFFFFF, 0xFFFFFFD8)), HasSubstr("larger than the archive"));
    // Exactly one byte too many.
    EXPECT_THAT(refusal(craft("", "a\n", {file(0, 0)}, 3)), HasSubstr("larger than the archive"));
    // One byte more of entries, taken from the stream.
    EXPECT_THAT(refusal(craft("s", "a\n", {file(0, 0)}, -1, 41)), HasSubstr("not a multiple of 40"));
    EXPECT_THAT(refusal(craft("", "a\nb\n", {folder(0), file(1, 0), file(1, 0)})),
                HasSubstr("2 names for 3 entries"));
    EXPECT_THAT(refusal(craft("", "a\nb\nc\n", {file(0, 0)})), HasSubstr("3 names for 1 entries"));
    EXPECT_THAT(refusal(craft("", "a\nb", {file(0, 0), file(0, 0)})),
                HasSubstr("does not end with a line feed"));
}

TEST(DirectoryReader, RefusesBadDepths) {
    EXPECT_THAT(refusal(craft("", "a\n", {file(1, 0)})), HasSubstr("first entry must be at depth 0"));
    EXPECT_THAT(refusal(craft("", "a\nb\n", {folder(0), file(2, 0)})),
                HasSubstr("entry 2 \"b\" is at depth 2, more than one level below"));
    // Rising by one below a file: the file would have to be a folder.
    EXPECT_THAT(refusal(craft("", "d\nf\ng\n", {folder(0), file(1, 0), file(2, 0)})),
                HasSubstr("entry 2 \"f\" has entries nested below it but is not a folder"));
}

TEST(DirectoryReader, RefusesPathsLongerThanAnySystemCreates) {
    // 128 folders of 253 units, each with its separator, and a last name
    // that brings the path to exactly kMaxPathUnits (and then one more).
    std::string names;
    std::vector<ArchiveEntry> entries;
    for (uint8_t d = 0; d < 128; ++d) {
        names += std::string(253, 'd') + "\n";
        entries.push_back(folder(d));
    }
    const size_t last = kMaxPathUnits - 128 * 254;  // 255
    entries.push_back(file(128, 0));
    const ReadResult fits = read(craft("", names + std::string(last, 'f') + "\n", entries));
    EXPECT_TRUE(fits.ok) << fits.problem;
    EXPECT_THAT(refusal(craft("", names + std::string(last + 1, 'f') + "\n", entries)),
                HasSubstr("entry 129 \"fff"));
    // Names at a lower depth start again from their own folder's path.
    entries.push_back(file(0, 0));
    EXPECT_TRUE(read(craft("", names + std::string(last, 'f') + "\nz\n", entries)).ok);
}

TEST(DirectoryReader, RefusesNamesThatLeaveTheirFolder) {
    EXPECT_THAT(refusal(craft("", "a\n\n", {folder(0), file(1, 0)})), HasSubstr("name 2 is empty"));
    EXPECT_THAT(refusal(craft("", ".\n", {folder(0)})), HasSubstr("name 1 is \".\""));
    EXPECT_THAT(refusal(craft("", "a\n..\n", {folder(0), file(1, 0)})), HasSubstr("name 2 is \"..\""));
    EXPECT_THAT(refusal(craft("", "../etc\n", {file(0, 0)})), HasSubstr("contains \"/\""));
    EXPECT_THAT(refusal(craft("", "/abs\n", {file(0, 0)})), HasSubstr("contains \"/\""));
    // A backslash is part of a name everywhere: Windows refuses such an item
    // when it would create it, and only it.
    EXPECT_TRUE(read(craft("", "a\nb\\c\n", {folder(0), file(1, 0)})).ok);
    // A huge hostile name is quoted only in part.
    const std::string longName = std::string(500, 'n') + "/x";
    const std::string problem = refusal(craft("", longName + "\n", {file(0, 0)}));
    EXPECT_THAT(problem, HasSubstr("name 1 \"" + std::string(80, 'n') + "...\" contains \"/\""));
    // A hostile name is quoted escaped, so that it cannot act on a terminal.
    const std::string escape = kPathSeparator == '\\' ? "<1B>" : "\\033";
    EXPECT_THAT(refusal(craft("", "\x1B[2J/x\n", {file(0, 0)})), HasSubstr("name 1 \"" + escape + "[2J/x\" contains"));
    // A slash in the longer two-byte form (C0 AF) decodes to '/' as well.
    EXPECT_THAT(refusal(craft("", "a\xC0\xAF" "b\n", {file(0, 0)})), HasSubstr("contains \"/\""));
    EXPECT_THAT(refusal(craft("", std::string("a\0b\n", 4), {file(0, 0)})), HasSubstr("unit 0"));
    EXPECT_THAT(refusal(craft("", "a\xC0\x80\n", {file(0, 0)})), HasSubstr("unit 0"));
}

TEST(DirectoryReader, RefusesNamesThatDoNotDecode) {
    EXPECT_THAT(refusal(craft("", "ok\n\x80x\n", {folder(0), file(1, 0)})),
                HasSubstr("name 2 does not decode: stray continuation byte 0x80 at offset 3"));
    EXPECT_THAT(refusal(craft("", "a\xC3\n", {file(0, 0)})), HasSubstr("lead byte 0xC3 at offset 1 "));
    EXPECT_THAT(refusal(craft("", "\xE0\xA0z\n", {file(0, 0)})),
                HasSubstr("lead byte 0xE0 at offset 0 of the name list lacks its continuation"));
    EXPECT_THAT(refusal(craft("", "\xF0\x9F\x98\x80\n", {file(0, 0)})), HasSubstr("byte 0xF0 at offset 0 "));
    EXPECT_THAT(refusal(craft("", "\xFF\n", {file(0, 0)})), HasSubstr("byte 0xFF at offset 0 "));
}

TEST(DirectoryReader, ReadFailureIsReported) {
    const auto archive = craft("s", "a\n", {file(0, 1)});
    ArchiveSource failing = memoryArchiveSource(archive.data(), archive.size());
    failing.readAt = [](uint64_t, uint8_t*, size_t) { return false; };
    Directory d;
    std::string problem;
    EXPECT_FALSE(readDirectory(failing, d, problem));
    EXPECT_THAT(problem, HasSubstr("cannot read"));
}

}  // namespace
}  // namespace qex
