// Linux side of the archived attributes: the read-only bit as mode bits.
#include "platform/file_attributes.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace qex {

namespace {

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

bool wantsReadOnly(uint16_t attributes) {
    return (attributes & kAttributeReadOnly) != 0 && (attributes & kAttributeDirectory) == 0;
}

}  // namespace

SystemStatus applyFileAttributes(FileHandle file, uint16_t attributes) {
    if (!wantsReadOnly(attributes)) return {};
    struct stat info;
    if (::fstat(file, &info) != 0) return {errno};
    if ((info.st_mode & kWriteBits) == 0) return {};
    return ::fchmod(file, info.st_mode & 07777 & ~kWriteBits) == 0 ? SystemStatus{} : SystemStatus{errno};
}

}  // namespace qex
