// The Windows platform layer against the system itself, where the Windows
// program's runs do not reach: full paths behind the long-path prefix, listing
// edges, opening listed items, folder times, and nothing made outside a target.
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
#include "platform/opening_listed.h"
#include "platform/paths.h"
#include "platform/text_conversion.h"
#include "platform/within_folder.h"
#include "support/pending_file_write.h"
#include "support/platform_file_read.h"
#include "support/run_process.h"
#include "support/scratch_folder.h"
#include "support/tree_snapshot.h"

namespace qex {
namespace {

namespace fs = std::filesystem;

std::string native(const std::wstring& text) { return utf16ToNative(std::u16string(text.begin(), text.end())); }
using test::wideOf;

// 2021-03-04 05:06:07.1234567 UTC.
constexpr uint64_t kCreationTime = 132592515671234567u;

using test::writeThroughPendingFile;

class WindowsServices : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder_.empty());
        const SystemResult<std::string> root = fullPath(native(folder_.wstring()));
        ASSERT_TRUE(root.ok());
        root_ = root.value;
    }
    std::string at(const std::string& relative) const { return joinPath(root_, relative); }
    void writeFile(const std::string& path, const std::string& content) {
        const SystemResult<FileHandle> file = createForWrite(path.c_str());
        ASSERT_TRUE(file.ok()) << systemReason(file.error);
        ASSERT_TRUE(writeAll(file.value, reinterpret_cast<const uint8_t*>(content.data()), content.size()).ok());
        ASSERT_TRUE(closeFile(file.value).ok());
    }

    test::ScratchFolder scratch_;
    const fs::path folder_ = scratch_.root();
    std::string root_;
};

TEST_F(WindowsServices, FullPathsCarryTheLongPathPrefixOnceAndTheLayerAddsItToAnyPath) {
    EXPECT_EQ(root_.rfind("\\\\?\\", 0), 0u) << root_;
    EXPECT_EQ(root_.substr(4), native(folder_.wstring()));
    wchar_t current[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, current), 0u);
    const std::string here = "\\\\?\\" + native(current);
    const struct { std::string path, full; } cases[] = {
        // Relative paths resolve against the current folder, "/" becomes "\",
        // and a trailing separator (a folder's contents) stays.
        {"a/b/", joinPath(here, "a\\b\\")},
        {"x\\..\\y", joinPath(here, "y")},
        // A path that already begins with two backslashes is taken as it is.
        {root_, root_},
        {"\\\\server\\share\\f", "\\\\server\\share\\f"},
    };
    for (const auto& c : cases) {
        const SystemResult<std::string> full = fullPath(c.path);
        EXPECT_TRUE(full.ok()) << c.path;
        EXPECT_EQ(full.value, c.full) << c.path;
    }
    EXPECT_EQ(withoutLongPathPrefix(root_), root_.substr(4));
    // A file past 260 characters opens by a path without the prefix: the layer adds it.
    // (Made, listed and read with it by WindowsProgram.TreeComesBack....)
    std::string deep = root_;
    for (int level = 0; level < 6; ++level) {
        deep = joinPath(deep, std::string(60, static_cast<char>('a' + level)));
        ASSERT_TRUE(CreateDirectoryW(wideOf(deep).c_str(), nullptr)) << GetLastError();
    }
    const std::string file = joinPath(deep, "data.bin");
    ASSERT_GT(withoutLongPathPrefix(file).size(), 380u);
    writeFile(file, "far down");
    EXPECT_EQ(test::readThroughPlatform(std::string(withoutLongPathPrefix(file))), "far down");
}

