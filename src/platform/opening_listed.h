// Opening what a listing reported, and nothing that took its place since.
//
// Between listing a folder and opening one of its items anyone may rename,
// remove or replace the item: put a symbolic link, a FIFO, another file or
// a folder at its name. The add command must read what it listed or
// nothing. So an item is opened through its open folder (listing.h),
// never through a link (unless the listing itself followed one: a source
// named on the command line), never waiting on a FIFO, and what was opened
// is compared with what was listed: device and inode (on Windows the
// volume's serial number and the file index) and type. Anything else is
// closed again unread and reported as `changed`.
//
// Linux: openat relative to the folder's descriptor with O_NOFOLLOW and,
// for files, O_NONBLOCK (a FIFO opens at once and is then told apart by
// fstat; the descriptor is made blocking again once it is known to be a
// regular file); a symbolic link is opened as itself (O_PATH), for its
// target. Windows: the item's full path with FILE_FLAG_OPEN_REPARSE_POINT
// (unless the listing reported a reparse point there), its file index
// compared; the folder's handle keeps the folder from being renamed or
// removed meanwhile.
#pragma once

#include "platform/file_io.h"
#include "platform/listing.h"

namespace qex {

enum class ListedOpen : uint8_t {
    opened,   // `handle` is the listed item
    changed,  // the name holds something else now (or nothing openable of the listed type)
    failed,   // the system refused: `error` says why (a removed item: not found)
};

struct OpenedItem {
    ListedOpen outcome = ListedOpen::failed;
    int error = 0;
    FileHandle handle = kNoFile;
};

// Opens the listed folder `item` of `folder`; on success `opened` holds it.
ListedOpen openListedFolder(const OpenFolder& folder, const ListedItem& item, OpenFolder& opened, int& error);

// Opens the listed file or symbolic link `item` of `folder` for its
// contents: a file for reading; a link (Linux) as itself, for
// readLinkTarget (unix_mode.h).
OpenedItem openListedItem(const OpenFolder& folder, const ListedItem& item);

}  // namespace qex
