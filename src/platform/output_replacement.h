// Replacing an output file as a whole: the new content is written to a
// temporary file beside the final name and renamed over it only once it is
// complete, so that whoever reads the final name sees the old file or the
// new one, never a part of either.
//
// Only a regular file (or nothing) at the final name is replaced this way.
// Anything else there (a pipe, a device such as /dev/stdout or /dev/full)
// is written directly and never renamed or removed. A symbolic link to a
// regular file stays a link: the file it leads to is the one replaced. A
// link that leads nowhere is refused (OutputPlace::danglingLink): it is
// neither followed (which would create a file wherever it leads) nor
// replaced.
//
// The temporary is ".NAME-XXXXXX" in the final name's folder (NAME its last
// component, cut short when the whole would pass the folder's limit on a
// name; X letters and digits), created exclusively, so it never takes
// over a file that is there already. On Linux it is given the permission
// bits of the file it replaces (a private archive stays private); a new
// file gets 0666 less the umask.
#pragma once

#include <string>

#include "platform/file_identity.h"
#include "platform/file_io.h"
#include "platform/system_result.h"

namespace qex {

struct OutputPlace {
    bool direct = false;    // not a regular file: written in place, never replaced
    std::string finalPath;  // where the replacement lands (symbolic links followed)
    FileIdentity existing;  // the file there now; !known when there is none
    // A symbolic link that leads nowhere stands at the path: nothing may be
    // written there (neither through the link nor over it).
    bool danglingLink = false;
};

// What stands at `path` now. Fails only when the system cannot say.
SystemResult<OutputPlace> examineOutputPlace(const std::string& path);

struct TemporaryFile {
    FileHandle file = kNoFile;
    std::string path;
};

// Creates the temporary for `finalPath`, open for writing.
SystemResult<TemporaryFile> createTemporaryBeside(const std::string& finalPath);

// Forces what was written to `file` onto the storage device.
SystemStatus flushToStorage(FileHandle file);

// Renames the (closed) temporary over `finalPath` in one step.
SystemStatus replaceWithTemporary(const std::string& temporaryPath, const std::string& finalPath);

}  // namespace qex
