// Unix modes and symbolic links through add and extract, by the executable:
// a tree comes back item by item as `diff -r --no-dereference` and
// `stat -c '%a %F'` see it; as root exactly, as an ordinary user without
// set-user-ID bits and with the umask applied. Entries without the marker
// (archives from Windows or from before) ignore what their creation time's
// low bits hold.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "frontend/archive_fixture.h"
#include "support/archive_builder.h"

namespace qex {
namespace {

using test::asOrdinaryUser;
using test::runQex;
using test::runShell;

class ModesAndLinks : public test::ScratchFolderTest {
protected:
    // Modes 700, 600, 755, 644 and 4755, a script, a folder closed to
    // writing, and every kind of link: relative, absolute, dangling,
    // looping, to a folder.
    void makeTree() {
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
    }

    // Path, permission bits, type and modification second of every item
    // below `folder` (links not followed).
    std::string modesOf(const std::string& folder) {
        const test::ProcessResult r =
            runShell("cd '" + folder + "' && find . -print0 | sort -z | xargs -0 stat -c '%n %a %F %Y'");
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    }
};

TEST_F(ModesAndLinks, TreeComesBackExactlyForRoot) {
    if (geteuid() != 0) GTEST_SKIP() << "exact modes, set-user-ID included, are for root";
    makeTree();
    ASSERT_EQ(runQex({"a", at("t.qex"), at("T")}).exitCode, 0);
    folder("out");
    const auto r = runQex({"x", at("t.qex"), at("out")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(runShell("diff -r --no-dereference '" + at("T") + "' '" + at("out/T") + "'").exitCode, 0);
    EXPECT_EQ(modesOf(at("out/T")), modesOf(at("T")));
}

TEST_F(ModesAndLinks, OrdinaryUserGetsTheUmaskAppliedAndNoSetUserId) {
    makeTree();
    folder("out");
    if (geteuid() == 0) {
        ASSERT_EQ(runShell("chown -R nobody:nogroup '" + at("T") + "' '" + at("out") + "' && chmod 4755 '" +
                        at("T/setuid") + "'")
                      .exitCode,
                  0);
    }
    const std::string qex = std::string(QEX_EXE);
    const std::string archive = at("out/t.qex");
    const auto r = runShell(asOrdinaryUser("umask 027 && " + qex + " a " + archive + " " + at("T") + " && " + qex +
                                        " x " + archive + " " + at("out")));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(runShell("diff -r --no-dereference '" + at("T") + "' '" + at("out/T") + "'").exitCode, 0);
    // Stored bits less the umask 027, less set-user-ID; links stay 777.
    const std::string expected = runShell("cd '" + at("out/T") + "' && stat -c '%n %a %F' . private private/key script.sh "
                                       "notes setuid closed closed/inside relative absolute dangling loop folder-link")
                                     .out;
    EXPECT_EQ(expected,
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
    EXPECT_EQ(runShell(at("out/T/script.sh")).out, "ran\n");
}

TEST_F(ModesAndLinks, FifosComeBackAsFifosAndSocketsAreLeftOutWithANote) {
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
    EXPECT_EQ(runShell("cd '" + at("out/S") + "' && stat -c '%n %a %F %Y' pipe").out,
              runShell("cd '" + at("S") + "' && stat -c '%n %a %F %Y' pipe").out);
}

TEST_F(ModesAndLinks, EntriesWithoutTheMarkerOrOfAnotherTypeAreFiles) {
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
    EXPECT_EQ(runShell("cd '" + at("out") + "' && stat -c '%n %a %F' unmarked fifo").out,
              "unmarked 644 regular file\nfifo 640 regular file\n");
}

}  // namespace
}  // namespace qex
