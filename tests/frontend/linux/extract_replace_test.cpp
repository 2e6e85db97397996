// What extraction does to what is already there, through the executable: an
// existing file is replaced, never written into; a file that fails leaves it
// and no temporary; damage stops at the first bad file; failures cost one
// line per folder and a bounded number of lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "frontend/archive_fixture.h"
#include "support/archive_builder.h"

namespace qex::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// An unprivileged user and group for the ordinary-user cases.
constexpr uid_t kNobody = 65534;
constexpr uint16_t kReadOnly = 0x01;

struct stat statOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

bool writable(const fs::path& path) { return (statOf(path).st_mode & 0222) != 0; }

class ExtractReplaces : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.empty());
        fs::create_directory(target);
    }

    void writeArchive(const ArchiveBuilder& builder) { writeFileBytes(archive, builder.text()); }

    // `qex x` of the archive into the target, as root or, with `asNobody`,
    // as an ordinary user (skipped where that cannot be arranged).
    ProcessResult extract(bool asNobody = false) {
        std::vector<std::string> args;
        if (asNobody && ::geteuid() == 0) {
            args = ordinaryUserArgs();
            for (const auto& item : fs::recursive_directory_iterator(target))
                EXPECT_EQ(::lchown(item.path().c_str(), kNobody, kNobody), 0);
            EXPECT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);
        }
        args.insert(args.end(), {QEX_EXE, "x", archive.string(), target.string()});
        ProcessResult result = runProcess(args);
        EXPECT_FALSE(result.timedOut);
        result.err = withoutSanitizerNotes(result.err);
        return result;
    }

    // Everything below the target; a leftover temporary shows up here too.
    std::map<std::string, std::string> targetItems() const { return treeItems(target); }

    ScratchFolder scratchFolder;
    const fs::path scratch = scratchFolder.root();
    const fs::path target = scratch / "target";
    const fs::path archive = scratch / "a.qex";
};

TEST_F(ExtractReplaces, HardLinkOutsideTheTargetKeepsItsContentTimesAndMode) {
    fs::create_directories(scratch / "outside");
    fs::create_directories(target / "s1");
    const fs::path secret = scratch / "outside" / "secret.txt";
    writeFileBytes(secret, "SECRET");
    ASSERT_EQ(::chmod(secret.c_str(), 0640), 0);
    ASSERT_EQ(::link(secret.c_str(), (target / "s1" / "a.txt").c_str()), 0);
    const struct stat before = statOf(secret);
    ArchiveBuilder b;
    b.folder(0, u"s1").file(1, u"a.txt", "hello");
    b.entries.back().attributes |= kReadOnly;
    writeArchive(b);

    const ProcessResult r = extract();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(secret), "SECRET");
    const struct stat after = statOf(secret);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_nlink, 1u);
    EXPECT_EQ(readFileBytes(target / "s1" / "a.txt"), "hello");
    EXPECT_NE(statOf(target / "s1" / "a.txt").st_ino, after.st_ino);
}

TEST_F(ExtractReplaces, ReadOnlyAndWritableFilesTradePlacesForRootAndAnOrdinaryUser) {
    // The target holds ro.txt and rw.txt the other way round: each run (the
    // second over the first one's result) gives both the archived content and bit.
    ArchiveBuilder b;
    b.file(0, u"ro.txt", "archived read-only").file(0, u"rw.txt", "archived writable");
    b.entries[0].attributes |= kReadOnly;
    writeArchive(b);
    for (const bool asNobody : {false, true}) {
        SCOPED_TRACE(asNobody ? "as an ordinary user" : "as the user running the tests");
        if (asNobody && ::geteuid() == 0 && ordinaryUserArgs().empty()) GTEST_SKIP() << "no setpriv";
        fs::remove_all(target);
        fs::create_directory(target);
        writeFileBytes(target / "ro.txt", "mine, writable");
        writeFileBytes(target / "rw.txt", "mine, read-only");
        ASSERT_EQ(::chmod((target / "rw.txt").c_str(), 0444), 0);
        for (int run = 1; run <= 2; ++run) {
            SCOPED_TRACE("run " + std::to_string(run));
            const ProcessResult r = extract(asNobody);
            EXPECT_EQ(r.exitCode, 0) << r.err;
            EXPECT_EQ(targetItems(), (std::map<std::string, std::string>{{"ro.txt", "file archived read-only"},
                                                                         {"rw.txt", "file archived writable"}}));
            EXPECT_FALSE(writable(target / "ro.txt"));
            EXPECT_TRUE(writable(target / "rw.txt"));
        }
    }
}

