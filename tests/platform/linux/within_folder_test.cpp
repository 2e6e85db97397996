// Creating items below an extraction target never leaves the target.
#include "platform/within_folder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/file_identity.h"
#include "support/file_bytes.h"
#include "support/pending_file_write.h"
#include "support/scratch_folder.h"
#include "support/tree_snapshot.h"

namespace qex {
namespace {

namespace fs = std::filesystem;

class TargetFolder : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(base.empty());
        fs::create_directory(base + "/target");
        fs::create_directory(base + "/outside");
        const SystemResult<FileHandle> opened = openTargetFolder((base + "/target").c_str());
        ASSERT_TRUE(opened.ok()) << opened.error;
        target.target = opened.value;
    }
    void TearDown() override {
        if (target.target != kNoFile) close(target.target);
    }
    void link(const std::string& to, const std::string& at) {
        ASSERT_EQ(symlink(to.c_str(), (base + "/target/" + at).c_str()), 0);
    }
    int writeWithin(const char* path, const std::string& content) {
        return test::writeThroughPendingFile(target, path, content);
    }
    std::string read(const std::string& path) { return test::readFileBytes(path); }
    // The names in the target, sorted: a temporary left behind shows here.
    std::vector<std::string> targetNames() const { return test::namesIn(base + "/target"); }

    test::ScratchFolder scratch;
    const std::string base = scratch.root().string();
    FolderCursor target{kNoFile};
};

