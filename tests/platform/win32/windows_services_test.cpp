// The Windows platform layer against the system itself: full paths behind
// the long-path prefix (also beyond 260 characters), names in UTF-16 from
// the listing, all three times, the attribute bits, and refusing to create
// anything through a link inside an extraction target.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_attributes.h"
#include "platform/file_io.h"
#include "platform/file_times.h"
#include "platform/listing.h"
#include "platform/paths.h"
#include "platform/text_conversion.h"
#include "platform/within_folder.h"
#include "support/platform_file_read.h"

namespace qex {
namespace {

namespace fs = std::filesystem;

std::string native(const std::wstring& text) { return utf16ToNative(std::u16string(text.begin(), text.end())); }
std::wstring wide(const std::string& text) {
    const std::u16string units = nativeToUtf16(text);
    return std::wstring(units.begin(), units.end());
}

// 2021-03-04 05:06:07.1234567 UTC, and a day and two days later.
constexpr uint64_t kCreationTime = 132592515671234567u;
constexpr uint64_t kDay = uint64_t{86400} * 10000000;

// A scratch folder as a full native path behind the prefix.
class WindowsServices : public ::testing::Test {
protected:
    void SetUp() override {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        folder_ = fs::temp_directory_path() / ("qex-win32-" + std::to_string(stamp));
        ASSERT_TRUE(fs::create_directory(folder_));
        ASSERT_TRUE(fullPath(native(folder_.wstring()), root_));
    }
    void TearDown() override {
        std::error_code ignored;
        const fs::path root(wide(root_));
        for (auto it = fs::recursive_directory_iterator(root, ignored); it != fs::recursive_directory_iterator();
             it.increment(ignored))
            SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryW(wide(root_ + "\\link").c_str());
        fs::remove_all(fs::path(wide(root_)), ignored);
    }
    std::string at(const std::string& relative) const { return joinPath(root_, relative); }
    void writeFile(const std::string& path, const std::string& content) {
        int error = 0;
        const FileHandle file = createForWrite(path.c_str(), error);
        ASSERT_NE(file, kNoFile) << systemReason(error);
        ASSERT_TRUE(writeAll(file, reinterpret_cast<const uint8_t*>(content.data()), content.size(), error));
        ASSERT_TRUE(closeFile(file, error));
    }

    fs::path folder_;
    std::string root_;
};

TEST_F(WindowsServices, FullPathsCarryTheLongPathPrefixOnce) {
    EXPECT_EQ(root_.rfind("\\\\?\\", 0), 0u) << root_;
    EXPECT_EQ(root_.substr(4), native(folder_.wstring()));
    // Relative paths resolve against the current folder, "/" becomes "\",
    // and a trailing separator (a folder's contents) stays.
    wchar_t current[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, current), 0u);
    std::string full;
    ASSERT_TRUE(fullPath("a/b/", full));
    EXPECT_EQ(full, "\\\\?\\" + joinPath(native(current), "a\\b\\"));
    ASSERT_TRUE(fullPath("x\\..\\y", full));
    EXPECT_EQ(full, "\\\\?\\" + joinPath(native(current), "y"));
    // A path that already begins with two backslashes is taken as it is.
    ASSERT_TRUE(fullPath(root_, full));
    EXPECT_EQ(full, root_);
    ASSERT_TRUE(fullPath("\\\\server\\share\\f", full));
    EXPECT_EQ(full, "\\\\server\\share\\f");
    EXPECT_EQ(withoutLongPathPrefix(root_), root_.substr(4));
}

TEST_F(WindowsServices, FilesBeyondTwoHundredSixtyCharactersAreMadeReadAndListed) {
    std::string deep = root_;
    for (int level = 0; level < 6; ++level) {
        deep = joinPath(deep, std::string(60, static_cast<char>('a' + level)));
        ASSERT_TRUE(CreateDirectoryW(wide(deep).c_str(), nullptr)) << GetLastError();
    }
    const std::string file = joinPath(deep, "data.bin");
    ASSERT_GT(withoutLongPathPrefix(file).size(), 380u);
    writeFile(file, "far down");
    EXPECT_EQ(test::readThroughPlatform(file), "far down");
    // The same file by a path without the prefix: the layer adds it.
    EXPECT_EQ(test::readThroughPlatform(std::string(withoutLongPathPrefix(file))), "far down");
    std::vector<ListedItem> items;
    int error = 0;
    ASSERT_TRUE(listPattern(joinPath(deep, "*"), items, error)) << systemReason(error);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, u"data.bin");
    EXPECT_EQ(items[0].size, 8u);
}

TEST_F(WindowsServices, NamesComeFromTheListingInUtf16AndOpenAgain) {
    const std::u16string smile = u"\U0001F600";
    const std::u16string names[] = {u"plain.txt", smile + u" smile", u"\u0800\u0FFF", u"caf\u00E9"};
    for (const std::u16string& name : names) writeFile(at(utf16ToNative(name)), utf16ToNative(name));
    CreateDirectoryW(wide(at("sub")).c_str(), nullptr);
    std::vector<ListedItem> items;
    int error = 0;
    ASSERT_TRUE(listPattern(at("*"), items, error)) << systemReason(error);
    ASSERT_EQ(items.size(), 5u);  // "." and ".." are never listed
    for (const ListedItem& item : items) {
        EXPECT_EQ(item.nativeName, utf16ToNative(item.name));
        if (item.kind == ItemKind::Folder) {
            EXPECT_EQ(item.name, u"sub");
            EXPECT_NE(item.attributes & kAttributeDirectory, 0);
            continue;
        }
        EXPECT_EQ(test::readThroughPlatform(at(item.nativeName)), item.nativeName);
        EXPECT_EQ(item.size, item.nativeName.size());
    }
    // The system matches the pattern; a pattern matching nothing lists nothing.
    ASSERT_TRUE(listPattern(at("*smile"), items, error));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, smile + u" smile");
    ASSERT_TRUE(listPattern(at("nothing*"), items, error));
    EXPECT_TRUE(items.empty());
    EXPECT_FALSE(listPattern(at("missing\\*"), items, error));
}

