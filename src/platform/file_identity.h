// Which file a handle or a path is: device and inode (on Windows the
// volume's serial number and the file index), and whether it is a regular
// file. The add command uses it to leave the archive out of its own
// walk and to remove an incomplete archive only when it is the regular file
// this run created (never a device such as /dev/full, a pipe, or whatever
// has taken its name since).
#pragma once

#include <cstdint>

#include "platform/file_io.h"

namespace qex {

struct FileIdentity {
    bool known = false;  // false: the handle or path could not be examined
    bool regular = false;
    uint64_t device = 0;
    uint64_t inode = 0;
};

FileIdentity identityOfFile(FileHandle file);

// The path itself, a symbolic link not followed.
FileIdentity identityOfPath(const char* path);

// Removes `path` if it still names the regular file `identity`; a path that
// names something else is left alone (EEXIST).
SystemStatus removeIfSameFile(const char* path, const FileIdentity& identity);

}  // namespace qex
