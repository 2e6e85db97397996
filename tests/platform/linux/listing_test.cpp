// Folder listing: wildcard patterns, NTFS order and what each item reports.
#include "platform/listing.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/file_bytes.h"
#include "support/scratch_folder.h"

namespace qex {
namespace {

namespace fs = std::filesystem;

class ListingFolder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(root.empty()); }
    void file(const std::string& name, const std::string& content = "") {
        test::writeFileBytes(root + "/" + name, content);
    }
    void folder(const std::string& name) { fs::create_directory(root + "/" + name); }

    std::vector<ListedItem> list(const std::string& lastComponent) {
        std::vector<ListedItem> items;
        EXPECT_EQ(listPattern(root + "/" + lastComponent, items).error, 0);
        return items;
    }
    static std::vector<std::string> namesOf(const std::vector<ListedItem>& items) {
        std::vector<std::string> names;
        for (const ListedItem& item : items) names.push_back(item.nativeName);
        return names;
    }
    std::map<std::string, ListedItem> listedByName() {
        std::map<std::string, ListedItem> byName;
        for (ListedItem& item : list("*")) byName[item.nativeName] = item;
        return byName;
    }

    test::ScratchFolder scratch;
    const std::string root = scratch.root().string();
};

using Names = std::vector<std::string>;

TEST(ListedBefore, FoldsThroughTheNtfsUppercaseTableAndBreaksTiesByUnits) {
    // ASCII order shows in ListingFolder.PatternsList...; an order is strict.
    EXPECT_FALSE(listedBefore(u"abc", u"abc"));
    // Beyond ASCII as an NTFS folder lists them (sharp s and dotless i have
    // no one-unit upper case; surrogates compare as units).
    std::vector<std::u16string> names = {u"\u00ff", u"\u0131", u"\u0130", u"\u00df", u"\u00d83",
                                         u"\u00f8", u"\u00c92", u"\u00e91", u"\u00e4", u"z"};
    std::sort(names.begin(), names.end(), [](auto& a, auto& b) { return listedBefore(a, b); });
    EXPECT_EQ(names, (std::vector<std::u16string>{u"z", u"\u00e4", u"\u00e91", u"\u00c92", u"\u00f8", u"\u00d83",
                                                  u"\u00df", u"\u0130", u"\u0131", u"\u00ff"}));
    EXPECT_EQ(upcasedUnit(u'\u03c2'), u'\u03c2');
    EXPECT_EQ(upcasedUnit(u'\u03c3'), u'\u03a3');
    EXPECT_EQ(upcasedUnit(u'\u0101'), u'\u0100');  // a run of pairs
    EXPECT_EQ(upcasedUnit(u'\u0100'), u'\u0100');
    EXPECT_EQ(upcasedUnit(u'\uff41'), u'\uff21');  // fullwidth a
    EXPECT_TRUE(listedBefore(u"\U0001F600", u"\uffff"));
}

TEST(MatchesWildcards, StarAndQuestionMarkAreTheOnlyWildcards) {
    EXPECT_TRUE(matchesWildcards(u"*", u".hidden"));
    EXPECT_TRUE(matchesWildcards(u"*", u""));
    EXPECT_TRUE(matchesWildcards(u"Com*n?", u"Common7"));
    EXPECT_TRUE(matchesWildcards(u"Com*n?", u"Comn7"));
    EXPECT_FALSE(matchesWildcards(u"Com*n?", u"Common"));
    EXPECT_FALSE(matchesWildcards(u"Com*n?", u"common7"));  // case-sensitive
    EXPECT_TRUE(matchesWildcards(u"Com*n?", u"common7", true));  // unless told
    EXPECT_TRUE(matchesWildcards(u"\u00c9T\u00c9.*", u"\u00e9t\u00e9.txt", true));
    EXPECT_FALSE(matchesWildcards(u"\u00c9T\u00c9.*", u"\u00e9t\u00e9.txt"));
    EXPECT_TRUE(matchesWildcards(u"*.txt", u"a.b.txt"));
    EXPECT_FALSE(matchesWildcards(u"*.txt", u"a.txt.gz"));
    EXPECT_TRUE(matchesWildcards(u"a*b*c", u"aXbYbZc"));
    EXPECT_FALSE(matchesWildcards(u"a*b*c", u"aXbYbZ"));
    EXPECT_TRUE(matchesWildcards(u"[ab]", u"[ab]"));  // brackets are literal
    EXPECT_FALSE(matchesWildcards(u"[ab]", u"a"));
    EXPECT_FALSE(matchesWildcards(u"?", u""));
    EXPECT_FALSE(matchesWildcards(u"??", u"abc"));
    // A surrogate pair is one character.
    const std::u16string clef = u"\U0001D11E";
    EXPECT_TRUE(matchesWildcards(u"?", clef));
    EXPECT_FALSE(matchesWildcards(u"??", clef));
    EXPECT_TRUE(matchesWildcards(u"x?y", u"x" + clef + u"y"));
}

