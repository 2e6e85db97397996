// Opening listed items: what the listing saw is opened, anything swapped in
// since is not (and a FIFO never blocks the open).
#include "platform/opening_listed.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/unix_mode.h"
#include "support/file_bytes.h"
#include "support/scratch_folder.h"

namespace qex {
namespace {

namespace fs = std::filesystem;

std::map<std::string, ListedItem> listedByName(const OpenFolder& folder) {
    std::vector<ListedItem> items;
    EXPECT_TRUE(listOpenFolder(folder, "*", items).ok());
    std::map<std::string, ListedItem> byName;
    for (ListedItem& item : items) byName[item.nativeName] = std::move(item);
    return byName;
}

TEST(OpeningListed, OpensWhatWasListedAndNothingSwappedInSinceAndANamedLinkThroughIt) {
    test::ScratchFolder scratch;
    const fs::path dir = scratch.root() / "dir";
    const fs::path secret = scratch.root() / "secret";
    fs::create_directories(secret);
    fs::create_directories(dir);
    test::writeFileBytes(secret / "key", "SECRET");
    for (const char* name : {"same", "to_link", "to_fifo", "to_other", "gone"}) test::writeFileBytes(dir / name, "plain");
    fs::create_directory(dir / "folder");
    fs::create_symlink("target text", dir / "link");
    fs::create_directory_symlink(secret, scratch.root() / "named");

    SystemResult<OpenFolder> folder = openFolderAt(dir.string());
    ASSERT_TRUE(folder.ok());
    const std::map<std::string, ListedItem> listed = listedByName(folder.value);
    ASSERT_EQ(listed.size(), 7u);

    // Another user moves things between the listing and the opening.
    fs::remove(dir / "to_link");
    fs::create_symlink(secret / "key", dir / "to_link");
    fs::remove(dir / "to_fifo");
    ASSERT_EQ(::mkfifo((dir / "to_fifo").c_str(), 0666), 0);  // no writer ever comes
    test::writeFileBytes(dir / "new", "other");  // another inode, renamed over it
    fs::rename(dir / "new", dir / "to_other");
    fs::remove(dir / "folder");
    fs::create_directory_symlink(secret, dir / "folder");
    fs::remove(dir / "gone");

    OpenedItem same = openListedItem(folder.value, listed.at("same"));
    ASSERT_EQ(same.outcome, ListedOpen::opened);
    uint8_t bytes[16];
    EXPECT_EQ(readFull(same.handle, bytes, sizeof bytes).value, 5u);  // blocking reads again: all of it
    EXPECT_TRUE(closeFile(same.handle).ok());

    OpenedItem link = openListedItem(folder.value, listed.at("link"));
    ASSERT_EQ(link.outcome, ListedOpen::opened);
    EXPECT_EQ(readOpenLinkTarget(link.handle).value, "target text");
    EXPECT_TRUE(closeFile(link.handle).ok());

    for (const char* name : {"to_link", "to_fifo", "to_other"}) {
        const OpenedItem swapped = openListedItem(folder.value, listed.at(name));
        EXPECT_EQ(swapped.outcome, ListedOpen::changed) << name;
        EXPECT_EQ(swapped.handle, kNoFile) << name;
    }
    OpenFolder inner;
    int error = 0;
    EXPECT_EQ(openListedFolder(folder.value, listed.at("folder"), inner, error), ListedOpen::changed);
    EXPECT_EQ(inner.handle, kNoFile);
    const OpenedItem gone = openListedItem(folder.value, listed.at("gone"));
    EXPECT_EQ(gone.outcome, ListedOpen::failed);
    EXPECT_EQ(gone.error, ENOENT);
    closeFolder(folder.value);

    // A link named alone is followed by the listing, and opened through.
    folder = openFolderAt(scratch.root().string());
    ASSERT_TRUE(folder.ok());
    std::vector<ListedItem> items;
    ASSERT_TRUE(listOpenFolder(folder.value, "named", items).ok());
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].kind, ItemKind::Folder);
    EXPECT_TRUE(items[0].followed);
    ASSERT_EQ(openListedFolder(folder.value, items[0], inner, error), ListedOpen::opened);
    EXPECT_EQ(inner.path, (scratch.root() / "named").string() + "/");
    EXPECT_EQ(listedByName(inner).count("key"), 1u);
    closeFolder(inner);
    closeFolder(folder.value);
}

}  // namespace
}  // namespace qex
