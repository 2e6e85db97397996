// Confined creation and opening below an extraction target (see
// within_folder.h).
#include "platform/within_folder.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

namespace qex {
namespace {

constexpr mode_t kNewFolderMode = 0777;  // less the umask, as mkdir does
constexpr mode_t kNewFileMode = 0666;

}  // namespace

int openByComponents(int target, std::string_view path, int flags, unsigned mode) {
    int folder = target;
    for (;;) {
        const size_t slash = path.find('/');
        const std::string part(path.substr(0, slash));
        if (slash == std::string_view::npos) {
            const int fd = ::openat(folder, part.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
            const int error = errno;
            if (folder != target) ::close(folder);
            errno = error;
            return fd;
        }
        path.remove_prefix(slash + 1);
        if (part.empty() || part == ".") continue;
        const int next = part == ".." ? (errno = EXDEV, -1)
                                      : ::openat(folder, part.c_str(),
                                                 O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        if (folder != target) ::close(folder);
        if (next < 0) {
            errno = error;
            return -1;
        }
        folder = next;
    }
}

namespace {

int openBeneath(int target, const char* path, int flags, mode_t mode) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) != 0 ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, target, path, &how, sizeof how);
    if (fd >= 0 || errno != ENOSYS) return static_cast<int>(fd);
    return openByComponents(target, path, flags, mode);
}

}  // namespace

FileHandle openTargetFolder(const char* path, int& error) {
    const int fd = ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) error = errno;
    return fd;
}

int makeFolderWithin(FileHandle target, const char* relativePath, bool& created) {
    created = false;
    const std::string_view path(relativePath);
    const size_t slash = path.rfind('/');
    const std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
    int parent = target;
    if (slash != std::string_view::npos) {
        const std::string parentPath(path.substr(0, slash));
        parent = openBeneath(target, parentPath.c_str(), O_PATH | O_DIRECTORY, 0);
        if (parent < 0) return errno;
    }
    int result = 0;
    if (::mkdirat(parent, name.c_str(), kNewFolderMode) == 0) {
        created = true;
    } else if (errno != EEXIST) {
        result = errno;
    } else {
        // Something is there already: it is kept if it is a folder within
        // the target (a link to one inside the target included).
        const int existing = openBeneath(target, relativePath, O_PATH | O_DIRECTORY, 0);
        if (existing < 0) result = errno;
        else ::close(existing);
    }
    if (parent != target) ::close(parent);
    return result;
}

FileHandle createFileWithin(FileHandle target, const char* relativePath, int& error,
                            const FileIdentity* untouchable) {
    // O_NONBLOCK: a FIFO already standing at that name must not block the
    // writer forever (the open fails instead); it does nothing to a file.
    // No O_TRUNC: what stands there is looked at before it is emptied.
    const int fd = openBeneath(target, relativePath, O_WRONLY | O_CREAT | O_NONBLOCK, kNewFileMode);
    if (fd < 0) {
        error = errno;
        return kNoFile;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        // A device or socket in the way is not replaced, nor written to.
        error = EEXIST;
        ::close(fd);
        return kNoFile;
    }
    if (untouchable != nullptr && untouchable->known && untouchable->device == uint64_t(info.st_dev) &&
        untouchable->inode == uint64_t(info.st_ino)) {
        error = EBUSY;
        ::close(fd);
        return kNoFile;
    }
    if (info.st_size != 0 && ::ftruncate(fd, 0) != 0) {
        error = errno;
        ::close(fd);
        return kNoFile;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

FileHandle openFolderWithin(FileHandle target, const char* relativePath, int& error) {
    const int fd = openBeneath(target, relativePath, O_RDONLY | O_DIRECTORY, 0);
    if (fd < 0) error = errno;
    return fd;
}

}  // namespace qex
