// Hostile and damaged archives, written byte by byte and extracted by the
// executable into a target inside a scratch folder. Every run must end, leave
// everything outside the target as it was, and exit with 2 when the archive
// is refused (nothing created) or damaged, 1 when an item of an intact
// archive could not be created, 0 when everything was extracted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "frontend/archive_fixture.h"
#include "support/archive_builder.h"
#include "support/pattern_bytes.h"

namespace qex::test {
namespace {

namespace fs = std::filesystem;
using ::testing::AnyOf;
using ::testing::HasSubstr;

class HostileArchive : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.empty());
        // The target lies a few levels down, so that a path climbing out of it
        // lands inside the scratch folder, where the check sees it.
        target = scratch / "outer" / "inner" / "target";
        fs::create_directories(target);
        fs::create_directories(scratch / "outside");
        writeFileBytes(scratch / "outside" / "sentinel", "keep me");
        archive = scratch / "outer" / "archive.qex";
    }

    std::map<std::string, std::string> targetItems() const { return treeItems(target); }

    ProcessResult extract(const std::vector<uint8_t>& bytes) {
        writeFileBytes(archive, std::string(bytes.begin(), bytes.end()));
        const auto before = treeItems(scratch, target);  // every item but those below the target
        ProcessResult result = runQex({"x", archive.string(), target.string()});
        EXPECT_FALSE(result.timedOut) << "extraction did not end";
        EXPECT_EQ(treeItems(scratch, target), before) << "something outside the target changed";
        return result;
    }

    void clearTarget() {
        fs::remove_all(target);
        fs::create_directory(target);
    }

    test::ScratchFolder scratchFolder;
    const fs::path scratch = scratchFolder.root();
    fs::path target, archive;
};

// What a file gets whose trailer does not fit: it is not an archive of this
// format, or its end was cut off.
const std::string kNotAnArchive = "not a qex archive (or its end is missing)";

// The three faults a damaged stream can show as; each is fatal.
const auto kDamageMessage = AnyOf(HasSubstr("qex: check value mismatch in"), HasSubstr("qex: incomplete file"),
                                  HasSubstr("qex: damaged archive"));

// A small tree: T/a.txt, T/S/, T/S/b.txt, T/empty, top.txt.
ArchiveBuilder smallTree() {
    ArchiveBuilder b;
    b.folder(0, u"T")
        .file(1, u"a.txt", "abc")
        .folder(1, u"S")
        .file(2, u"b.txt", "hello hello hello, the quick brown fox")
        .file(1, u"empty", "")
        .file(0, u"top.txt", "top level text\n");
    return b;
}

// One refusal under each heading through the executable: exit code 2, the
// reason, nothing created, nothing outside the target touched. Every reason
// the directory gate gives has its own case in the gate's tests
// (tests/archive/directory_reader_test.cpp).
TEST_F(HostileArchive, RefusedDirectoriesCreateNothing) {
    // 0xE0 0x0A 0x80: the line feed ends the name after a bare lead byte, so
    // the list holds two names where the writer meant one.
    ArchiveBuilder split = ArchiveBuilder().file(0, u"a", "1");
    split.nameList = {'a', 0xE0, 0x0A, 0x80, 'b', 0x0A};
    // N + E + 8 passes 2^32: no 32-bit sum may wrap to a small value.
    ArchiveBuilder wrapping = smallTree();
    wrapping.nameListBytes = 0xFFFFFFF0;
    wrapping.entryBytes = 40;
    const struct {
        std::vector<uint8_t> bytes;
        std::string heading, reason;
    } cases[] = {
        {ArchiveBuilder().folder(0, u"..").file(1, u"escaped", "x").bytes(), "invalid archive",
         "name 1 is \"..\", which would leave its folder"},
        {split.bytes(), "invalid archive", "the name list holds 2 names for 1 entries"},
        {wrapping.bytes(), kNotAnArchive,
         "N = 4294967280, E = 40, plus the 8-byte trailer) is larger than the archive"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        const ProcessResult r = extract(c.bytes);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_THAT(r.err, HasSubstr("qex: " + c.heading + " \"" + archive.string() + "\": "));
        EXPECT_THAT(r.err, HasSubstr(c.reason));
        EXPECT_TRUE(targetItems().empty()) << "a refused archive created items";
    }
}

TEST_F(HostileArchive, DeepestFoldersOnPathsLongerThanTheSystemTakesComeBackWithModesAndTimes) {
    // Folders at depths 0 to 255 (the deepest an 8-bit depth holds) of
    // 20-byte names make paths of over 5 KB, beyond what one system call
    // takes (4096 bytes): every level is still made, filled, and given its
    // stored mode (0700 and 0750 in turn) and time.
    ArchiveBuilder b;
    std::string expected;
    const auto folder = [&](int depth, const std::u16string& name) {
        const bool even = depth % 2 == 0;
        b.folder(static_cast<uint8_t>(depth), name);
        b.entries.back().attributes |= kAttributeUnixMode;
        b.entries.back().creationTime = withUnixMode(kOrdinaryFileTime, even ? 040700 : 040750);
        expected += std::to_string(depth + 1) + (even ? " 700" : " 750") + " 2020-01-01 00:00\n";
    };
    for (int depth = 0; depth <= 254; ++depth) folder(depth, std::u16string(20, u'x'));
    b.file(255, u"bottom.txt", "bottom");
    folder(255, u"last");
    b.file(0, u"after.txt", "after");
    const ProcessResult r = extract(b.bytes());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // find walks folder by folder, so no path is too long for it.
    const ProcessResult found = runProcess(
        {"/bin/sh", "-c",
         "cd '" + target.string() + "' && TZ=UTC0 find . -mindepth 1 -type d -printf '%d %m %TY-%Tm-%Td %TH:%TM\\n'" +
             " && find . -name bottom.txt -execdir cat {} +"});
    EXPECT_EQ(found.out, expected + "bottom") << found.err;
    EXPECT_EQ(describeItem(target / "after.txt"), "file after");
}

TEST_F(HostileArchive, PathBeyondTheJobRingsNameLimitIsSkippedAndExtractionGoesOn) {
    // A name of 32,760 units: within what the directory gate lets through
    // (32,767), more than a job record carries (32,755). That file alone is
    // reported; its bytes are skipped and the file after it is extracted.
    const std::u16string longName(32760, u'x');
    const ProcessResult r =
        extract(ArchiveBuilder().file(0, longName, "lost").file(0, u"after.txt", "after").bytes());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("qex: cannot create file \""));
    EXPECT_THAT(r.err, HasSubstr("xxx\": the path is too long"));
    EXPECT_EQ(targetItems(), (std::map<std::string, std::string>{{"after.txt", "file after"}}));
}

