// The commands as users reach them, through the executable: list, test,
// extract of chosen items, and add with several sources.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "frontend/archive_fixture.h"
#include "support/archive_builder.h"

namespace qex::test {
namespace {

class Commands : public ScratchFolderTest {
protected:
    void SetUp() override {
        ScratchFolderTest::SetUp();
        setenv("TZ", "UTC0", 1);  // the listing shows local time; the child inherits this
    }

    void writeArchive(const std::string& name, const ArchiveBuilder& builder) {
        writeFileBytes(at(name), builder.text());
    }
};

TEST_F(Commands, ListShowsModesLinksEscapedNamesAndTotals) {
    // A folder (0755) holding a script (0755), a link to it and a
    // set-user-ID program (4755), then a file from Windows (read-only,
    // no mode) whose name holds an escape sequence and a line feed.
    ArchiveBuilder b;
    const auto marked = [&b](uint16_t mode) {
        b.entries.back().attributes |= kAttributeUnixMode;
        b.entries.back().creationTime = withUnixMode(b.entries.back().creationTime, mode);
    };
    b.folder(0, u"dir");
    marked(040755);
    b.file(1, u"run.sh", "#!/bin/sh\n");
    marked(0100755);
    b.link(1, u"link", "run.sh");
    b.file(1, u"su", "x");
    marked(0104755);
    b.file(0, u"a\x1B[2J\nb", "secret\n");
    b.entries.back().attributes = 0x21;
    writeArchive("small.qex", b);
    const auto r = runQex({"l", at("small.qex")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    // CRC-32 of "#!/bin/sh\n", "run.sh", "x" and "secret\n"; the time is
    // 2020-01-01 00:00 UTC; 24 content bytes in an archive of 264 bytes
    // (a 28-byte stream, 28 name bytes, 5 entries of 40 and the trailer).
    EXPECT_EQ(r.out,
              "l command\n"
              "drwxr-xr-x               2020-01-01 00:00:00          dir/\n"
              "-rwxr-xr-x            10 2020-01-01 00:00:00 04FB9D1D dir/run.sh\n"
              "lrwxrwxrwx             6 2020-01-01 00:00:00 684B4A53 dir/link\n"
              "-rwsr-xr-x             1 2020-01-01 00:00:00 8CDC1683 dir/su\n"
              "-R..A                  7 2020-01-01 00:00:00 E2EBB28C a\\033[2J\\nb\n"
              "4 files, 1 folder, 24 bytes; archive 264 bytes (1100.0% of the content)\n");
}

TEST_F(Commands, ConsoleShowsNamesEscapedAndTheDiskKeepsThem) {
    // A name that would clear the terminal and fake a line of output.
    const std::string name = "x\033[2J\nfake";
    folder("src");
    file("src/" + name, "data");
    auto r = runQex({"a", at("e.qex"), at("src")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Adding \"" + at("src/x\\033[2J\\nfake") + "\":4\n"), std::string::npos) << r.out;
    folder("out");
    r = runQex({"x", at("e.qex"), at("out")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Extracting \"" + at("out/src/x\\033[2J\\nfake") + "\":4 "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\033'), std::string::npos);
    EXPECT_EQ(readFileBytes(at("out/src/" + name)), "data");
}

TEST_F(Commands, AddTakesSeveralSourcesEachInItsOwnForm) {
    // A folder, a folder's contents, a mask, and a file whose name an
    // earlier source already gave (a warning; both kept).
    folder("one");
    file("one/x", "1");
    folder("two/z");
    file("two/y", "2");
    file("two/z/w", "3");
    folder("three");
    file("three/p.txt", "4");
    file("three/q.txt", "5");
    file("three/r.md", "6");
    folder("dup");
    file("dup/y", "7");
    const auto r = runQex({"a", at("m.qex"), at("one"), at("two/"), at("three/*.txt"), at("dup/y")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "qex: two sources give the same name (both kept; extraction keeps a folder, else the later) \"" +
                         at("dup/y") + "\"\n");
    EXPECT_EQ(archivedNames(at("m.qex")),
              (std::vector<std::string>{"0:one", "1:x", "0:y", "0:z", "1:w", "0:p.txt", "0:q.txt", "0:y"}));
}

// Text of `lines` lines, each different, for files the model cannot guess.
std::string numberedLines(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) text += "line " + std::to_string(i * 7919 % 100003) + "\n";
    return text;
}

TEST_F(Commands, TestChecksEverythingAndWritesNothing) {
    ArchiveBuilder b;
    b.file(0, u"a.txt", "first\n").file(0, u"b.txt", numberedLines(3000));
    writeArchive("good.qex", b);
    folder("cwd");
    auto r = runQex({"t", at("good.qex")}, at("cwd"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("\nTesting \"b.txt\":"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nall 2 files match their check values\n"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::is_empty(at("cwd")));

    // A byte flipped in the middle of the stream, which holds b.txt's
    // bytes; the stream cut in half under an intact directory.
    std::vector<uint8_t> flipped = b.streamBytes(), cut = flipped;
    flipped[flipped.size() / 2] ^= 0x10;
    cut.resize(cut.size() / 2);
    for (const std::vector<uint8_t>& stream : {flipped, cut}) {
        ArchiveBuilder damaged = b;
        damaged.stream = stream;
        writeArchive("damaged.qex", damaged);
        r = runQex({"t", at("damaged.qex")}, at("cwd"));
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err.rfind("qex: damaged archive: the file \"b.txt\": ", 0), 0u) << r.err;
    }
    EXPECT_TRUE(fs::is_empty(at("cwd")));
}

TEST_F(Commands, ExtractTakesOnlyTheNamedItemsAndTheFoldersAboveThem) {
    ArchiveBuilder b;
    b.folder(0, u"docs").file(1, u"a.txt", "a").file(1, u"b.md", "b");
    b.folder(1, u"sub").file(2, u"c.txt", "c");
    const std::string mainC = numberedLines(60000);
    b.folder(0, u"src").file(1, u"main.c", mainC).file(1, u"util.c", "u");
    b.file(0, u"z.txt", "z");
    writeArchive("t.qex", b);
    const auto itemsIn = [this](const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& [name, what] : treeItems(at(folder))) names.push_back(name);
        return names;
    };

    // A folder, a mask, a path.
    folder("one");
    auto r = runQex({"x", at("t.qex"), at("one"), "docs/sub/", "src/*.c", "z.txt"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(itemsIn("one"), (std::vector<std::string>{"docs", "docs/sub", "docs/sub/c.txt", "src", "src/main.c",
                                                       "src/util.c", "z.txt"}));
    EXPECT_EQ(readFileBytes(at("one/src/util.c")), "u");

    // "*" stays within one folder; an item that matches nothing is a warning.
    folder("two");
    r = runQex({"x", at("t.qex"), at("two"), "*.txt", "docs/nothing*"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "qex: no archived item matches \"docs/nothing*\"\n");
    EXPECT_EQ(itemsIn("two"), (std::vector<std::string>{"z.txt"}));

    // Decoding stops after the last file asked for: of the 700 KB of main.c no
    // more is decoded than the coder runs ahead (a few 64 KiB chunks).
    folder("three");
    r = runQex({"x", at("t.qex"), at("three"), "docs/a.txt"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(itemsIn("three"), (std::vector<std::string>{"docs", "docs/a.txt"}));
    const size_t out = r.out.rfind(" out=");
    ASSERT_NE(out, std::string::npos) << r.out;
    EXPECT_LT(std::stoull(r.out.substr(out + 5)), mainC.size() / 2) << r.out;
}

TEST_F(Commands, LogGetsALineForEveryFile) {
    // Twenty thousand empty files test far faster than a display polled
    // twice a second could keep up with in a ring of 128 KiB.
    ArchiveBuilder b;
    for (int i = 0; i < 20000; ++i) {
        const std::string digits = std::to_string(i);
        b.file(0, u"f" + std::u16string(digits.begin(), digits.end()), "");
    }
    writeArchive("many.qex", b);
    const auto r = runQex({"t", at("many.qex")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    size_t lines = 0;
    for (size_t at = r.out.find("Testing \""); at != std::string::npos; at = r.out.find("Testing \"", at + 1)) ++lines;
    EXPECT_EQ(lines, 20000u);
}

}  // namespace
}  // namespace qex::test
