// A whole file read through qex's own file services, so that a test reads a
// path exactly as the program would (long paths, names outside the basic
// plane). A file that cannot be opened reads as "cannot open: <reason>", which
// no expected content equals.
#pragma once

#include <string>

#include "platform/file_io.h"

namespace qex::test {

inline std::string readThroughPlatform(const std::string& path) {
    const SystemResult<FileHandle> file = openForRead(path.c_str());
    if (!file.ok()) return "cannot open: " + systemReason(file.error);
    const SystemResult<int64_t> size = fileSize(file.value);
    std::string content(size.ok() ? static_cast<size_t>(size.value) : 0, '\0');
    int error = size.error;
    if (error == 0) error = readFull(file.value, reinterpret_cast<uint8_t*>(content.data()), content.size()).error;
    ignoreFailure(closeFile(file.value));  // only read from
    if (error != 0) return "cannot read: " + systemReason(error);
    return content;
}

}  // namespace qex::test
