// Creating and opening items inside an extraction target, never outside it.
//
// Paths are relative to an open target folder. Resolution stays below that
// folder: a symbolic link that leads out of it (or an absolute link, or a
// "..") makes the call fail, so an archive can never write outside its
// target, whatever links the target already holds. A lexical check alone
// would not do, because the links are on disk, not in the archive.
//
// On Linux the kernel's beneath-resolution is used where it exists;
// elsewhere every component is opened with O_NOFOLLOW, which refuses every
// link. On Windows every component below the target is examined before use
// and a reparse point (a symbolic link or a junction) is refused, and so is
// a component holding a colon (a drive, or a stream of another file); the
// target is kept open, without delete sharing, so it cannot be swapped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_identity.h"
#include "platform/file_io.h"

namespace qex {

// Opens an existing folder to extract into. Fails when it is missing or
// not a folder.
SystemResult<FileHandle> openTargetFolder(const char* path);

// Makes the folder `relativePath` below `target` (mode 0777 less the umask)
// unless a folder is already there, which is kept as it is. The value tells
// whether it is new. Fails with EXDEV or ELOOP for a path that would leave
// the target, ENOTDIR when a file is in the way.
SystemResult<bool> makeFolderWithin(FileHandle target, const char* relativePath);

// Creates (or truncates) the file `relativePath` below `target` for writing,
// mode 0666 less the umask. An existing file that is `untouchable` (the
// archive being read, say) is neither truncated nor opened: EBUSY.
SystemResult<FileHandle> createFileWithin(FileHandle target, const char* relativePath,
                                          const FileIdentity* untouchable = nullptr);

// Makes `relativePath` below `target` a symbolic link to `linkTarget`
// (never followed here) with the given times (FILETIME, 0 = leave as is).
// An existing file or link of that name is replaced at once (the link is
// made under a temporary name beside it and renamed over it); a folder is
// not (EISDIR), nor the `untouchable` file (EBUSY). The link may point
// anywhere: every later item is still created strictly within the target.
// Without a target folder (kNoFile) the path is taken as it is. Windows
// makes no links: ERROR_NOT_SUPPORTED.
SystemStatus createSymbolicLinkWithin(FileHandle target, const char* relativePath, const std::string& linkTarget,
                                      uint64_t lastAccessTime, uint64_t lastWriteTime,
                                      const FileIdentity* untouchable = nullptr);

// Opens the folder `relativePath` below `target` to set its times.
SystemResult<FileHandle> openFolderWithin(FileHandle target, const char* relativePath);

#ifndef _WIN32
// The fallback resolution: component by component from `target` with
// O_NOFOLLOW, refusing every symbolic link and "..". The value is the
// descriptor. Exposed for its tests.
SystemResult<int> openByComponents(int target, std::string_view path, int flags, unsigned mode);
#endif

}  // namespace qex
