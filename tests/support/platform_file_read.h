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
    std::string content(static_cast<size_t>(fileSize(file.value).value), '\0');
    readFull(file.value, reinterpret_cast<uint8_t*>(content.data()), content.size());
    closeFile(file.value);
    return content;
}

}  // namespace qex::test
