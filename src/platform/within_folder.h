// Creating and opening items inside an extraction target, never outside it.
//
// Paths are relative to an open target folder. Resolution stays below that
// folder: a symbolic link that leads out of it (or a ".." above it) makes
// the call fail, so an archive can never write outside its target, whatever
// links the target already holds. A lexical check alone would not do,
// because the links are on disk, not in the archive.
//
// On Linux every folder is opened from the one above it with O_NOFOLLOW; a
// link met on the way is read and its value walked the same way, from its
// own folder, or for an absolute value from the system's root up to the
// target (a value that never reaches the target leads outside). Path
// length is no limit: no call ever gets more than one name. On Windows
// every component below the target is examined before use
// and a reparse point (a symbolic link or a junction) is refused, and so is
// a component holding a colon (a drive, or a stream of another file); the
// target is kept open, without delete sharing, so it cannot be swapped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_identity.h"
#include "platform/file_io.h"

namespace qex {

// Opens an existing folder to extract into. Fails when it is missing or
// not a folder.
SystemResult<FileHandle> openTargetFolder(const char* path);

// A target folder and the way down to the folder last worked in below it.
// Linux keeps a descriptor per level, so that the next item of the same
// folder, or of one near it (an archive lists its entries folder by
// folder), is reached without walking from the target again; Windows only
// the target. One per thread; the target is borrowed, the levels owned.
struct FolderCursor {
    explicit FolderCursor(FileHandle target = kNoFile) : target(target) {}
    FolderCursor(const FolderCursor&) = delete;
    FolderCursor& operator=(const FolderCursor&) = delete;
    ~FolderCursor();

    FileHandle target;
    std::vector<std::string> names;   // Linux: the real folders below the target, one per level
    std::vector<FileHandle> folders;  // Linux: their descriptors, each opened from the one above
};

// Makes the folder `relativePath` below the target (mode 0700: its final
// mode comes once it is complete) unless a folder is already there, which
// is kept as it is. The value tells whether it is new. Fails with EXDEV or
// ELOOP for a path that would leave the target, ENOTDIR when a file is in
// the way.
SystemResult<bool> makeFolderWithin(FolderCursor& at, const char* relativePath);

// Removes the folder `relativePath` below the target if it is empty (a
// folder made in vain); anything else stays where it is.
SystemStatus removeEmptyFolderWithin(FolderCursor& at, const char* relativePath);

// A file being written under a temporary name beside its final one.
struct PendingFile {
    FileHandle file = kNoFile;    // open for writing until the caller closes it
    FileHandle folder = kNoFile;  // Linux: the folder both names are in (the cursor's)
    std::string temporaryName;    // Linux: names within `folder`; Windows: full paths
    std::string finalName;        //   (empty once the temporary is gone)
    // From its creation until it is placed or discarded an interrupt
    // removes the temporary (interrupt_cleanup.h), unless another item
    // held the one slot when it was created.
    bool armed = false;
};

// Creates a new file, mode 0600 (open to its owner only until it gets its
// final mode), under a fresh temporary name in the folder where
// `relativePath` (below the target) is to stand. The folder is reached as
// makeFolderWithin reaches one and stays the cursor's: the cursor is not
// used again until the file is placed or discarded. Whatever stands at the
// final name is not looked at yet. The temporary is armed for removal on
// an interrupt before it exists, so no interrupt can leave it behind.
SystemResult<PendingFile> createPendingFile(FolderCursor& at, const char* relativePath);

// Asked about the item standing at a final name (a link not followed):
// true keeps it. Extraction compares it with the files it made before
// (their identities taken from their open handles), so that a name that
// the file system takes for another (case ignored) never replaces a file
// of the same run.
using KeepStanding = std::function<bool(const FileIdentity& standing)>;

// Puts the closed temporary file at its final name, replacing the file (or
// symbolic link) standing there. Not replaced: what `keep` keeps (EEXIST),
// a folder (EISDIR), a device, pipe or socket (EEXIST), the `untouchable`
// file (the archive being read: EBUSY). The final name is looked up once
// for all of them. On failure the temporary is still there for
// discardPendingFile.
SystemStatus placePendingFile(PendingFile& pending, const FileIdentity* untouchable = nullptr,
                              const KeepStanding& keep = {});

// Releases `pending`, whatever happened to it: closes what is still open and
// removes the temporary file unless it has been put in place. Never fails;
// safe to call twice.
void discardPendingFile(PendingFile& pending);

// The text for a failure of the calls in this file: a path that would lead
// outside the target is said to do so; any other error is the system's.
std::string withinFolderReason(int error);

// Makes `relativePath` below the target a symbolic link to `linkTarget`
// (never followed here) with the given times (FILETIME, 0 = leave as is).
// An existing file or link of that name is replaced at once (the link is
// made under a temporary name beside it and renamed over it); a folder is
// not (EISDIR), nor a device, pipe or socket (EEXIST), nor the
// `untouchable` file (EBUSY). The link may point
// anywhere: every later item is still created strictly within the target.
// Windows makes no links: ERROR_NOT_SUPPORTED.
SystemStatus createSymbolicLinkWithin(FolderCursor& at, const char* relativePath, const std::string& linkTarget,
                                      uint64_t lastAccessTime, uint64_t lastWriteTime,
                                      const FileIdentity* untouchable = nullptr);

// Makes `relativePath` below the target a FIFO with the permission bits
// `permissions` and the given times, replacing a file or link of that name
// as createSymbolicLinkWithin does. Windows makes no FIFOs:
// ERROR_NOT_SUPPORTED.
SystemStatus createFifoWithin(FolderCursor& at, const char* relativePath, uint16_t permissions,
                              uint64_t lastAccessTime, uint64_t lastWriteTime,
                              const FileIdentity* untouchable = nullptr);

// Makes `relativePath` below the target a further name (a hard link) of
// the regular file `existingPath` below it, replacing a file or link of
// that name as createSymbolicLinkWithin does. Both paths are resolved
// within the target; a link at `existingPath` is not followed (EPERM).
// Windows makes no links here: ERROR_NOT_SUPPORTED.
SystemStatus createHardLinkWithin(FolderCursor& at, const char* existingPath, const char* relativePath,
                                  const FileIdentity* untouchable = nullptr);

// Gives the item `relativePath` below the target (a symbolic link itself,
// never what it leads to) the owner and group ids. Windows:
// ERROR_NOT_SUPPORTED.
SystemStatus changeOwnerWithin(FolderCursor& at, const char* relativePath, uint32_t owner, uint32_t group);

// Opens the folder `relativePath` below the target to set its times, mode
// and owner through the descriptor.
SystemResult<FileHandle> openFolderWithin(FolderCursor& at, const char* relativePath);

}  // namespace qex
