// Linux side of file identity: fstat, lstat and unlink.
#include "platform/file_identity.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qex {
namespace {

FileIdentity identityOf(const struct stat& info) {
    FileIdentity identity;
    identity.known = true;
    identity.regular = S_ISREG(info.st_mode);
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    return identity;
}

}  // namespace

FileIdentity identityOfFile(FileHandle file) {
    struct stat info {};
    return ::fstat(file, &info) == 0 ? identityOf(info) : FileIdentity{};
}

FileIdentity identityOfPath(const char* path) {
    struct stat info {};
    return ::lstat(path, &info) == 0 ? identityOf(info) : FileIdentity{};
}

SystemStatus removeIfSameFile(const char* path, const FileIdentity& identity) {
    const FileIdentity now = identityOfPath(path);
    if (!identity.known || !identity.regular || !now.known || !now.regular ||
        now.device != identity.device || now.inode != identity.inode)
        return {EEXIST};
    return ::unlink(path) == 0 ? SystemStatus{} : SystemStatus{errno};
}

}  // namespace qex
