// The extract command through the executable: a large tree comes back as it
// was; an archive that cannot be opened, a missing target and a check value
// that does not match are fatal. (Hostile archives have tests of their own.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "frontend/archive_fixture.h"
#include "support/archive_builder.h"
#include "support/pattern_bytes.h"

namespace qex {
namespace {

using test::runQex;
namespace fs = test::fs;

class ExtractCommand : public test::ScratchFolderTest {
protected:
    // A small tree added as t.qex: T (of time 1,200,000,000 s) holding
    // a.txt ("abc"), S/ and b.txt ("hello"); "out" is made for its extraction.
    std::string addSmallTree() {
        folder("src/T/S");
        file("src/T/a.txt", "abc");
        file("src/T/b.txt", "hello");
        test::setTimes(at("src/T"), 1200000000);
        const auto r = runQex({"a", at("t.qex"), at("src/T")});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        folder("out");
        return at("t.qex");
    }
};

// A few thousand files: part of /usr/include, plus names of 1- to 4-byte
// UTF-8 characters and invalid UTF-8, empty files and folders, read-only
// files, chunk-boundary sizes, incompressible data and deep nesting; the
// folders' times set last.
void makeLargeTree(const std::string& tree) {
    fs::create_directories(tree);
    size_t copied = 0;
    for (const char* part : {"linux", "x86_64-linux-gnu"}) {
        std::error_code ec;
        fs::copy(std::string("/usr/include/") + part, tree + "/" + part, fs::copy_options::recursive, ec);
        if (!ec) ++copied;
    }
    const std::string odd = tree + "/names";
    fs::create_directories(odd);
    for (const std::string name : {"ascii.txt", "caf\xC3\xA9", "euro\xE2\x82\xAC", "\xE0\xA0\x80-U+0800",
                                   "clef\xF0\x9D\x84\x9E", "bad\xFF\xFE", "cut\xC3", "line\nbreak", ".hidden",
                                   "star*and?mark[1]", "with space "})
        test::writeFileBytes(odd + "/" + name, "content of " + name);
    test::writeFileBytes(odd + "/" + std::string(200, 'L'), "a long name");
    fs::create_directories(odd + "/\xF0\x9F\x98\x80 folder/\xCE\xB1\xCE\xB2");
    test::writeFileBytes(odd + "/\xF0\x9F\x98\x80 folder/\xCE\xB1\xCE\xB2/inner", "x");

    const std::string special = tree + "/special";
    fs::create_directories(special + "/empty folder");
    fs::create_directories(special + "/nested/empty/folders");
    test::writeFileBytes(special + "/empty file", "");
    test::writeFileBytes(special + "/another empty", "");
    test::writeFileBytes(special + "/read-only", "cannot change me");
    chmod((special + "/read-only").c_str(), 0444);
    test::writeFileBytes(special + "/owner read-only", "");
    chmod((special + "/owner read-only").c_str(), 0400);
    test::writeFileBytes(special + "/chunk", std::string(65536, 'c'));
    test::writeFileBytes(special + "/chunk+1", std::string(65537, 'd'));
    const std::vector<uint8_t> noise = test::patternBytes(1 << 20, 12345);
    test::writeFileBytes(special + "/noise", std::string(noise.begin(), noise.end()));
    std::string deep = special + "/deep";
    for (int level = 0; level < 40; ++level) deep += "/d" + std::to_string(level);
    fs::create_directories(deep);
    test::writeFileBytes(deep + "/bottom", "bottom");

    const std::string many = tree + "/many";
    fs::create_directories(many);
    for (int k = 0; k < 1200; ++k) test::writeFileBytes(many + "/f" + std::to_string(k), std::to_string(k * k));

    // Distinct times with sub-second parts; folders last, deepest first, so
    // that nothing changes them afterwards.
    int64_t second = 1300000000;
    std::vector<std::string> folders{tree};
    for (const auto& e : fs::recursive_directory_iterator(tree)) {
        if (e.is_directory()) folders.push_back(e.path().string());
        else test::setTimes(e.path().string(), second++, 123456700);
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) test::setTimes(*it, second++, 987654300);
    ASSERT_EQ(copied, 2u) << "part of /usr/include is missing";
}

TEST_F(ExtractCommand, LargeTreeComesBackIdentical) {
    makeLargeTree(at("src/tree"));
    const fs::recursive_directory_iterator items(at("src/tree"));
    EXPECT_GE(std::distance(items, fs::recursive_directory_iterator()), 2000);
    folder("out");
    const auto added = runQex({"a", at("t.qex"), at("src/tree")});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    const auto extracted = runQex({"x", at("t.qex"), at("out")});
    ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
    EXPECT_EQ(extracted.err, "");
    EXPECT_TRUE(test::sameTrees(at("src/tree"), at("out/tree")));
}

TEST_F(ExtractCommand, WithoutTargetItemsGoBelowTheCurrentFolderWhereAFolderKeepsItsPermissions) {
    const std::string archive = addSmallTree();
    folder("out/T");
    ASSERT_EQ(chmod(at("out/T").c_str(), 0700), 0);
    const auto r = runQex({"x", archive}, at("out"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::readFileBytes(at("out/T/b.txt")), "hello");
    EXPECT_TRUE(fs::is_directory(at("out/T/S")));
    // The folder that was there keeps its permissions and gets its stored time.
    struct stat st {};
    ASSERT_EQ(stat(at("out/T").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
}

TEST_F(ExtractCommand, ArchiveThatCannotBeOpenedOrAMissingTargetIsFatal) {
    const std::string archive = addSmallTree();
    const std::map<std::string, std::string> unopened{{"absent.qex", "No such file or directory"},
                                                      {"src", "it is a folder"}};
    for (const auto& [path, reason] : unopened) {
        const auto r = runQex({"x", at(path), at("out")});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err, "qex: cannot open archive \"" + at(path) + "\": " + reason + "\n");
    }
    const auto r = runQex({"x", archive, at("no/target")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "qex: cannot open target folder \"" + at("no/target") +
                         "\": No such file or directory\n");
    EXPECT_FALSE(fs::exists(at("no")));
}

TEST_F(ExtractCommand, CheckValueMismatchIsNamedAndFatal) {
    test::ArchiveBuilder b;
    b.folder(0, u"T").file(1, u"a.txt", "abc").file(1, u"b.txt", "hello");
    b.entries[2].crc = 0x04030201;
    test::writeFileBytes(at("t.qex"), b.text());
    folder("out");
    const auto r = runQex({"x", at("t.qex"), at("out")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("qex: check value mismatch in \"" + at("out/T/b.txt") + "\": stored 04030201"),
              std::string::npos)
        << r.err;
    // The file's line still shows both values: the stored one and the
    // computed CRC-32 of "hello".
    EXPECT_NE(r.out.find("Extracting \"" + at("out/T/b.txt") + "\":5 04030201 3610A686"), std::string::npos)
        << r.out;
}

TEST_F(ExtractCommand, ArchivedFileNamedLikeTheArchiveNeverOverwritesIt) {
    // D/d.qex holds another file called d.qex: extracting into D must not cut
    // the archive it is reading short.
    folder("src");
    file("src/d.qex", "inner");
    file("src/other.txt", "other");
    folder("D");
    const auto added = runQex({"a", at("D/d.qex"), at("src/")});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    const std::string before = test::readFileBytes(at("D/d.qex"));
    const auto r = runQex({"x", at("D/d.qex"), at("D")});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find(at("D/d.qex") + "\": Device or resource busy"), std::string::npos) << r.err;
    EXPECT_EQ(test::readFileBytes(at("D/d.qex")), before);
    EXPECT_EQ(test::readFileBytes(at("D/other.txt")), "other");
}

}  // namespace
}  // namespace qex