TEST_F(HostileArchive, ArchiveCutAtEveryOffsetIsNeverTakenForWhole) {
    // Under a sanitizer a tree of three entries (about 150 bytes) instead of six.
    const std::vector<uint8_t> whole =
        kSanitizedBuild ? ArchiveBuilder().folder(0, u"T").file(1, u"a.txt", "abc").file(0, u"top", "xy").bytes()
                        : smallTree().bytes();
    for (size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE("archive cut to " + std::to_string(length) + " of " + std::to_string(whole.size()) + " bytes");
        clearTarget();
        const ProcessResult r = extract(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(length)));
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_THAT(r.err, AnyOf(HasSubstr("qex: invalid archive"), HasSubstr("qex: " + kNotAnArchive), kDamageMessage));
        if (HasFailure()) break;  // one cut's report is enough
    }
}

TEST_F(HostileArchive, TestFindsBytesBetweenTheStreamsEndAndTheDirectory) {
    // The decoder reads exactly the bytes the encoder wrote: one byte more or
    // less before the directory is damage, though every file matches.
    const auto testOf = [&](const ArchiveBuilder& b) {
        writeFileBytes(archive, b.text());
        return runQex({"t", archive.string()});
    };
    ArchiveBuilder b = smallTree();
    EXPECT_EQ(testOf(b).exitCode, 0);
    const std::vector<uint8_t> stream = b.streamBytes();
    b.stream = stream;
    b.stream->push_back(0);
    ProcessResult r = testOf(b);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.err, HasSubstr("1 byte lies between the stream's end and the directory"));
    b.stream->assign(stream.begin(), stream.end() - 1);
    r = testOf(b);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.err, HasSubstr("the stream ends 1 byte inside the directory"));
}

TEST_F(HostileArchive, DamagedStreamsUnderAnIntactDirectoryAreReportedAsDamage) {
    const ArchiveBuilder intact = smallTree();
    const std::vector<uint8_t> stream = intact.streamBytes();
    ASSERT_GT(stream.size(), 12u);
    // Cut in half; random bytes; bit flips within the coded data (past the
    // coder's carry byte, before its flush), each changing what is decoded.
    std::vector<std::vector<uint8_t>> damaged{{stream.begin(), stream.begin() + static_cast<long>(stream.size() / 2)}};
    damaged.push_back(patternBytes(300, 11));
    for (const size_t offset : {size_t{1}, size_t{2}, stream.size() / 3, stream.size() / 2, stream.size() - 6}) {
        for (const int bit : {0, 7}) {
            damaged.push_back(stream);
            damaged.back()[offset] ^= static_cast<uint8_t>(1u << bit);
        }
    }
    for (size_t k = 0; k < damaged.size(); ++k) {
        SCOPED_TRACE("damaged stream " + std::to_string(k));
        ArchiveBuilder b = intact;
        b.stream = damaged[k];
        clearTarget();
        const ProcessResult r = extract(b.bytes());
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_THAT(r.err, kDamageMessage);
    }
}

