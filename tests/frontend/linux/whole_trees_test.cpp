// Trees that come back whole through add and extract, by the executable, as
// `diff -r --no-dereference` and `stat` see them: modes and links (for an
// ordinary user less the umask and set-user-ID), hard links, holes, FIFOs,
// and the stored owners for root. Entries without the marker or the owner
// bit never have their creation or access time read as mode or ids.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

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
    // `diff -r` finds no difference; links compared as links unless `options` is empty.
    bool sameContents(const std::string& a, const std::string& b, std::string options = "--no-dereference") {
        return runShell("diff -r " + options + " '" + at(a) + "' '" + at(b) + "'").exitCode == 0;
    }
};

TEST_F(WholeTrees, ModesAndLinksComeBackForAnOrdinaryUserWithTheUmaskAndNoSetUserId) {
    // Modes 700, 600, 755, 644 and 4755, a script, a folder closed to writing,
    // and links relative, absolute, dangling, looping and to a folder.
    folder("T/private");
    folder("T/closed");
    file("T/private/key", "secret");
    file("T/script.sh", "#!/bin/sh\necho ran\n");
    file("T/notes", "notes");
    file("T/setuid", "binary");
    file("T/closed/inside", "in");
    for (const auto& [path, mode] : std::map<std::string, mode_t>{{"T", 0755},
                                                                    {"T/private", 0700},
                                                                    {"T/private/key", 0600},
                                                                    {"T/script.sh", 0755},
                                                                    {"T/notes", 0644},
                                                                    {"T/setuid", 04755},
                                                                    {"T/closed/inside", 0644},
                                                                    {"T/closed", 0500}})
        ASSERT_EQ(chmod(at(path).c_str(), mode), 0) << path;
    ASSERT_EQ(symlink("notes", at("T/relative").c_str()), 0);
    ASSERT_EQ(symlink("/etc", at("T/absolute").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", at("T/dangling").c_str()), 0);
    ASSERT_EQ(symlink("loop", at("T/loop").c_str()), 0);
    ASSERT_EQ(symlink("private", at("T/folder-link").c_str()), 0);
    folder("out");
    // As root: the user's own tree, but notes stored with another owner,
    // which the ordinary user does not get back.
    if (geteuid() == 0) {
        const std::string owners = "chown -R nobody:nogroup '" + at("T") + "' '" + at("out") + "'";
        const std::string notes = "chown 1000:100 '" + at("T/notes") + "'";
        ASSERT_EQ(runShell(owners + " && " + notes + " && chmod 4755 '" + at("T/setuid") + "'").exitCode, 0);
    }
    const std::string qex = std::string(QEX_EXE);
    const std::string archive = at("out/t.qex");
    const std::string run = "umask 027 && " + qex + " a " + archive + " " + at("T") + " && " + qex + " x " +
                            archive + " " + at("out");
    std::vector<std::string> args = test::ordinaryUserArgs();
    if (geteuid() == 0 && args.empty()) GTEST_SKIP() << "running as root without setpriv";
    args.insert(args.end(), {"/bin/sh", "-c", run});
    const auto r = test::runProcess(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(sameContents("T", "out/T"));
    // Stored bits less the umask 027, less set-user-ID; links stay 777.
    const std::string all = ". private private/key script.sh notes setuid closed closed/inside relative "
                            "absolute dangling loop folder-link";
    EXPECT_EQ(statLines("out/T", "%n %a %F", all),
              ". 750 directory\n"
              "private 700 directory\n"
              "private/key 600 regular file\n"
              "script.sh 750 regular file\n"
              "notes 640 regular file\n"
              "setuid 750 regular file\n"
              "closed 500 directory\n"
              "closed/inside 640 regular file\n"
              "relative 777 symbolic link\n"
              "absolute 777 symbolic link\n"
              "dangling 777 symbolic link\n"
              "loop 777 symbolic link\n"
              "folder-link 777 symbolic link\n");
    EXPECT_EQ(statLines("out/T", "%n %Y", all), statLines("T", "%n %Y", all));
    const std::string me = geteuid() == 0 ? "65534" : std::to_string(geteuid());
    EXPECT_EQ(statLines("out/T", "%n %u", ". notes"), ". " + me + "\nnotes " + me + "\n");
    EXPECT_EQ(runShell(at("out/T/script.sh")).out, "ran\n");
}

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
    EXPECT_TRUE(sameContents("T", "out/T"));
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
    EXPECT_TRUE(sameContents("T", "out/T", ""));
    EXPECT_EQ(statLines("out/T", "%n %s %b", "sparse dense zeros"), statLines("T", "%n %s %b", "sparse dense zeros"));
    EXPECT_GT(statOf("out/T/zeros").st_blocks, 0);
}

TEST_F(WholeTrees, FifosComeBackAsFifosAndSocketsAreLeftOutWithANote) {
    folder("S");
    ASSERT_EQ(mkfifo(at("S/pipe").c_str(), 0640), 0);
    const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = at("S/sock");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    close(listening);
    auto r = runQex({"-q", "a", at("s.qex"), at("S")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "qex: skipping socket \"" + socketPath + "\"\n");
    const std::string listing = runQex({"-q", "l", at("s.qex")}).out;
    // Type p, its bits, size 0 (after the owner column).
    const size_t fifoLine = listing.find("\nprw-r----- ");
    ASSERT_NE(fifoLine, std::string::npos) << listing;
    EXPECT_NE(listing.find(" 0 ", fifoLine), std::string::npos);
    EXPECT_EQ(listing.substr(listing.find('\n', fifoLine + 1) - 15), "00000000 S/pipe\n");
    // Made within the target with the stored bits and time; a file of its
    // name is replaced, as by a file.
    folder("out/S");
    file("out/S/pipe", "old");
    r = runQex({"x", at("s.qex"), at("out")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(statLines("out/S", "%n %a %F %Y", "pipe"), statLines("S", "%n %a %F %Y", "pipe"));
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
    EXPECT_TRUE(sameContents("T", "out/T"));
    EXPECT_EQ(statLines("out/T", "%n %a %u %g", "shared setuid nobody big-id link"),
              "shared 2775 1000 100\n"
              "setuid 4755 1000 100\n"
              "nobody 640 65534 65534\n"
              "big-id 644 0 0\n"
              "link 777 1234 4321\n");
}

TEST_F(WholeTrees, EntriesWithoutTheMarkerOrOfAnotherTypeAreFiles) {
    test::ArchiveBuilder b;
    // Unmarked: low bits that would read as a link (0120777) mean nothing.
    b.file(0, u"unmarked", "plain");
    b.entries.back().creationTime = withUnixMode(b.entries.back().creationTime, 0120777);
    // Marked as a FIFO (0010640): a file with the stored permission bits.
    b.file(0, u"fifo", "data");
    b.entries.back().attributes |= kAttributeUnixMode;
    b.entries.back().creationTime = withUnixMode(b.entries.back().creationTime, 0010640);
    test::writeFileBytes(at("a.qex"), b.text());
    folder("out");
    const auto r = runShell("umask 022 && " + std::string(QEX_EXE) + " x " + at("a.qex") + " " + at("out"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::readFileBytes(at("out/unmarked")), "plain");
    EXPECT_EQ(statLines("out", "%n %a %F", "unmarked fifo"),
              "unmarked 644 regular file\nfifo 640 regular file\n");
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
