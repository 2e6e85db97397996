// The add command through the executable: the archive's bytes, the three
// source forms, and what is left out (with its warning and exit code).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frontend/archive_fixture.h"
#include "coder/memory_codec.h"

namespace qex {
namespace {

using test::runQex;

class AddCommand : public test::ScratchFolderTest {
protected:
    // The example tree: T holding a.txt ("abc") and an empty folder S.
    void makeExampleTree() {
        folder("T/S");
        file("T/a.txt", "abc");
        // 1,000,000,000 s after 1970: FILETIME (1,000,000,000 + 11,644,473,600) * 10^7.
        test::setTimes(at("T/a.txt"), 1000000000);
        test::setTimes(at("T/S"), 1000000000);
        test::setTimes(at("T"), 1000000000);
    }
};

using Names = std::vector<std::string>;

TEST_F(AddCommand, EmptyAddGivesSixStreamBytesAndEightZeroBytes) {
    folder("empty");
    const auto r = runQex({"a", at("e.qex"), at("empty") + "/"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // The stream of no bytes (end symbol and flush), then N = 0 and E = 0.
    EXPECT_EQ(test::readFileBytes(at("e.qex")), std::string("\x00\xFF\x00\xFF\x00\x00\0\0\0\0\0\0\0\0", 14));
}

TEST_F(AddCommand, ExampleTreeGivesTenNameBytesAndThreeEntries) {
    makeExampleTree();
    ASSERT_EQ(chmod(at("T").c_str(), 0750), 0);
    ASSERT_EQ(chmod(at("T/a.txt").c_str(), 0640), 0);
    const auto r = runQex({"a", at("t.qex"), at("T")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string bytes = test::readFileBytes(at("t.qex"));
    Directory directory;
    ASSERT_TRUE(test::readArchiveDirectory(at("t.qex"), directory));
    // Files before folders; 10 name bytes ("T\na.txt\nS\n"), 3 entries of 40, the trailer.
    ASSERT_EQ(directory.names, (std::vector<std::u16string>{u"T", u"a.txt", u"S"}));
    EXPECT_EQ(bytes.size(), directory.streamBytes + 10 + 120 + 8);
    const ArchiveEntry& t = directory.entries[0];
    const ArchiveEntry& a = directory.entries[1];
    const ArchiveEntry& s = directory.entries[2];
    // Every entry made on Linux is marked (0x40) and carries st_mode in the
    // creation time's low 16 bits: folder 040750 = 0x41E8, file 0100640 = 0x81A0.
    // (Bit 0x800, the stored owner, depends on who runs the test.)
    EXPECT_EQ(t.depth, 0);
    EXPECT_EQ(t.attributes & ~0x800, 0x10 | 0x40);
    EXPECT_EQ(t.creationTime & 0xFFFF, 0x41E8u);
    EXPECT_EQ(entrySize(t), 0u);
    EXPECT_EQ(a.depth, 1);
    EXPECT_EQ(a.attributes & ~0x800, 0x20 | 0x40);
    EXPECT_EQ(a.creationTime & 0xFFFF, 0x81A0u);
    EXPECT_EQ(entrySize(a), 3u);
    EXPECT_EQ(a.crc, 0x352441C2u);         // CRC-32 of "abc"
    EXPECT_EQ(a.crcPlusOne, 0xB01D5B79u);  // CRC-32 of "bcd"
    EXPECT_EQ(a.lastWriteTime, 126444736000000000ull);
    EXPECT_EQ(s.depth, 1);
    EXPECT_EQ(s.attributes & ~0x800, 0x10 | 0x40);
    EXPECT_EQ(s.crc, 0u);
    EXPECT_EQ(t.lastWriteTime, 126444736000000000ull);

    // The stream before the directory decodes to exactly "abc".
    std::vector<uint8_t> decoded;
    const auto* stream = reinterpret_cast<const uint8_t*>(bytes.data());
    ASSERT_TRUE(decompressBuffer(stream, directory.streamBytes, decoded));
    EXPECT_EQ(std::string(decoded.begin(), decoded.end()), "abc");
}

TEST_F(AddCommand, SameTreeTwiceGivesIdenticalArchives) {
    makeExampleTree();
    folder("T/S/deeper");
    file("T/S/deeper/x.bin", std::string(100000, 'x'));
    file("T/empty");
    // The first run may still move access times (reading updates them once);
    // after it the times stay, and so must the archive's bytes.
    ASSERT_EQ(runQex({"a", at("1.qex"), at("T")}).exitCode, 0);
    ASSERT_EQ(runQex({"a", at("2.qex"), at("T")}).exitCode, 0);
    ASSERT_EQ(runQex({"a", at("3.qex"), at("T")}).exitCode, 0);
    EXPECT_EQ(test::readFileBytes(at("2.qex")), test::readFileBytes(at("3.qex")));
}

TEST_F(AddCommand, SourceFormsDecideWhatLandsAtDepthZero) {
    makeExampleTree();
    file("Tea.txt", "t");
    // A folder is itself ("." too), a trailing separator takes its contents
    // ("./" and ".." resolve lexically), a mask every match, folders entered.
    const struct { std::string source, currentFolder, shown; Names names; } forms[] = {
        {".", at("T"), at("T"), {"0:T", "1:a.txt", "1:S"}},
        {"../../T/S/../", at("T/S"), at("T") + "/*", {"0:a.txt", "0:S"}},
        {at("T*"), "", "", {"0:T", "1:a.txt", "1:S", "0:Tea.txt"}},
    };
    int n = 0;
    for (const auto& form : forms) {
        const std::string archive = at(std::to_string(++n) + ".qex");
        const auto r = runQex({"a", archive, form.source}, form.currentFolder);
        EXPECT_EQ(r.exitCode, 0) << form.source << r.err;
        EXPECT_TRUE(form.shown.empty() || r.out.find("<" + form.shown + ">\n") != std::string::npos) << r.out;
        EXPECT_EQ(test::archivedNames(archive), form.names) << form.source;
    }
}

TEST_F(AddCommand, MissingSourceOrUnmatchedMaskIsFatalAndLeavesTheOldArchiveAlone) {
    folder("src");
    file("src/a.txt", "a");
    file("m.qex", "the old archive");
    for (const std::string& source : {at("absent"), at("absent*"), at("nofolder/x*"), at("absent/")}) {
        // Every source is checked before anything is written.
        const auto r = runQex({"a", at("m.qex"), at("src"), source});
        EXPECT_EQ(r.exitCode, 2) << source;
        EXPECT_EQ(r.err.rfind("qex: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(source), std::string::npos) << r.err;
        EXPECT_EQ(test::readFileBytes(at("m.qex")), "the old archive") << source;
    }
    EXPECT_EQ(test::namesIn(root), (Names{"m.qex", "src"}));
}

TEST_F(AddCommand, ArchiveIsNeverItsOwnSource) {
    // Named as a source: refused.
    file("notes.txt", "my notes");
    for (const std::string& source : {at("notes.txt"), at("./notes.txt")}) {
        const auto r = runQex({"a", at("notes.txt"), source});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err, "qex: the source is the archive itself \"" + source + "\"\n");
    }
    EXPECT_EQ(test::readFileBytes(at("notes.txt")), "my notes");
    EXPECT_EQ(test::namesIn(root), (Names{"notes.txt"}));
    // Inside a source: left out, as written and as replaced.
    folder("src");
    file("src/a.txt", "a");
    file("src/old.qex", "an older archive");
    const auto r = runQex({"a", "-f", at("src/old.qex"), at("src")});  // -f: the old one is text
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::archivedNames(at("src/old.qex")), (Names{"0:src", "1:a.txt"}));
}

TEST_F(AddCommand, ReplacedArchiveIsSwappedWholeKeepingItsModeAndLinks) {
    folder("src");
    file("src/a.txt", "a");
    folder("store");
    file("store/real.qex", "the old archive");
    ASSERT_EQ(::chmod(at("store/real.qex").c_str(), 0600), 0);
    test::fs::create_hard_link(at("store/real.qex"), at("hard.qex"));
    test::fs::create_symlink(at("store/real.qex"), at("link.qex"));
    const auto r = runQex({"a", "-f", at("link.qex"), at("src")});  // -f: the old one is text
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The new archive took the old one's place: the link still leads there,
    // the other hard link keeps the old bytes, nothing else is left.
    EXPECT_TRUE(test::fs::is_symlink(at("link.qex")));
    EXPECT_EQ(test::archivedNames(at("store/real.qex")), (Names{"0:src", "1:a.txt"}));
    EXPECT_EQ(test::readFileBytes(at("hard.qex")), "the old archive");
    struct stat info {};
    ASSERT_EQ(::stat(at("store/real.qex").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(test::namesIn(at("store")), (Names{"real.qex"}));

    // A link that leads nowhere is neither followed nor replaced.
    test::fs::create_symlink(at("store/none.qex"), at("dangling.qex"));
    const auto refused = runQex({"a", at("dangling.qex"), at("src")});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err, "qex: cannot create archive \"" + at("dangling.qex") +
                               "\": it is a symbolic link that leads nowhere (only a file a link leads to is replaced)\n");
    EXPECT_TRUE(test::fs::is_symlink(at("dangling.qex")));
    EXPECT_EQ(test::namesIn(at("store")), (Names{"real.qex"}));
}

TEST_F(AddCommand, ArchiveNamesUpToTheNameLimitAreCreated) {
    // The temporary beside the archive is 8 bytes longer than its name
    // unless that is cut to the folder's limit (255 bytes here).
    folder("src");
    file("src/a.txt", "a");
    folder("out");
    const std::string longest = std::string(251, 'n') + ".qex";
    std::string accented;  // 254 bytes of U+00E9 and ".qex": cut between two characters
    for (int k = 0; k < 125; ++k) accented += "\xC3\xA9";
    accented += ".qex";
    for (const std::string& name : {std::string(244, 'm') + ".qex", longest, accented}) {
        const auto r = runQex({"a", at("out/" + name), at("src")});
        EXPECT_EQ(r.exitCode, 0) << name.size() << " bytes: " << r.err;
        EXPECT_EQ(test::archivedNames(at("out/" + name)), (Names{"0:src", "1:a.txt"}));
    }
    EXPECT_EQ(test::namesIn(at("out")).size(), 3u);  // no temporary left
}

TEST_F(AddCommand, FileOf2Pow40BytesIsLeftOutWithAWarning) {
    folder("src");
    file("src/a", "first");
    file("src/huge");
    file("src/z", "last");
    // A sparse file of exactly 2^40 bytes: one more than an entry describes.
    if (truncate(at("src/huge").c_str(), int64_t{1} << 40) != 0)
        GTEST_SKIP() << "the file system cannot hold a sparse file of 2^40 bytes";
    const auto r = runQex({"a", at("h.qex"), at("src")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("2^40"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(at("src/huge")), std::string::npos) << r.err;
    EXPECT_EQ(test::archivedNames(at("h.qex")), (Names{"0:src", "1:a", "1:z"}));
    // The rest of the archive is complete and consistent.
    folder("out");
    const auto x = runQex({"x", at("h.qex"), at("out")});
    EXPECT_EQ(x.exitCode, 0) << x.err;
    EXPECT_EQ(test::readFileBytes(at("out/src/z")), "last");
}

TEST_F(AddCommand, FolderAtDepth255KeepsItsEntryButItsContentsAreReported) {
    // Folders at depths 0 to 256 and a file in the deepest: entries hold
    // depths up to 255, so the folder at 255 is listed and not entered.
    std::string path = "deep";
    for (int level = 1; level <= 256; ++level) path += "/d";
    folder(path);
    file(path + "/lost", "x");
    const auto r = runQex({"a", at("d.qex"), at("deep")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not entering folder"), std::string::npos) << r.err;
    Directory directory;
    ASSERT_TRUE(test::readArchiveDirectory(at("d.qex"), directory));
    ASSERT_EQ(directory.entries.size(), 256u);
    EXPECT_EQ(directory.entries.back().depth, 255);
    EXPECT_TRUE(isFolder(directory.entries.back()));
}

TEST_F(AddCommand, LinksInTheTreeAreStoredAsLinksAndTheNamedSourceIsFollowed) {
    folder("real");
    folder("elsewhere");
    file("elsewhere/inside", "in");
    file("real/data", "data");
    ASSERT_EQ(symlink(at("elsewhere").c_str(), at("real/dir").c_str()), 0);
    ASSERT_EQ(symlink(at("real").c_str(), at("src").c_str()), 0);
    const auto r = runQex({"a", at("s.qex"), at("src")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // "src" leads to "real" and is followed; the link inside it is not (links
    // of every kind come back as links: WholeTrees).
    EXPECT_EQ(test::archivedNames(at("s.qex")), (Names{"0:src", "1:data", "1:dir"}));
    Directory directory;
    ASSERT_TRUE(test::readArchiveDirectory(at("s.qex"), directory));
    const ArchiveEntry& dir = directory.entries[2];
    EXPECT_EQ(dir.attributes & ~0x800, 0x20 | 0x40);         // a file entry, marked
    EXPECT_EQ(dir.creationTime & 0xF000, 0xA000u);           // of the link type
    EXPECT_EQ(entrySize(dir), at("elsewhere").size());        // holding the target
}

TEST_F(AddCommand, ArchiveThatCannotBeCreatedIsFatal) {
    folder("src");
    const auto r = runQex({"a", at("no/such/folder.qex"), at("src")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "qex: cannot create archive \"" + at("no/such/folder.qex") +
                         "\": No such file or directory\n");
}

TEST_F(AddCommand, StreamWriteFailureIsFatalAndADeviceIsLeftAlone) {
    folder("src");
    file("src/a", std::string(300000, 'q'));
    struct stat before {};
    ASSERT_EQ(stat("/dev/full", &before), 0);
    const auto r = runQex({"a", "/dev/full", at("src")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("qex: cannot write archive \"/dev/full\": No space left on device"),
              std::string::npos)
        << r.err;
    struct stat after {};
    ASSERT_EQ(stat("/dev/full", &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
    EXPECT_EQ(after.st_rdev, before.st_rdev);
}

}  // namespace
}  // namespace qex