TEST_F(HostileArchive, FileSizesThatDisagreeWithTheStreamAreReported) {
    // 2^40 - 1 bytes announced, four in the stream: nothing may try to
    // allocate or wait for the rest.
    ArchiveBuilder huge = ArchiveBuilder().file(0, u"huge", "tiny");
    setEntrySize(huge.entries[0], kMaxFileBytes);
    ProcessResult r = extract(huge.bytes());
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_THAT(r.err, HasSubstr("qex: incomplete file \"" + (target / "huge").string() + "\""));

    // The stream holds bytes that no entry takes: the files themselves are
    // right, and the archive is still reported as damaged.
    clearTarget();
    ArchiveBuilder fewer = ArchiveBuilder().file(0, u"a.txt", "abc");
    fewer.contents += "surplus";
    r = extract(fewer.bytes());
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_THAT(r.err, HasSubstr("qex: damaged archive"));
    EXPECT_EQ(describeItem(target / "a.txt"), "file abc");
}

TEST_F(HostileArchive, SecondEntryWithTheSameNameReplacesTheFirst) {
    const ProcessResult r = extract(ArchiveBuilder()
                                        .file(0, u"same", "first")
                                        .file(0, u"same", "second")
                                        .folder(0, u"dir")
                                        .file(1, u"x", "x")
                                        .folder(0, u"dir")
                                        .file(1, u"y", "y")
                                        .bytes());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(targetItems(), (std::map<std::string, std::string>{
                                 {"same", "file second"}, {"dir", "folder"}, {"dir/x", "file x"}, {"dir/y", "file y"}}));
}

TEST_F(HostileArchive, FileThisRunExtractedIsNeverReplacedThroughAnotherName) {
    // Two spellings of one file (as names differing in case on a file system
    // that ignores case; here a link): the first stays, the later is refused.
    fs::create_directory(target / "d");
    fs::create_directory_symlink("d", target / "alias");
    const ProcessResult r = extract(
        ArchiveBuilder().folder(0, u"d").file(1, u"f", "first").folder(0, u"alias").file(1, u"f", "second").bytes());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err, "qex: cannot create file \"" + (target / "alias/f").string() + "\": \"" +
                         (target / "d/f").string() + "\", extracted earlier by this run, has that name here (it is kept)\n");
    EXPECT_EQ(readFileBytes(target / "d/f"), "first");
}

TEST_F(HostileArchive, FolderOfTheSameNameIsKeptOverAFileOrLinkInEitherOrder) {
    // Before: a file before its folder of the same name raced the folder, and
    // a link before it led the files below wherever it pointed once main had
    // to wait for room in the job ring (the long names between fill it).
    const std::string refused = "\"" + (target / "d").string() + "\": the archive holds a folder of that name, which is kept\n";
    for (const bool folderFirst : {false, true}) {
        SCOPED_TRACE(folderFirst);
        clearTarget();
        ArchiveBuilder b;
        if (!folderFirst) b.file(0, u"d", "file").link(0, u"d", ".");
        for (char16_t k = 0; k < 600; ++k) b.file(0, std::u16string(200, u'p') + static_cast<char16_t>(u'A' + k), "p");
        b.folder(0, u"d").file(1, u".bashrc", "inner");
        if (folderFirst) b.file(0, u"d", "file").link(0, u"d", ".");
        const ProcessResult r = extract(b.bytes());
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_THAT(r.err, HasSubstr("qex: cannot create file " + refused));
        EXPECT_THAT(r.err, HasSubstr("qex: cannot create symbolic link " + refused));
        EXPECT_EQ(describeItem(target / "d"), "folder");
        EXPECT_EQ(describeItem(target / "d" / ".bashrc"), "file inner");
        EXPECT_FALSE(fs::exists(target / ".bashrc"));
    }
}

TEST_F(HostileArchive, ItemsAlreadyInTheTargetOfTheOtherKindAreLeftAlone) {
    writeFileBytes(target / "d", "mine");
    fs::create_directory(target / "f");
    const ProcessResult r =
        extract(ArchiveBuilder().folder(0, u"d").file(1, u"inner", "lost").file(0, u"f", "theirs").file(0, u"z", "z").bytes());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("qex: cannot create folder \"" + (target / "d").string() + "\""));
    EXPECT_THAT(r.err, HasSubstr("qex: cannot create file \"" + (target / "f").string() + "\""));
    EXPECT_EQ(targetItems(), (std::map<std::string, std::string>{{"d", "file mine"}, {"f", "folder"}, {"z", "file z"}}));
}