TEST(WindowsNames, EveryUnitSequenceSurvivesTheNativeForm) {
    const std::u16string samples[] = {std::u16string{0xD800}, std::u16string{u'a', 0xDC00, u'b'},
                                      std::u16string{0xDBFF, 0xDFFF}, std::u16string{0xDFFF, 0xD800},
                                      std::u16string{0xDC80, 0xDCFF}};
    for (const std::u16string& units : samples) EXPECT_EQ(nativeToUtf16(utf16ToNative(units)), units);
    // A lone surrogate travels as its three-byte form.
    EXPECT_EQ(utf16ToNative(std::u16string{0xD800}), "\xED\xA0\x80");
    // The console gets its own code page; plain text passes unchanged.
    EXPECT_EQ(consoleText(u"Adding \"a.txt\""), "Adding \"a.txt\"");
}

TEST_F(WindowsServices, TimesAndAttributesAreSetOnTheOpenFileAndByPath) {
    int error = 0;
    const FileHandle file = createForWrite(at("stamped").c_str(), error);
    ASSERT_NE(file, kNoFile);
    EXPECT_EQ(setFileTimes(file, kCreationTime, kCreationTime + 2 * kDay, kCreationTime + kDay), 0);
    EXPECT_EQ(applyFileAttributes(file, kAttributeReadOnly | kAttributeFile), 0);
    ASSERT_TRUE(closeFile(file, error));
    std::vector<ListedItem> items;
    ASSERT_TRUE(listPattern(at("stamped"), items, error));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].lastWriteTime, kCreationTime + kDay);
    EXPECT_EQ(items[0].lastAccessTime, kCreationTime + 2 * kDay);
    EXPECT_NE(items[0].attributes & kAttributeReadOnly, 0);

    // By path, a folder: hidden; a time of 0 leaves that time alone.
    ASSERT_TRUE(CreateDirectoryW(wide(at("folder")).c_str(), nullptr));
    EXPECT_EQ(setPathTimes(at("folder").c_str(), 0, 0, kCreationTime), 0);
    EXPECT_EQ(applyPathAttributes(at("folder").c_str(), kAttributeDirectory | kAttributeHidden), 0);
    ASSERT_TRUE(listPattern(at("folder"), items, error));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].lastWriteTime, kCreationTime);
    EXPECT_NE(items[0].lastAccessTime, 0u);
    EXPECT_EQ(items[0].attributes & (kAttributeDirectory | kAttributeHidden), kAttributeDirectory | kAttributeHidden);
    EXPECT_NE(setPathTimes(at("missing").c_str(), 0, 0, kCreationTime), 0);
}

TEST_F(WindowsServices, ItemsAreMadeOnlyInsideTheTarget) {
    int error = 0;
    const FileHandle target = openTargetFolder(root_.c_str(), error);
    ASSERT_NE(target, kNoFile) << systemReason(error);
    bool created = false;
    EXPECT_EQ(makeFolderWithin(target, "d", created), 0);
    EXPECT_TRUE(created);
    EXPECT_EQ(makeFolderWithin(target, "d", created), 0);  // kept as it is
    EXPECT_FALSE(created);
    FileHandle file = createFileWithin(target, "d\\f", error);
    ASSERT_NE(file, kNoFile) << systemReason(error);
    closeFile(file, error);
    EXPECT_NE(makeFolderWithin(target, "d\\f", created), 0);  // a file is in the way
    // Steps out of the target are refused before the system sees them.
    EXPECT_EQ(createFileWithin(target, "..\\escaped", error), kNoFile);
    EXPECT_EQ(createFileWithin(target, "d\\..\\..\\escaped", error), kNoFile);
    // A colon would name a drive, or a stream of another file.
    EXPECT_EQ(createFileWithin(target, "C:escaped", error), kNoFile);
    EXPECT_EQ(createFileWithin(target, "d\\f:stream", error), kNoFile);
    EXPECT_EQ(makeFolderWithin(target, "d:x", created), ERROR_INVALID_NAME);
    EXPECT_FALSE(fs::exists(folder_.parent_path() / "escaped"));
    closeFile(target, error);
    EXPECT_EQ(openTargetFolder(at("d\\f").c_str(), error), kNoFile);  // not a folder
}

TEST_F(WindowsServices, LinkInsideTheTargetIsNeverFollowed) {
    const fs::path outside = folder_.string() + "-outside";
    fs::create_directory(outside);
    std::error_code linkError;
    fs::create_directory_symlink(outside, folder_ / "link", linkError);
    if (linkError) {
        fs::remove_all(outside, linkError);
        GTEST_SKIP() << "this system makes no symbolic links here (wine does not)";
    }
    int error = 0;
    const FileHandle target = openTargetFolder(root_.c_str(), error);
    ASSERT_NE(target, kNoFile) << systemReason(error);
    bool created = false;
    EXPECT_EQ(createFileWithin(target, "link\\f", error), kNoFile);
    EXPECT_EQ(makeFolderWithin(target, "link\\g", created), 681);
    EXPECT_TRUE(fs::is_empty(outside));
    closeFile(target, error);
    fs::remove_all(outside, linkError);
}

}  // namespace
}  // namespace qex
