// Listing the items of a folder that match a pattern, as the add command's
// walk needs them.
//
// A pattern is a folder plus a last component. Without wildcards the last
// component names one item, which is listed when it exists. "." and ".."
// are never listed.
//
// On Linux only "*" (any run of characters, empty included, a leading dot
// included) and "?" (exactly one character) are wildcards; every other
// character matches itself, and matching is case-sensitive. Items come
// sorted the way an NTFS folder lists them: ascending by UTF-16 units with
// a-z folded to A-Z, ties broken by the unfolded units. So the same tree
// always gives the same archive, whichever system made it.
//
// On Windows the system matches (FindFirstFileW, without regard to case)
// and items come in the order FindNextFileW delivers them, names straight
// in UTF-16; an NTFS folder delivers the order above.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_attributes.h"
#include "platform/file_io.h"

namespace qex {

enum class ItemKind : uint8_t {
    Folder,   // entered by the walk
    File,     // read by the reader thread
    Link,     // a symbolic link inside the tree (Linux): its target is stored, never followed
    Special,  // FIFO, socket or device: never opened, never archived
};

// Attribute bits an item reports besides read-only and folder
// (file_attributes.h): hidden for a name starting with a dot, and the bit a
// file carries on Windows once it has been created or changed.
inline constexpr uint16_t kAttributeHidden = 0x02;
inline constexpr uint16_t kAttributeFile = 0x20;

struct ListedItem {
    std::string nativeName;  // the name's bytes as the folder holds them
    std::u16string name;     // the same name in UTF-16 (lossless)
    ItemKind kind = ItemKind::File;
    // 0, or the reason the item could not be examined; such an item is
    // reported as an unreadable file.
    int statError = 0;
    uint64_t size = 0;  // a link: its target's length; 0 for folders
    uint16_t attributes = 0;
    // Linux: st_mode & 0xFFFF, stored with the entry (unix_mode.h); 0 on
    // Windows, which stores none.
    uint16_t mode = 0;
    uint64_t creationTime = 0;  // FILETIME units
    uint64_t lastWriteTime = 0;
    uint64_t lastAccessTime = 0;
    uint64_t device = 0;  // identity of what the item leads to, for loop
    uint64_t inode = 0;   // and self detection, and to know it again when opened
    // The item is a link the listing followed (the one item a pattern
    // without wildcards names): it is opened through that link too.
    bool followed = false;
    // Linux: the owner and group ids (unix_owner.h) and the count of the
    // names a file has (hard links); Windows reports none of them.
    uint32_t owner = 0;
    uint32_t group = 0;
    uint64_t links = 1;
};

// A folder the add command's walk holds open. Its items are listed and
// opened through it (opening_listed.h), so that a link or another folder
// put in its place, or in the place of a folder above it, is never listed
// or read. Linux: a descriptor. Windows: a handle that keeps the folder
// from being renamed or removed while it is held, and the path it is
// listed by.
struct OpenFolder {
    FileHandle handle = kNoFile;
    std::string path;  // full native path ending with a separator
};

// Opens the folder at `path` as a path names it: links on the way are
// followed (the folders a user names on the command line).
SystemResult<OpenFolder> openFolderAt(const std::string& path);

void closeFolder(OpenFolder& folder);

// What an error of openFolderAt says: nothing is at the path (or a part of
// it is no folder), or what is there is no folder.
bool isNotFoundError(int error);
bool isNotAFolderError(int error);

// Lists the items of `folder` matching `lastComponent` into `items`,
// sorted, as listPattern does for a path.
SystemStatus listOpenFolder(const OpenFolder& folder, std::string_view lastComponent,
                            std::vector<ListedItem>& items);

// Lists the items matching `pattern` (a full native path) into `items`,
// sorted (the folder opened with openFolderAt and listed through it). Fails when the folder cannot be read; a pattern without wildcards
// naming nothing is an empty listing, not a failure.
//
// On Linux the items a wildcard matches are examined as they are: a
// symbolic link is a Link, whatever it leads to (a folder, nothing, or
// itself). The one item a pattern without wildcards names is followed, as
// the source a user names should be; only when it leads nowhere is it the
// Link itself. Windows reports what FindNextFileW finds.
SystemStatus listPattern(std::string_view pattern, std::vector<ListedItem>& items);

// Examines the item at `path` as a listing of it alone would report it
// (following a link). Never fails: problems land in `statError`.
ListedItem examinePath(const std::string& path);

// Wildcard match of a whole name, one character (a surrogate pair counts as
// one) per "?".
bool matchesWildcards(std::u16string_view pattern, std::u16string_view name);

// The NTFS listing order.
bool listedBefore(std::u16string_view a, std::u16string_view b);

}  // namespace qex
