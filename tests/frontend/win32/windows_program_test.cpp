// qex.exe as Windows users run it: a tree with names outside the basic plane
// and paths past 260 characters comes back with its names, contents, times and
// attributes; printed paths never show the long-path prefix.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "frontend/archive_fixture.h"
#include "platform/file_attributes.h"
#include "platform/file_io.h"
#include "platform/file_times.h"
#include "platform/listing.h"
#include "platform/paths.h"
#include "platform/text_conversion.h"
#include "platform/unix_mode.h"
#include "platform/unix_owner.h"
#include "support/archive_builder.h"
#include "support/platform_file_read.h"

namespace qex::test {
namespace {

// 2021-03-04 05:06:07.1234567 UTC.
constexpr uint64_t kBaseTime = 132592515671234567u;
constexpr uint64_t kHour = uint64_t{3600} * 10000000;

struct ListedState {
    bool folder = false;
    uint64_t size = 0;
    uint16_t attributes = 0;  // read-only and hidden: what a trip must keep
    uint64_t lastWriteTime = 0;
    uint64_t lastAccessTime = 0;  // files only: listing a folder may change its own
    bool operator==(const ListedState&) const = default;
};

// Every item below `folder` (a full native path) by UTF-16 relative name,
// as the listing reports it. Contents are not read: reading a file may move
// its access time.
void listTree(const std::string& folder, const std::u16string& prefix, std::map<std::u16string, ListedState>& out) {
    std::vector<ListedItem> items;
    const SystemStatus listed = listPattern(joinPath(folder, "*"), items);
    ASSERT_TRUE(listed.ok()) << systemReason(listed.error);
    for (const ListedItem& item : items) {
        const bool isFolder = item.kind == ItemKind::Folder;
        const uint16_t kept = item.attributes & (kAttributeReadOnly | kAttributeHidden | kAttributeDirectory);
        out[prefix + item.name] = {isFolder, item.size, kept, item.lastWriteTime,
                                   isFolder ? 0 : item.lastAccessTime};
        if (isFolder) listTree(joinPath(folder, item.nativeName), prefix + item.name + u"\\", out);
    }
}

class WindowsProgram : public ScratchFolderTest {
protected:
    std::string full(const std::string& relative) {
        const SystemResult<std::string> result = fullPath(at(relative));
        EXPECT_TRUE(result.ok());
        return result.value;
    }
    // A file with its content, times and attributes, at a full native path.
    void make(const std::string& path, const std::string& content, uint64_t written, uint16_t attributes = 0) {
        const SystemResult<FileHandle> file = createForWrite(path.c_str());
        ASSERT_TRUE(file.ok()) << systemReason(file.error);
        ASSERT_TRUE(writeAll(file.value, reinterpret_cast<const uint8_t*>(content.data()), content.size()).ok());
        ASSERT_TRUE(setFileTimes(file.value, written, written + kHour, written).ok());
        ASSERT_TRUE(closeFile(file.value).ok());
        ASSERT_TRUE(attributes == 0 || SetFileAttributesW(wideOf(path).c_str(), attributes));
    }
    void makeFolder(const std::string& path) { ASSERT_TRUE(CreateDirectoryW(wideOf(path).c_str(), nullptr)); }
};

TEST_F(WindowsProgram, TreeComesBackWithNamesTimesAndAttributesBeyondTheLongPathLimit) {
    const std::string src = full("src");
    makeFolder(src);
    const std::string smile = utf16ToNative(u"\U0001F600 smile.txt");
    const std::string wideRange = utf16ToNative(u"\u0800\u0FFF");
    make(joinPath(src, smile), "outside the basic plane", kBaseTime);
    make(joinPath(src, "read-only.txt"), "keep me", kBaseTime + 2 * kHour, kAttributeReadOnly);
    make(joinPath(src, "hidden.txt"), "", kBaseTime + 3 * kHour, kAttributeHidden);
    makeFolder(joinPath(src, wideRange));
    std::string deep = joinPath(src, wideRange);
    for (int level = 0; level < 4; ++level) {
        deep = joinPath(deep, std::string(70, static_cast<char>('k' + level)));
        makeFolder(deep);
    }
    ASSERT_TRUE(SetFileAttributesW(wideOf(deep).c_str(), FILE_ATTRIBUTE_HIDDEN));  // a folder's attributes too
    ASSERT_GT(withoutLongPathPrefix(deep).size(), 300u);
    make(joinPath(deep, "far.bin"), std::string(100000, 'f') + "end", kBaseTime + 4 * kHour);
    ASSERT_TRUE(setPathTimes(deep.c_str(), 0, 0, kBaseTime + 5 * kHour).ok());

    const ProcessResult add = runQex({"a", at("t.qex"), at("src")});
    EXPECT_EQ(add.exitCode, 0) << add.err;
    EXPECT_EQ(add.err, "");
    EXPECT_EQ(add.out.rfind("a command\n<" + withoutLongPathPrefix(src) + ">\n", 0), 0u) << add.out;
    makeFolder(full("out"));
    const ProcessResult extract = runQex({"x", at("t.qex"), at("out")});
    EXPECT_EQ(extract.exitCode, 0) << extract.err;
    EXPECT_EQ(extract.err, "");

    // The source listed only now: under wine, opening a file to learn its
    // identity (as every listing does) moves its access time, so access
    // times are compared with the ones set.
    std::map<std::u16string, ListedState> before, after;
    listTree(src, u"", before);
    ASSERT_EQ(before.size(), 9u);
    const std::string back = joinPath(full("out"), "src");
    listTree(back, u"", after);
    EXPECT_EQ(after.size(), before.size());
    for (const auto& [name, state] : before) {
        ListedState came = after[name];  // a missing item: all zero, like no item listed
        came.lastAccessTime = state.lastAccessTime;  // compared below with the times set
        EXPECT_TRUE(came == state) << utf16ToUtf8(name);
    }
    const std::u16string farName = nativeToUtf16(deep.substr(src.size() + 1)) + u"\\far.bin";
    const std::pair<std::u16string, uint64_t> accessed[] = {{u"\U0001F600 smile.txt", kBaseTime + kHour},
                                                             {u"read-only.txt", kBaseTime + 3 * kHour},
                                                             {u"hidden.txt", kBaseTime + 4 * kHour},
                                                             {farName, kBaseTime + 5 * kHour}};
    for (const auto& [name, time] : accessed) EXPECT_EQ(after[name].lastAccessTime, time) << utf16ToUtf8(name);
    EXPECT_EQ(readThroughPlatform(joinPath(back, smile)), "outside the basic plane");
    EXPECT_EQ(readThroughPlatform(joinPath(back, "read-only.txt")), "keep me");
    const std::string deepBack = back + deep.substr(src.size());
    EXPECT_EQ(readThroughPlatform(joinPath(deepBack, "far.bin")), std::string(100000, 'f') + "end");
}

TEST_F(WindowsProgram, PrintedPathsNeverShowTheLongPathPrefix) {
    makeFolder(full("src"));
    make(joinPath(full("src"), "a.txt"), "abc", kBaseTime);
    makeFolder(full("src\\sub"));
    make(joinPath(full("src\\sub"), "b.txt"), "", kBaseTime);

    // A trailing separator: the folder's contents, the pattern shown with "*".
    const ProcessResult add = runQex({"a", at("t.qex"), at("src") + "\\"});
    EXPECT_EQ(add.exitCode, 0) << add.err;
    const std::string shown = withoutLongPathPrefix(full("src"));
    EXPECT_EQ(add.out.rfind("a command\n<" + shown + "\\*>\n", 0), 0u) << add.out;
    EXPECT_NE(add.out.find("Adding \"" + shown + "\\a.txt\":3"), std::string::npos) << add.out;
    EXPECT_EQ(add.out.find("Adding \"\\\\?\\"), std::string::npos) << add.out;

    makeFolder(full("out"));
    const ProcessResult extract = runQex({"x", at("t.qex"), at("out")});
    EXPECT_EQ(extract.exitCode, 0) << extract.err;
    const std::string target = withoutLongPathPrefix(full("out"));
    EXPECT_NE(extract.out.find("Extracting \"" + target + "\\a.txt\":3 352441C2 352441C2"), std::string::npos)
        << extract.out;
    EXPECT_NE(extract.out.find("Extracting \"" + target + "\\sub\\b.txt\":0 00000000 00000000"),
              std::string::npos)
        << extract.out;
    EXPECT_EQ(readThroughPlatform(joinPath(full("out"), "a.txt")), "abc");
    // Messages too; and a folder given as the archive is said to be one.
    const ProcessResult missing = runQex({"x", at("t.qex"), at("missing")});
    const std::string shownMissing = withoutLongPathPrefix(full("missing"));
    EXPECT_EQ(missing.err.rfind("qex: cannot open target folder \"" + shownMissing + "\": ", 0), 0u)
        << missing.err;
    EXPECT_EQ(runQex({"l", at("out")}).err, "qex: cannot open archive \"" + at("out") + "\": it is a folder\n");

    // A mask in the last component: every match at depth 0.
    const ProcessResult masked = runQex({"a", at("m.qex"), at("s?c")});
    EXPECT_EQ(masked.exitCode, 0) << masked.err;
    Directory directory;
    ASSERT_TRUE(readArchiveDirectory(at("m.qex"), directory));
    ASSERT_EQ(directory.names.size(), 4u);
    EXPECT_EQ(directory.names[0], u"src");
    EXPECT_EQ(directory.entries[0].depth, 0);

    // An archive written inside the tree it is made of is left out of it
    // (the order within a folder is the file system's).
    const ProcessResult inside = runQex({"a", at("src\\self.qex"), at("src")});
    EXPECT_EQ(inside.exitCode, 0) << inside.err;
    Directory self;
    ASSERT_TRUE(readArchiveDirectory(at("src\\self.qex"), self));
    std::sort(self.names.begin(), self.names.end());
    EXPECT_EQ(self.names, (std::vector<std::u16string>{u"a.txt", u"b.txt", u"src", u"sub"}));
}

TEST_F(WindowsProgram, FileLinesReachTheConsoleInItsCodePage) {
    // In code page 437 (wine's for a C locale, and the US one) e is 0x82.
    if (GetOEMCP() != 437) GTEST_SKIP() << "the console's code page is " << GetOEMCP();
    makeFolder(full("src"));
    make(joinPath(full("src"), utf16ToNative(u"caf\u00E9.txt")), "abc", kBaseTime);
    const ProcessResult add = runQex({"a", at("t.qex"), at("src")});
    EXPECT_EQ(add.exitCode, 0) << add.err;
    EXPECT_NE(add.out.find("\\src\\caf\x82.txt\":3"), std::string::npos) << add.out;
    EXPECT_EQ(add.out.find("caf\xC3\xA9"), std::string::npos) << add.out;  // not UTF-8
}

TEST_F(WindowsProgram, PathsOnTheCommandLineArriveWhole) {
    // The wide command line, not a code page's bytes: an archive and a
    // source named outside the basic plane are found and made as named.
    const std::string source = utf16ToNative(u"\U0001F600\u0800 source");
    const std::string archive = utf16ToNative(u"\U0001F4E6.qex");
    makeFolder(full(source));
    make(joinPath(full(source), "a.txt"), "abc", kBaseTime);
    const ProcessResult add = runQex({"a", at(archive), at(source)});
    EXPECT_EQ(add.exitCode, 0) << add.err;
    EXPECT_EQ(add.err, "");
    // Read through the platform layer: a narrow stream cannot open this name.
    const std::string bytes = readThroughPlatform(full(archive));
    Directory directory;
    std::string problem;
    ASSERT_TRUE(readDirectory(memoryArchiveSource(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                              directory, problem))
        << problem;
    ASSERT_EQ(directory.names.size(), 2u);
    EXPECT_EQ(directory.names[0], nativeToUtf16(source));
    EXPECT_EQ(directory.names[1], u"a.txt");
}

TEST_F(WindowsProgram, QuotedFolderEndingInABackslashIsItsContentsFromCmd) {
    // cmd passes "...\" on as it is; the system's rule alone would read the
    // backslash as making the quote literal and run on into the next one.
    makeFolder(full("dir with space"));
    make(joinPath(full("dir with space"), "a.txt"), "abc", kBaseTime);
    makeFolder(full("other dir"));
    make(joinPath(full("other dir"), "b.txt"), "b", kBaseTime);
    makeFolder(full("out dir"));
    const auto quoted = [&](const std::string& relative, const char* end) {
        return " \"" + withoutLongPathPrefix(full(relative)) + end;
    };
    const std::string qex = "@\"" QEX_EXE "\"";
    const std::string script = qex + " a" + quoted("t.qex", "\"") + quoted("dir with space", "\\\"") +
                               quoted("other dir", "\\\"") + "\r\n" + qex + " x" + quoted("t.qex", "\"") +
                               quoted("out dir", "\\\"") + "\r\n";
    make(full("run.bat"), script, kBaseTime);
    wchar_t system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
    const ProcessResult run = runProcess({utf16ToNative(std::u16string(cmd.begin(), cmd.end())), "/c",
                                          withoutLongPathPrefix(full("run.bat"))});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    Directory directory;
    ASSERT_TRUE(readArchiveDirectory(at("t.qex"), directory));
    EXPECT_EQ(directory.names, (std::vector<std::u16string>{u"a.txt", u"b.txt"}));  // the contents only
    EXPECT_EQ(readThroughPlatform(joinPath(full("out dir"), "a.txt")), "abc");
}

TEST_F(WindowsProgram, NamesWindowsCannotHoldAreRefusedAndTheRestExtracted) {
    // Legal on Linux; here a colon would name another file's stream, a
    // backslash a second folder level, and the others make items Windows'
    // own tools cannot open. Each item is refused with its reason, what
    // lies below a refused folder with it; the rest is extracted.
    const std::string archive = ArchiveBuilder()
                                    .folder(0, u"T")
                                    .file(1, u"before.txt", "first")
                                    .file(1, u"12:30.txt", "lunch")
                                    .folder(1, u"at 12:30")
                                    .file(2, u"inside.txt", "lost with its folder")
                                    .file(1, u"back\\slash", "bs")
                                    .folder(1, u"a\\b")
                                    .file(2, u"below.txt", "lost with its folder")
                                    .file(1, u"dot.", "d")
                                    .file(1, u"space ", "s")
                                    .file(1, u"CON", "c")
                                    .file(1, u"nul.txt", "n")
                                    .file(1, u"Com1 .log", "c1")
                                    .file(1, u"after.txt", "last")
                                    .text();
    make(full("t.qex"), archive, kBaseTime);
    makeFolder(full("out"));
    const ProcessResult extract = runQex({"x", at("t.qex"), at("out")});
    EXPECT_EQ(extract.exitCode, 1) << extract.err;
    const std::string t = withoutLongPathPrefix(full("out")) + "\\T\\";
    for (const std::string& line : {"file \"" + t + "12:30.txt\": the name holds a character Windows does not allow",
                                   "folder \"" + t + "at 12:30\": the name holds a character",
                                   "file \"" + t + "back<5C>slash\": the name holds a backslash, which Windows reads",
                                   "folder \"" + t + "a<5C>b\": the name holds a backslash, which Windows reads as a "
                                   "folder separator; its 1 item is not restored either",
                                   "file \"" + t + "dot.\": the name ends with a dot or a space",
                                   "file \"" + t + "space \": the name ends with a dot or a space",
                                   "file \"" + t + "CON\": the name is a device name on Windows",
                                   "file \"" + t + "nul.txt\": the name is a device name",
                                   "file \"" + t + "Com1 .log\": the name is a device name"})
        EXPECT_NE(extract.err.find("qex: cannot create " + line), std::string::npos) << line << "\n" << extract.err;
    EXPECT_EQ(readThroughPlatform(joinPath(full("out"), "T\\before.txt")), "first");
    EXPECT_EQ(readThroughPlatform(joinPath(full("out"), "T\\after.txt")), "last");
    std::map<std::u16string, ListedState> extracted;
    listTree(joinPath(full("out"), "T"), u"", extracted);
    EXPECT_EQ(extracted.size(), 2u);

    // Listing and testing take such names as they are, the backslash in a
    // name escaped so that it never reads as a separator.
    const ProcessResult list = runQex({"l", at("t.qex")});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find(" T/a<5C>b/below.txt\n"), std::string::npos) << list.out;
    const ProcessResult test = runQex({"t", at("t.qex")});
    EXPECT_EQ(test.exitCode, 0) << test.err;
}

TEST_F(WindowsProgram, NamesDifferingOnlyInCaseNeverReplaceEachOther) {
    // One folder of a case-insensitive file system holds one of them: the
    // first stays whole, each later one is refused naming it. Folders merge.
    make(full("t.qex"), ArchiveBuilder()
                            .folder(0, u"c")
                            .file(1, u"Case.txt", "first")
                            .file(1, u"case.txt", "second")
                            .file(1, u"CASE.TXT", "third")
                            .folder(1, u"Sub")
                            .file(2, u"a.txt", "a")
                            .folder(1, u"SUB")
                            .file(2, u"b.txt", "b")
                            .text(),
         kBaseTime);
    makeFolder(full("out"));
    const ProcessResult extract = runQex({"x", at("t.qex"), at("out")});
    EXPECT_EQ(extract.exitCode, 1) << extract.err;
    const std::string c = withoutLongPathPrefix(full("out")) + "\\c\\";
    for (const char* later : {"case.txt", "CASE.TXT"})
        EXPECT_NE(extract.err.find("qex: cannot create file \"" + c + later + "\": \"" + c +
                                   "Case.txt\", extracted earlier by this run, has that name here (it is kept)\n"),
                  std::string::npos)
            << extract.err;
    std::map<std::u16string, ListedState> extracted;
    listTree(joinPath(full("out"), "c"), u"", extracted);
    EXPECT_EQ(extracted.size(), 4u);  // Case.txt, Sub, Sub\a.txt, Sub\b.txt
    EXPECT_TRUE(extracted.contains(u"Case.txt"));
    EXPECT_EQ(readThroughPlatform(joinPath(full("out"), "c\\case.txt")), "first");
    EXPECT_EQ(readThroughPlatform(joinPath(full("out"), "c\\sub\\b.txt")), "b");

    // Named items ignore case here, as the file system and add's masks do.
    makeFolder(full("some"));
    const ProcessResult some = runQex({"x", at("t.qex"), at("some"), "C/SUB/A.TXT", "c/*.TXT"});
    EXPECT_EQ(some.exitCode, 1) << some.err;  // the later case.txt again
    EXPECT_EQ(readThroughPlatform(joinPath(full("some"), "c\\sub\\a.txt")), "a");
    EXPECT_EQ(readThroughPlatform(joinPath(full("some"), "c\\case.txt")), "first");
    EXPECT_EQ(some.err.find("no archived item matches"), std::string::npos) << some.err;
}

TEST_F(WindowsProgram, LinuxHardLinksAndOwnersArriveAsPlainFiles) {
    // A Linux tree: owners under their bit, a hard-link entry holding its
    // first name's path. Here the marker means nothing: two plain files, and
    // the access time is taken as stored.
    ArchiveBuilder b;
    b.folder(0, u"T").file(1, u"f", "data").file(1, u"g", "T/f");
    for (ArchiveEntry& e : b.entries) {
        e.attributes |= kAttributeUnixMode;
        storeOwner(e.attributes, e.lastAccessTime, 1000, 100);
    }
    b.entries[1].creationTime = withUnixMode(b.entries[1].creationTime, 0100644);
    b.entries[2].creationTime = withUnixMode(b.entries[2].creationTime, kModeHardLink | 0644);
    make(full("t.qex"), b.text(), kBaseTime);
    makeFolder(full("out"));
    const ProcessResult extract = runQex({"x", at("t.qex"), at("out")});
    EXPECT_EQ(extract.exitCode, 0) << extract.err;
    // Listed before it is read: under wine reading a file moves its access time.
    std::map<std::u16string, ListedState> extracted;
    listTree(joinPath(full("out"), "T"), u"", extracted);
    EXPECT_EQ(extracted[u"g"].lastAccessTime, b.entries[2].lastAccessTime);
    EXPECT_EQ(readThroughPlatform(joinPath(full("out"), "T\\f")), "data");
    EXPECT_EQ(readThroughPlatform(joinPath(full("out"), "T\\g")), "T/f");
}

}  // namespace
}  // namespace qex::test