TEST_F(WindowsServices, ListingMatchingNothingIsEmptyAndListedItemsOpenOnlyWhileUnchanged) {
    writeFile(at("same"), "plain");
    writeFile(at("replaced"), "plain");
    CreateDirectoryW(wideOf(at("folder")).c_str(), nullptr);
    SystemResult<OpenFolder> folder = openFolderAt(root_);
    ASSERT_TRUE(folder.ok()) << systemReason(folder.error);
    std::vector<ListedItem> items;
    // A pattern matching nothing lists nothing; one in a missing folder is an error. (UTF-16
    // names and the system's matching come back in WindowsProgram's tree and mask runs.)
    ASSERT_TRUE(listPattern(at("nothing*"), items).ok());
    EXPECT_TRUE(items.empty());
    EXPECT_FALSE(listPattern(at("missing\\*"), items).ok());
    ASSERT_TRUE(listOpenFolder(folder.value, "*", items).ok());
    ASSERT_EQ(items.size(), 3u);

    // Another file renamed over one name, a file in the folder's place.
    writeFile(at("new"), "other");
    ASSERT_TRUE(
        MoveFileExW(wideOf(at("new")).c_str(), wideOf(at("replaced")).c_str(), MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(RemoveDirectoryW(wideOf(at("folder")).c_str()));
    writeFile(at("folder"), "not a folder");

    for (const ListedItem& item : items) {
        if (item.kind == ItemKind::Folder) {
            OpenFolder inner;
            int error = 0;
            EXPECT_EQ(openListedFolder(folder.value, item, inner, error), ListedOpen::changed);
            continue;
        }
        const OpenedItem opened = openListedItem(folder.value, item);
        EXPECT_EQ(opened.outcome, item.nativeName == "same" ? ListedOpen::opened : ListedOpen::changed)
            << item.nativeName;
        if (opened.handle != kNoFile) {
            EXPECT_TRUE(closeFile(opened.handle).ok());
        }
    }
    closeFolder(folder.value);
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

// A file's times and attributes come back in WindowsProgram.TreeComesBack...; here
// a folder's, through the handle openFolderWithin gives, and a time of 0 left alone.
TEST_F(WindowsServices, FolderTimesAndAttributesAreSetOnItsOpenHandle) {
    ASSERT_TRUE(CreateDirectoryW(wideOf(at("folder")).c_str(), nullptr));
    const SystemResult<FileHandle> target = openTargetFolder(root_.c_str());
    ASSERT_TRUE(target.ok());
    {
        FolderCursor cursor(target.value);
        const SystemResult<FileHandle> folder = openFolderWithin(cursor, "folder");
        ASSERT_TRUE(folder.ok());
        EXPECT_TRUE(setFileTimes(folder.value, 0, 0, kCreationTime).ok());
        EXPECT_TRUE(applyFileAttributes(folder.value, kAttributeDirectory | kAttributeHidden).ok());
        EXPECT_TRUE(closeFile(folder.value).ok());
    }
    EXPECT_TRUE(closeFile(target.value).ok());
    std::vector<ListedItem> items;
    ASSERT_TRUE(listPattern(at("folder"), items).ok());
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].lastWriteTime, kCreationTime);
    EXPECT_NE(items[0].lastAccessTime, 0u);
    EXPECT_EQ(items[0].attributes & (kAttributeDirectory | kAttributeHidden), kAttributeDirectory | kAttributeHidden);
}

TEST_F(WindowsServices, ItemsAreMadeOnlyInsideTheTargetAndAReadOnlyFileIsReplaced) {
    writeFile(at("ro"), "old");
    ASSERT_TRUE(SetFileAttributesW(wideOf(at("ro")).c_str(), FILE_ATTRIBUTE_READONLY));
    const SystemResult<FileHandle> opened = openTargetFolder(root_.c_str());
    ASSERT_TRUE(opened.ok()) << systemReason(opened.error);
    FolderCursor target(opened.value);
    SystemResult<bool> made = makeFolderWithin(target, "d");
    EXPECT_TRUE(made.ok());
    EXPECT_TRUE(made.value);
    made = makeFolderWithin(target, "d");  // kept as it is
    EXPECT_TRUE(made.ok());
    EXPECT_FALSE(made.value);
    const int created = writeThroughPendingFile(target, "d\\f");
    ASSERT_EQ(created, 0) << systemReason(created);
    EXPECT_FALSE(makeFolderWithin(target, "d\\f").ok());  // a file is in the way
    // Steps out of the target are refused before the system sees them.
    EXPECT_NE(writeThroughPendingFile(target, "..\\escaped"), 0);
    EXPECT_NE(writeThroughPendingFile(target, "d\\..\\..\\escaped"), 0);
    // A colon would name a drive, or a stream of another file.
    EXPECT_NE(writeThroughPendingFile(target, "C:escaped"), 0);
    EXPECT_NE(writeThroughPendingFile(target, "d\\f:stream"), 0);
    EXPECT_EQ(makeFolderWithin(target, "d:x").error, ERROR_INVALID_NAME);
    EXPECT_FALSE(fs::exists(folder_.parent_path() / "escaped"));
    // A read-only file is replaced by a new one, and no temporary stays.
    EXPECT_EQ(writeThroughPendingFile(target, "ro", "new"), 0);
    EXPECT_TRUE(closeFile(target.target).ok());
    EXPECT_EQ(test::readThroughPlatform(at("ro")), "new");
    EXPECT_EQ(GetFileAttributesW(wideOf(at("ro")).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(test::namesIn(folder_), (std::vector<std::string>{"d", "ro"}));
    EXPECT_FALSE(openTargetFolder(at("d\\f").c_str()).ok());  // not a folder
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
    const SystemResult<FileHandle> opened = openTargetFolder(root_.c_str());
    ASSERT_TRUE(opened.ok()) << systemReason(opened.error);
    FolderCursor target(opened.value);
    EXPECT_NE(writeThroughPendingFile(target, "link\\f"), 0);
    EXPECT_EQ(makeFolderWithin(target, "link\\g").error, 681);
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_TRUE(closeFile(target.target).ok());
    RemoveDirectoryW(wideOf(root_ + "\\link").c_str());  // a folder link goes as a folder does
    fs::remove_all(outside, linkError);
}

}  // namespace
}  // namespace qex