TEST_F(TargetFolder, FoldersAreCreatedOrKeptAndOnlyAFolderOpensAsTheTarget) {
    EXPECT_EQ(openTargetFolder((base + "/absent").c_str()).error, ENOENT);
    std::ofstream(base + "/plain") << "x";
    EXPECT_EQ(openTargetFolder((base + "/plain").c_str()).error, ENOTDIR);
    SystemResult<bool> made = makeFolderWithin(target, "a");
    EXPECT_TRUE(made.ok());
    EXPECT_TRUE(made.value);
    made = makeFolderWithin(target, "a/b");
    EXPECT_TRUE(made.ok());
    EXPECT_TRUE(made.value);
    EXPECT_TRUE(fs::is_directory(base + "/target/a/b"));
    // New: open to its owner only until extraction gives it its mode.
    EXPECT_EQ(fs::status(base + "/target/a/b").permissions(), fs::perms::owner_all);
    // An existing folder stays, with its permissions.
    ASSERT_EQ(chmod((base + "/target/a").c_str(), 0750), 0);
    made = makeFolderWithin(target, "a");
    EXPECT_TRUE(made.ok());
    EXPECT_FALSE(made.value);
    struct stat st {};
    ASSERT_EQ(stat((base + "/target/a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    // A file in the way is an error, not replaced.
    std::ofstream(base + "/target/f") << "x";
    EXPECT_EQ(makeFolderWithin(target, "f").error, ENOTDIR);
    // A missing parent is an error, not created on the way.
    EXPECT_EQ(makeFolderWithin(target, "no/such").error, ENOENT);
}

TEST_F(TargetFolder, LinkLeavingTheTargetIsNeverFollowed) {
    link(base + "/outside", "abs");
    link("../outside", "rel");
    for (const char* through : {"abs", "rel"}) {
        const std::string folder = std::string(through) + "/sub";
        EXPECT_NE(makeFolderWithin(target, folder.c_str()).error, 0) << through;
        const std::string file = std::string(through) + "/file";
        EXPECT_EQ(createPendingFile(target, file.c_str()).error, EXDEV) << through;
        // The folder the link names exists: neither "made again" nor opened for its times.
        EXPECT_NE(makeFolderWithin(target, through).error, 0) << through;
        EXPECT_NE(openFolderWithin(target, through).error, 0) << through;
    }
    fs::create_directory(base + "/target/d");
    const SystemResult<FileHandle> d = openFolderWithin(target, "d");
    EXPECT_TRUE(d.ok());
    if (d.ok()) close(d.value);
    EXPECT_TRUE(fs::is_empty(base + "/outside"));
}

TEST_F(TargetFolder, FileInTheWayIsReplacedNeverWrittenThroughButAFolderFifoOrTheArchiveStays) {
    // A link as the file itself, and a hard link to a file outside: both
    // names are replaced; the files outside keep their content.
    std::ofstream(base + "/outside/victim") << "keep";
    std::ofstream(base + "/outside/linked") << "keep too";
    link(base + "/outside/victim", "f");
    ASSERT_EQ(::link((base + "/outside/linked").c_str(), (base + "/target/h").c_str()), 0);
    EXPECT_EQ(writeWithin("f", "new f"), 0);
    EXPECT_EQ(writeWithin("h", "new h"), 0);
    EXPECT_EQ(read(base + "/outside/victim"), "keep");
    EXPECT_EQ(read(base + "/outside/linked"), "keep too");
    EXPECT_EQ(read(base + "/target/f"), "new f");
    EXPECT_EQ(read(base + "/target/h"), "new h");
    EXPECT_FALSE(fs::is_symlink(base + "/target/f"));
    // A folder, a FIFO or the file being read stays; the temporary goes.
    ASSERT_EQ(mkfifo((base + "/target/pipe").c_str(), 0644), 0);
    fs::create_directory(base + "/target/d");
    std::ofstream(base + "/target/archive") << "archive";
    const SystemResult<FileHandle> archive = openForRead((base + "/target/archive").c_str());
    ASSERT_TRUE(archive.ok());
    const FileIdentity untouchable = identityOfFile(archive.value);
    EXPECT_TRUE(closeFile(archive.value).ok());
    EXPECT_EQ(writeWithin("pipe", "x"), EEXIST);
    EXPECT_EQ(writeWithin("d", "x"), EISDIR);
    SystemResult<PendingFile> pending = createPendingFile(target, "archive");
    ASSERT_TRUE(pending.ok());
    EXPECT_TRUE(closeFile(pending.value.file).ok());
    pending.value.file = kNoFile;
    EXPECT_EQ(placePendingFile(pending.value, &untouchable).error, EBUSY);
    discardPendingFile(pending.value);
    EXPECT_EQ(read(base + "/target/archive"), "archive");
    EXPECT_EQ(targetNames(), (std::vector<std::string>{"archive", "d", "f", "h", "pipe"}));
}

TEST_F(TargetFolder, SymbolicLinkReplacesAFileOrLinkButNotAFolderFifoNorTheArchive) {
    fs::create_directory(base + "/target/d");
    std::ofstream(base + "/target/d/f") << "replaced";
    link("old", "l");
    std::ofstream(base + "/target/archive") << "keep";
    // 2020-01-01 00:00 UTC in archive ticks.
    constexpr uint64_t kTime = (uint64_t{1577836800} + 11644473600) * 10000000;
    EXPECT_TRUE(createSymbolicLinkWithin(target, "d/f", "../elsewhere", kTime, kTime).ok());
    EXPECT_TRUE(createSymbolicLinkWithin(target, "l", "new", kTime, kTime).ok());
    EXPECT_EQ(fs::read_symlink(base + "/target/d/f"), "../elsewhere");
    EXPECT_EQ(fs::read_symlink(base + "/target/l"), "new");
    struct stat st {};
    ASSERT_EQ(lstat((base + "/target/l").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1577836800);  // the link's own time
    EXPECT_EQ(createSymbolicLinkWithin(target, "d", "x", kTime, kTime).error, EISDIR);
    ASSERT_EQ(mkfifo((base + "/target/fifo").c_str(), 0600), 0);
    EXPECT_EQ(createSymbolicLinkWithin(target, "fifo", "x", kTime, kTime).error, EEXIST);
    const FileIdentity archive = identityOfPath((base + "/target/archive").c_str());
    EXPECT_EQ(createSymbolicLinkWithin(target, "archive", "x", kTime, kTime, &archive).error, EBUSY);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(base + "/target/archive")));
    // Only the items above are left: no temporary link stays behind.
    EXPECT_EQ(targetNames(), (std::vector<std::string>{"archive", "d", "fifo", "l"}));
}

TEST_F(TargetFolder, LinksOnTheWayAreFollowedWhereTheyStayInside) {
    fs::create_directories(base + "/target/in/deep");
    link("in", "relative");
    link(base + "/target/in", "absolute");
    link("../in/deep", "in/up");  // ".." within the target
    link("relative/up", "chained");
    for (const char* path : {"relative/a", "absolute/b", "in/up/c", "chained/d"})
        EXPECT_EQ(writeWithin(path, path), 0) << path;
    EXPECT_EQ(read(base + "/target/in/a"), "relative/a");
    EXPECT_EQ(read(base + "/target/in/b"), "absolute/b");
    EXPECT_EQ(read(base + "/target/in/deep/c"), "in/up/c");
    EXPECT_EQ(read(base + "/target/in/deep/d"), "chained/d");
    // Out by "..", to the target's own parent, or round in circles.
    link("../../outside", "in/out");
    link(base, "parent");
    link("loop", "loop");
    EXPECT_EQ(makeFolderWithin(target, "in/out/x").error, EXDEV);
    EXPECT_EQ(makeFolderWithin(target, "parent/target/x").error, EXDEV);
    EXPECT_EQ(makeFolderWithin(target, "../target/x").error, EXDEV);
    EXPECT_EQ(makeFolderWithin(target, "loop/x").error, ELOOP);
    EXPECT_TRUE(fs::is_empty(base + "/outside"));
}

}  // namespace
}  // namespace qex