TEST_F(ListingFolder, PatternsListMatchingItemsButDotEntriesCaseSensitivelyInNtfsOrder) {
    for (const char* name : {"_x", "b", "S", "a.txt", ".hidden", "A", "Common7", "common7", "Comn1", "x[1]"})
        file(name);
    folder("Compass9");
    // '_' (0x5F) lies above every upper-case letter, so "_x" comes last.
    const Names all{".hidden", "A", "a.txt", "b", "Common7", "common7", "Comn1", "Compass9", "S", "x[1]",
                    "_x"};
    EXPECT_EQ(namesOf(list("*")), all);
    EXPECT_EQ(namesOf(list("Com*n?")), (Names{"Common7", "Comn1"}));
    EXPECT_EQ(namesOf(list("x[1]")), (Names{"x[1]"}));
    EXPECT_EQ(namesOf(list("C*")), (Names{"Common7", "Comn1", "Compass9"}));
    EXPECT_TRUE(list("nothing*").empty());
}

TEST_F(ListingFolder, NameWithoutWildcardsListsThatItemWhenItExistsAndAMissingFolderIsAnError) {
    file("one.txt", "12345");
    const std::vector<ListedItem> one = list("one.txt");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].nativeName, "one.txt");
    EXPECT_EQ(one[0].name, u"one.txt");
    EXPECT_EQ(one[0].size, 5u);
    EXPECT_TRUE(list("missing.txt").empty());
    EXPECT_TRUE(list("missing/deeper").empty());
    std::vector<ListedItem> items;
    EXPECT_EQ(listPattern(root + "/absent/*", items).error, ENOENT);
}

TEST_F(ListingFolder, EachItemReportsKindAttributesTimesAndItsNameInBothForms) {
    file("plain", "x");
    file("locked", "x");
    ASSERT_EQ(chmod((root + "/locked").c_str(), 0444), 0);
    file(".dot");
    folder("dir");
    folder(".git");
    ASSERT_EQ(mkfifo((root + "/pipe").c_str(), 0644), 0);
    const std::string raw = "bad\xff\xfe";
    file(raw);
    // 1,000,000,000 s after 1970 plus 500 ns, in 100 ns units from 1601.
    const struct timespec times[2] = {{2000000000, 0}, {1000000000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, (root + "/plain").c_str(), times, 0), 0);
    std::map<std::string, ListedItem> byName = listedByName();
    ASSERT_EQ(byName.size(), 7u);
    EXPECT_EQ(byName["plain"].attributes, 0x20);
    EXPECT_EQ(byName["locked"].attributes, 0x21);
    EXPECT_EQ(byName[".dot"].attributes, 0x22);
    EXPECT_EQ(byName["dir"].attributes, 0x10);
    EXPECT_EQ(byName[".git"].attributes, 0x12);
    EXPECT_EQ(byName["dir"].kind, ItemKind::Folder);
    EXPECT_EQ(byName["dir"].size, 0u);
    EXPECT_EQ(byName["plain"].kind, ItemKind::File);
    EXPECT_EQ(byName["pipe"].kind, ItemKind::Special);
    EXPECT_EQ(byName["plain"].lastWriteTime, 126444736000000005ull);
    EXPECT_EQ(byName["plain"].lastAccessTime, 136444736000000000ull);
    // The birth time, where the file system keeps one, is "now", after the
    // modification time set above; otherwise the modification time stands in.
    EXPECT_GE(byName["plain"].creationTime, byName["plain"].lastWriteTime);
    // Bytes that are not UTF-8 survive as escape units.
    EXPECT_EQ(byName[raw].name, (std::u16string{u'b', u'a', u'd', 0xDCFF, 0xDCFE}));
}

TEST_F(ListingFolder, WildcardsListLinksAsLinksAndANamedLinkIsFollowed) {
    file("target", "123");
    folder("dir");
    ASSERT_EQ(symlink("target", (root + "/toFile").c_str()), 0);
    ASSERT_EQ(symlink("dir", (root + "/toDir").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (root + "/dangling").c_str()), 0);
    ASSERT_EQ(chmod((root + "/target").c_str(), 0640), 0);
    std::map<std::string, ListedItem> byName = listedByName();

    for (const char* link : {"toFile", "toDir", "dangling"}) {
        EXPECT_EQ(byName[link].kind, ItemKind::Link) << link;
        EXPECT_EQ(byName[link].mode & S_IFMT, S_IFLNK) << link;
        EXPECT_EQ(byName[link].attributes, 0x20) << link;
        EXPECT_EQ(byName[link].statError, 0) << link;
    }
    EXPECT_EQ(byName["toFile"].size, 6u);  // "target"
    EXPECT_EQ(byName["dangling"].size, 7u);
    EXPECT_EQ(byName["target"].mode, S_IFREG | 0640);
    EXPECT_EQ(byName["dir"].mode & S_IFMT, S_IFDIR);

    // Named alone, a link is followed; one that leads nowhere is the link.
    const std::vector<ListedItem> toDir = list("toDir");
    ASSERT_EQ(toDir.size(), 1u);
    EXPECT_EQ(toDir[0].kind, ItemKind::Folder);
    EXPECT_EQ(toDir[0].inode, byName["dir"].inode);
    const std::vector<ListedItem> dangling = list("dangling");
    ASSERT_EQ(dangling.size(), 1u);
    EXPECT_EQ(dangling[0].kind, ItemKind::Link);
}

}  // namespace
}  // namespace qex
