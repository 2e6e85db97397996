// Trees that come back whole, by the executable: hard links come back as
// one file with all its names (a name whose first name was not extracted is
// refused); runs of zero blocks come back as holes with the file's full
// size; root gets the stored owners back
// (ids of 65,536 and above are not stored), an ordinary user does not, and
// entries without the owner bit never have their access time read as ids.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "frontend/archive_fixture.h"
#include "platform/unix_owner.h"
#include "support/archive_builder.h"

namespace qex {
namespace {

using test::runQex;
using test::runShell;
namespace fs = std::filesystem;

class WholeTrees : public test::ScratchFolderTest {
protected:
    struct stat statOf(const std::string& relative) {
        struct stat st {};
        EXPECT_EQ(lstat(at(relative).c_str(), &st), 0) << relative;
        return st;
    }
    // `stat` of the named items below `folder`, one line each.
    std::string statLines(const std::string& folder, const std::string& format, const std::string& items) {
        const test::ProcessResult r = runShell("cd '" + at(folder) + "' && stat -c '" + format + "' " + items);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    }
    void owned(const std::string& relative, uid_t owner, gid_t group, mode_t mode) {
        ASSERT_EQ(lchown(at(relative).c_str(), owner, group), 0) << relative;
        ASSERT_EQ(chmod(at(relative).c_str(), mode), 0) << relative;
    }
};

TEST_F(WholeTrees, HardLinksComeBackAsOneFileWithAllItsNames) {
    folder("T/sub");
    file("T/f", std::string(10000, 'f'));
    file("T/lone", "one name");
    ASSERT_EQ(link(at("T/f").c_str(), at("T/g").c_str()), 0);      // same folder
    ASSERT_EQ(link(at("T/f").c_str(), at("T/sub/h").c_str()), 0);  // another folder
    ASSERT_EQ(symlink("f", at("T/sym").c_str()), 0);
    if (geteuid() == 0) owned("T/f", 1000, 100, 04750);
    ASSERT_EQ(runQex({"a", at("t.qex"), at("T")}).exitCode, 0);

    folder("out");
    const auto r = runQex({"x", at("t.qex"), at("out")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(runShell("diff -r --no-dereference '" + at("T") + "' '" + at("out/T") + "'").exitCode, 0);
    // Owners, blocks and link counts as root; without owners otherwise.
    const std::string format = geteuid() == 0 ? "%n %a %U %G %h %b" : "%n %a %h %b";
    const std::string items = ". f g lone sub sub/h sym";
    EXPECT_EQ(statLines("out/T", format, items), statLines("T", format, items));
    EXPECT_EQ(statOf("out/T/g").st_ino, statOf("out/T/f").st_ino);
    EXPECT_EQ(statOf("out/T/sub/h").st_ino, statOf("out/T/f").st_ino);

    // Asked for without its first name: refused, with a message.
    folder("part");
    const auto part = runQex({"x", at("t.qex"), at("part"), "T/sub/h", "T/lone"});
    EXPECT_EQ(part.exitCode, 1);
    EXPECT_NE(part.err.find("cannot create hard link"), std::string::npos) << part.err;
    EXPECT_NE(part.err.find("its first name T/f was not extracted"), std::string::npos) << part.err;
    EXPECT_FALSE(fs::exists(at("part/T/sub/h")));
    EXPECT_EQ(test::readFileBytes(at("part/T/lone")), "one name");
}

TEST_F(WholeTrees, ZeroBlocksComeBackAsHolesAndTheFileKeepsItsFullSize) {
    folder("T");
    file("T/a", "x");  // the sparse file's bytes start inside a chunk of the stream
    file("T/zeros", std::string(100, '\0'));  // shorter than a block: written as it is
    file("T/dense", std::string(200000, 'd'));
    // 8 MiB + 100 bytes: a hole, "data" across a block boundary at 3 MiB,
    // and a hole to the end, whose last block is partial.
    const int fd = open(at("T/sparse").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "data", 4, (3 << 20) - 2), 4);
    ASSERT_EQ(ftruncate(fd, (8 << 20) + 100), 0);
    close(fd);
    if (statOf("T/sparse").st_blocks * 512 >= (1 << 20)) GTEST_SKIP() << "this file system makes no holes";

    ASSERT_EQ(runQex({"a", at("t.qex"), at("T")}).exitCode, 0);
    folder("out");
    const auto r = runQex({"x", at("t.qex"), at("out")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(runShell("diff -r '" + at("T") + "' '" + at("out/T") + "'").exitCode, 0);
    EXPECT_EQ(statLines("out/T", "%n %s %b", "sparse dense zeros"), statLines("T", "%n %s %b", "sparse dense zeros"));
    EXPECT_GT(statOf("out/T/zeros").st_blocks, 0);
}

TEST_F(WholeTrees, RootGetsTheStoredOwnersBackBeforeTheModes) {
    if (geteuid() != 0) GTEST_SKIP() << "only root restores owners";
    folder("T/shared");
    file("T/setuid", "binary");
    file("T/nobody", "n");
    file("T/big-id", "b");
    ASSERT_EQ(symlink("setuid", at("T/link").c_str()), 0);
    owned("T/shared", 1000, 100, 02775);
    owned("T/setuid", 1000, 100, 04755);
    owned("T/nobody", 65534, 65534, 0640);
    owned("T/big-id", 70000, 5, 0644);  // an owner id that does not fit: not stored
    ASSERT_EQ(lchown(at("T/link").c_str(), 1234, 4321), 0);

    ASSERT_EQ(runQex({"a", at("t.qex"), at("T")}).exitCode, 0);
    const auto listing = runQex({"l", at("t.qex")});
    EXPECT_NE(listing.out.find("-rwsr-xr-x 1000/100 "), std::string::npos) << listing.out;
    // No ids on big-id's line: no "/" before its path.
    const size_t bigId = listing.out.find(" T/big-id\n");
    ASSERT_NE(bigId, std::string::npos) << listing.out;
    const size_t lineStart = listing.out.rfind('\n', bigId) + 1;
    EXPECT_EQ(listing.out.substr(lineStart, bigId - lineStart).find('/'), std::string::npos) << listing.out;
    folder("out");
    const auto r = runQex({"x", at("t.qex"), at("out")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(runShell("diff -r --no-dereference '" + at("T") + "' '" + at("out/T") + "'").exitCode, 0);
    EXPECT_EQ(statLines("out/T", "%n %a %u %g", "shared setuid nobody big-id link"),
              "shared 2775 1000 100\n"
              "setuid 4755 1000 100\n"
              "nobody 640 65534 65534\n"
              "big-id 644 0 0\n"
              "link 777 1234 4321\n");
}

TEST_F(WholeTrees, OrdinaryUserKeepsTheItemsAsItsOwn) {
    if (geteuid() == 0 && access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv to drop privileges";
    folder("T");
    file("T/f", "content");
    folder("out");
    if (geteuid() == 0) {
        owned("T/f", 1000, 100, 0644);
        owned("out", 65534, 65534, 0755);
    }
    ASSERT_EQ(runQex({"a", at("t.qex"), at("T")}).exitCode, 0);
    const auto r = runShell(test::asOrdinaryUser(std::string(QEX_EXE) + " x " + at("t.qex") + " " + at("out")));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string me = geteuid() == 0 ? "65534" : std::to_string(geteuid());
    EXPECT_EQ(statLines("out/T", "%n %u", ". f"), ". " + me + "\nf " + me + "\n");
}

TEST_F(WholeTrees, AccessTimeHoldsIdsOnlyUnderTheOwnerBit) {
    if (geteuid() != 0) GTEST_SKIP() << "only root restores owners";
    // An older archive's marked entry: its access time's low bits are time.
    constexpr uint64_t kLowBits = 0x00650064;  // would read as 100/101
    test::ArchiveBuilder b;
    b.file(0, u"older", "o");
    b.file(0, u"owned", "w");
    for (ArchiveEntry& e : b.entries) {
        e.attributes |= kAttributeUnixMode;
        e.creationTime = withUnixMode(e.creationTime, 0100644);
        e.lastAccessTime = (e.lastAccessTime & ~kOwnerIdBits) | kLowBits;
    }
    b.entries.back().attributes |= kAttributeOwnerIds;
    test::writeFileBytes(at("a.qex"), b.text());
    folder("out");
    const auto r = runQex({"x", at("a.qex"), at("out")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const uint64_t stored = b.entries[0].lastAccessTime;
    auto ticksOf = [](const struct stat& st) {
        return (static_cast<uint64_t>(st.st_atim.tv_sec) + 11644473600) * 10000000 + st.st_atim.tv_nsec / 100;
    };
    const struct stat older = statOf("out/older");
    EXPECT_EQ(older.st_uid, 0u);
    EXPECT_EQ(ticksOf(older), stored);
    const struct stat owned = statOf("out/owned");
    EXPECT_EQ(owned.st_uid, 100u);
    EXPECT_EQ(owned.st_gid, 101u);
    EXPECT_EQ(ticksOf(owned), stored & ~kOwnerIdBits);
}

}  // namespace
}  // namespace qex