TEST_F(ExtractReplaces, FileThatCannotBeWrittenLeavesTheExistingOneAndNoTemporary) {
    // A file-size limit of 1 KiB makes writing the 4 KiB file fail half-way,
    // as a full file system does. Before: its signal ended the run without a
    // word and left the temporary.
    writeFileBytes(target / "big.bin", "existing");
    writeArchive(ArchiveBuilder().file(0, u"big.bin", std::string(4096, 'b')).file(0, u"after.txt", "after"));
    const std::string limited = "ulimit -f 2 && exec \"$0\" x \"$1\" \"$2\"";
    const ProcessResult r =
        runProcess({"/bin/sh", "-c", limited, QEX_EXE, archive.string(), target.string()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("qex: cannot write file \"" + (target / "big.bin").string() + "\": File too large"));
    EXPECT_EQ(targetItems(),
              (std::map<std::string, std::string>{{"big.bin", "file existing"}, {"after.txt", "file after"}}));
}

TEST_F(ExtractReplaces, DamageStopsExtractionAtTheFirstBadFileAndCreatesNothingAfterIt) {
    // 40 folders of 10 files of 2 KB, one byte flipped in the middle of the
    // stream; the "keep" file already in a later folder must stay.
    ArchiveBuilder b;
    std::vector<std::pair<std::string, std::string>> files;  // path and content, in stream order
    for (int folder = 0; folder < 40; ++folder) {
        const std::string name = "d" + std::to_string(100 + folder);
        b.folder(0, std::u16string(name.begin(), name.end()));
        for (int file = 0; file < 10; ++file) {
            const std::string fileName = "f" + std::to_string(file);
            std::string content;
            while (content.size() < 2000) content.append(fileName).append(name).append(std::to_string(content.size()));
            b.file(1, std::u16string(fileName.begin(), fileName.end()), content);
            files.emplace_back(name + "/" + fileName, content);
        }
    }
    std::vector<uint8_t> stream = b.streamBytes();
    stream[stream.size() / 2] ^= 0x10;
    b.stream = stream;
    writeArchive(b);
    fs::create_directories(target / "d139");
    writeFileBytes(target / "d139" / "f9", "keep");

    const ProcessResult r = extract();
    EXPECT_EQ(r.exitCode, 2) << r.err;
    size_t restored = 0;
    while (restored < files.size() && fs::exists(target / files[restored].first)) ++restored;
    ASSERT_GT(restored, 0u);
    ASSERT_LT(restored, files.size() - 1);
    // One line: the damaged file, and how many items were not restored.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr(files[restored].first));
    EXPECT_THAT(r.err, HasSubstr("items after it are not restored\n"));
    // The files before it, each whole, and the folders up to its own; then
    // nothing but what was there before.
    std::map<std::string, std::string> expected{{"d139", "folder"}, {"d139/f9", "file keep"}};
    for (size_t k = 0; k <= restored; ++k) {
        expected[files[k].first.substr(0, 4)] = "folder";
        if (k < restored) expected[files[k].first] = "file " + files[k].second;
    }
    EXPECT_EQ(targetItems(), expected);
}

TEST_F(ExtractReplaces, FolderThatCannotBeMadeIsOneLineForAllItsItems) {
    // The hostile case: one folder of a 30,000-character name, 10,000 empty
    // files below it, then an ordinary file.
    ArchiveBuilder b;
    b.folder(0, std::u16string(30000, u'n'));
    for (int k = 0; k < 10000; ++k) b.file(1, std::u16string(1, static_cast<char16_t>(u'a' + k % 26)), "");
    b.file(0, u"after.txt", "after");
    writeArchive(b);
    const ProcessResult r = extract();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err, "qex: cannot create folder \"" + (target / std::string(30000, 'n')).string() +
                         "\": File name too long; its 10,000 items are not restored either\n");
    EXPECT_EQ(targetItems(), (std::map<std::string, std::string>{{"after.txt", "file after"}}));
}

TEST_F(ExtractReplaces, ManyFailingItemsGiveFiftyLinesAndACount) {
    // 300 files whose 300-byte names (all different) no Linux file system takes.
    ArchiveBuilder b;
    for (int k = 0; k < 300; ++k)
        b.file(0, std::u16string(298, u'n') + static_cast<char16_t>(u'a' + k % 26) + static_cast<char16_t>(u'a' + k / 26), "x");
    b.file(0, u"after.txt", "after");
    writeArchive(b);
    const ProcessResult r = extract();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 51);
    EXPECT_EQ(r.err.rfind("qex: cannot create file \"" + (target / (std::string(298, 'n') + "aa")).string() +
                              "\": File name too long\n", 0), 0u) << r.err.substr(0, 400);
    EXPECT_THAT(r.err, HasSubstr("qex: and 250 more items could not be restored\n"));
    EXPECT_EQ(targetItems(), (std::map<std::string, std::string>{{"after.txt", "file after"}}));
}

}  // namespace
}  // namespace qex::test