TEST_F(HostileArchive, LinksThatLeaveTheTargetAreMadeButNeverFollowed) {
    // The links come out as stored, wherever they lead: two folder links to
    // the scratch folder's "outside" and a file link to a file there.
    ProcessResult r = extract(ArchiveBuilder()
                                  .link(0, u"d", (scratch / "outside").string())
                                  .link(0, u"relative", "../../../outside")
                                  .link(0, u"sentinel", (scratch / "outside" / "sentinel").string())
                                  .bytes());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(describeItem(target / "relative"), "link to ../../../outside");
    // A later archive names a folder and a file exactly like them: the
    // folders are refused, saying why; the file link is replaced by the
    // archived file (never written through).
    r = extract(ArchiveBuilder()
                    .folder(0, u"d")
                    .file(1, u"planted", "evil")
                    .file(0, u"sentinel", "archived")
                    .folder(0, u"relative")
                    .file(1, u"planted", "evil")
                    .file(0, u"z", "z")
                    .bytes());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    for (const char* link : {"d", "relative"})
        EXPECT_THAT(r.err, HasSubstr("qex: cannot create folder \"" + (target / link).string() +
                                     "\": leads outside the target folder; its 1 item is not restored either\n"));
    EXPECT_EQ(describeItem(scratch / "outside" / "sentinel"), "file keep me");
    EXPECT_FALSE(fs::exists(fs::symlink_status(scratch / "outside" / "planted")));
    EXPECT_EQ(describeItem(target / "sentinel"), "file archived");
    EXPECT_EQ(describeItem(target / "z"), "file z");
}

TEST_F(HostileArchive, LinksThatStayInsideTheTargetAreFollowed) {
    // What is archived below a folder link that stays within the target lands
    // where it leads; an absolute one is read from the system's root, here
    // through a link outside the target that leads back into it.
    fs::create_directories(target / "real" / "sub");
    fs::create_directory_symlink("real", target / "d");
    fs::create_directory_symlink(target, scratch / "alias");
    fs::create_directory_symlink(scratch / "alias" / "real" / "sub", target / "a");
    const ProcessResult r = extract(
        ArchiveBuilder().folder(0, u"d").file(1, u"x", "inside").folder(0, u"a").file(1, u"y", "absolute").bytes());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(describeItem(target / "real" / "x"), "file inside");
    EXPECT_EQ(describeItem(target / "real" / "sub" / "y"), "file absolute");
}

TEST_F(HostileArchive, LinkTargetsNoLinkCanHoldAreRefusedAndTheRestExtracted) {
    writeFileBytes(target / "fine", "replaced by the link");
    const ProcessResult r = extract(ArchiveBuilder()
                                        .link(0, u"empty", "")
                                        .link(0, u"huge", std::string(kMaxLinkTargetBytes + 1, 'a'))
                                        .link(0, u"nul", std::string("a\0b", 3))
                                        .file(0, u"after", "ok")
                                        .link(0, u"fine", "after")
                                        .bytes());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const auto refused = [&](const char* name, const std::string& reason) {
        return HasSubstr("qex: cannot create symbolic link \"" + (target / name).string() + "\": " + reason);
    };
    EXPECT_THAT(r.err, refused("empty", "the link target is empty"));
    EXPECT_THAT(r.err, refused("huge", "the link target is longer than 4095 bytes"));
    EXPECT_THAT(r.err, refused("nul", "the link target holds a NUL byte"));
    EXPECT_EQ(targetItems(), (std::map<std::string, std::string>{{"after", "file ok"}, {"fine", "link to after"}}));
}

TEST_F(HostileArchive, TimeStampsBeyondTheFileSystemsRangeDoNotStopExtraction) {
    // 0 means "no time stored"; the others lie far past any file system's
    // range and are clamped by it.
    ArchiveBuilder b;
    for (const auto& [time, suffix] : std::map<uint64_t, std::u16string>{
             {0, u"0"}, {1, u"1"}, {INT64_MAX, u"63"}, {UINT64_MAX, u"64"}}) {
        ArchiveEntry folder;
        folder.attributes = kAttributeDirectory;
        folder.creationTime = folder.lastWriteTime = folder.lastAccessTime = time;
        b.add(folder, u"folder" + suffix);
        b.file(1, u"file", "content");
        b.entries.back().creationTime = b.entries.back().lastWriteTime = b.entries.back().lastAccessTime = time;
    }
    const ProcessResult r = extract(b.bytes());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* name : {"folder0", "folder1", "folder63", "folder64"})
        EXPECT_EQ(describeItem(target / name / "file"), "file content") << name;
}

}  // namespace
}  // namespace qex::test
