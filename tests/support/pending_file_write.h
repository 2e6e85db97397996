// A file written as extraction writes one: a temporary beside its final
// name, then put in place over whatever file stands there. Returns the
// system error of the first step that failed, or 0.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_io.h"
#include "platform/within_folder.h"

namespace qex::test {

inline int writeThroughPendingFile(FolderCursor& at, const char* path, const std::string& content = {}) {
    SystemResult<PendingFile> pending = createPendingFile(at, path);
    if (!pending.ok()) return pending.error;
    int error =
        writeAll(pending.value.file, reinterpret_cast<const uint8_t*>(content.data()), content.size()).error;
    const FileHandle file = pending.value.file;
    pending.value.file = kNoFile;
    if (error == 0) error = closeFile(file).error;
    if (error == 0) error = placePendingFile(pending.value).error;
    discardPendingFile(pending.value);
    return error;
}

}  // namespace qex::test
