// Confined creation and opening below an extraction target (see
// within_folder.h).
#include "platform/within_folder.h"

#include "platform/interrupt_cleanup.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <string_view>

#include "platform/file_times.h"
#include "platform/linux/open_by_components.h"

namespace qex {
namespace {

// Owner only while extraction runs: nobody else can open a file before it
// is complete, nor enter a folder before its contents are in place. Each
// gets its final mode when complete (unix_mode.h).
constexpr mode_t kNewFolderMode = 0700;
constexpr mode_t kNewFileMode = 0600;

}  // namespace

SystemResult<int> openByComponents(int target, std::string_view path, int flags, unsigned mode) {
    int folder = target;
    for (;;) {
        const size_t slash = path.find('/');
        const std::string part(path.substr(0, slash));
        if (slash == std::string_view::npos) {
            const int fd = ::openat(folder, part.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
            const int error = fd < 0 ? errno : 0;
            if (folder != target) ::close(folder);
            return {fd, error};
        }
        path.remove_prefix(slash + 1);
        if (part.empty() || part == ".") continue;
        const int next = part == ".." ? -1
                                      : ::openat(folder, part.c_str(),
                                                 O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = part == ".." ? EXDEV : errno;
        if (folder != target) ::close(folder);
        if (next < 0) return {-1, error};
        folder = next;
    }
}

namespace {

SystemResult<int> openBeneath(int target, const char* path, int flags, mode_t mode) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) != 0 ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, target, path, &how, sizeof how);
    if (fd >= 0) return {static_cast<int>(fd), 0};
    // No openat2 (ENOSYS), or a system-call filter that does not know it
    // and refuses it (EPERM, as in some containers): the components are
    // walked one by one, with the same guarantee.
    if (errno != ENOSYS && errno != EPERM) return {-1, errno};
    return openByComponents(target, path, flags, mode);
}

// The folder an item named by `relativePath` goes into, and its own name.
// The folder is `target` itself (not to be closed) or a new descriptor.
struct ParentAndName {
    int parent = -1;
    std::string name;
};

SystemResult<ParentAndName> openParent(FileHandle target, std::string_view path) {
    const size_t slash = path.rfind('/');
    ParentAndName found;
    found.name = std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
    const int base = target == kNoFile ? AT_FDCWD : target;
    found.parent = base;
    if (slash == std::string_view::npos) return {std::move(found), 0};
    const std::string parentPath(path.substr(0, slash == 0 ? 1 : slash));
    if (target == kNoFile) {
        const int fd = ::open(parentPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return {{}, errno};
        found.parent = fd;
        return {std::move(found), 0};
    }
    const SystemResult<int> opened = openBeneath(target, parentPath.c_str(), O_PATH | O_DIRECTORY, 0);
    if (!opened.ok()) return {{}, opened.error};
    found.parent = opened.value;
    return {std::move(found), 0};
}

void closeParent(FileHandle target, const ParentAndName& at) {
    if (at.parent != target && at.parent != AT_FDCWD) ::close(at.parent);
}

}  // namespace

SystemResult<FileHandle> openTargetFolder(const char* path) {
    const int fd = ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return {kNoFile, errno};
    return {fd, 0};
}

SystemResult<bool> makeFolderWithin(FileHandle target, const char* relativePath) {
    const SystemResult<ParentAndName> opened = openParent(target, relativePath);
    if (!opened.ok()) return {false, opened.error};
    const ParentAndName& at = opened.value;
    SystemResult<bool> result;
    if (::mkdirat(at.parent, at.name.c_str(), kNewFolderMode) == 0) {
        result.value = true;
    } else if (errno != EEXIST) {
        result.error = errno;
    } else {
        // Something is there already: it is kept if it is a folder within
        // the target (a link to one inside the target included).
        const SystemResult<int> existing = openBeneath(target, relativePath, O_PATH | O_DIRECTORY, 0);
        if (existing.ok()) ::close(existing.value);
        else result.error = existing.error;
    }
    closeParent(target, at);
    return result;
}

SystemStatus removeEmptyFolderWithin(FileHandle target, const char* relativePath) {
    const SystemResult<ParentAndName> opened = openParent(target, relativePath);
    if (!opened.ok()) return {opened.error};
    const ParentAndName& at = opened.value;
    const int error = ::unlinkat(at.parent, at.name.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
    closeParent(target, at);
    return {error};
}

namespace {

// Tried in turn when a temporary name is taken already (by an earlier run
// that was killed, say); each try is an exclusive create.
constexpr int kTemporaryNameTries = 100;

std::atomic<unsigned> temporaryCounter{0};

std::string temporaryNameFor(unsigned count) {
    // Short and hidden: it fits wherever the final name fits, whatever that
    // name's length, and a leftover (after a kill) is recognisable.
    return ".qex-" + std::to_string(::getpid()) + "-" + std::to_string(count) + ".part";
}

}  // namespace

SystemResult<PendingFile> createPendingFile(FileHandle target, const char* relativePath) {
    const std::string_view path(relativePath);
    const std::string_view name = path.substr(path.rfind('/') + 1);  // all of it without a slash
    if (name.empty() || name == "." || name == "..") return {{}, EINVAL};
    SystemResult<ParentAndName> opened = openParent(target, path);
    if (!opened.ok()) return {{}, opened.error};
    PendingFile pending;
    pending.finalName = std::move(opened.value.name);
    // The pending file owns its folder's descriptor: the target's own is copied.
    pending.folder = opened.value.parent;
    if (pending.folder == target) {
        pending.folder = ::fcntl(target, F_DUPFD_CLOEXEC, 0);
        if (pending.folder < 0) return {{}, errno};
    }
    int error = EEXIST;
    for (int attempt = 0; attempt < kTemporaryNameTries && error == EEXIST; ++attempt) {
        std::string name = temporaryNameFor(temporaryCounter.fetch_add(1, std::memory_order_relaxed));
        const Arming arming = armBeforeCreating(pending.folder, name.c_str());
        if (arming == Arming::interrupted) {
            error = EINTR;
            break;
        }
        const int fd = ::openat(pending.folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                kNewFileMode);
        if (arming == Arming::armed) armedCreationDone(fd >= 0, fd);
        if (fd >= 0) {
            pending.armed = arming == Arming::armed;
            pending.file = fd;
            pending.temporaryName = std::move(name);
            return {std::move(pending), 0};
        }
        error = errno;
    }
    ::close(pending.folder);
    return {{}, error};
}

SystemStatus placePendingFile(PendingFile& pending, const FileIdentity* untouchable) {
    struct stat info {};
    if (::fstatat(pending.folder, pending.finalName.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(info.st_mode)) return {EISDIR};
        if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) return {EEXIST};
        if (untouchable != nullptr && untouchable->known && untouchable->device == uint64_t(info.st_dev) &&
            untouchable->inode == uint64_t(info.st_ino))
            return {EBUSY};
    } else if (errno != ENOENT) {
        return {errno};
    }
    if (::renameat(pending.folder, pending.temporaryName.c_str(), pending.folder, pending.finalName.c_str()) != 0)
        return {errno};
    // Disarmed only now: an interrupt before the rename removed the
    // temporary, one after it finds the name gone.
    pending.temporaryName.clear();
    if (pending.armed) disarmRemovalOnInterrupt();
    pending.armed = false;
    return {};
}

FileIdentity identityAtFinalName(const PendingFile& pending) {
    struct stat info {};
    if (::fstatat(pending.folder, pending.finalName.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return {};
    return FileIdentity{true, S_ISREG(info.st_mode), uint64_t(info.st_dev), uint64_t(info.st_ino)};
}

void discardPendingFile(PendingFile& pending) {
    if (pending.file != kNoFile) ::close(pending.file);
    pending.file = kNoFile;
    if (pending.folder == kNoFile) return;
    if (!pending.temporaryName.empty()) ::unlinkat(pending.folder, pending.temporaryName.c_str(), 0);
    pending.temporaryName.clear();
    // The handler removes through the folder's descriptor: it is closed
    // only once the slot is free.
    if (pending.armed) disarmRemovalOnInterrupt();
    pending.armed = false;
    ::close(pending.folder);
    pending.folder = kNoFile;
}

std::string withinFolderReason(int error) {
    // EXDEV: the kernel's beneath-resolution met a link (or "..") leading out.
    if (error == EXDEV) return "leads outside the target folder";
    return systemReason(error);
}

namespace {

timespec timeToSet(uint64_t fileTime) {
    timespec time = fileTimeToTimespec(fileTime);
    if (fileTime == 0) time.tv_nsec = UTIME_OMIT;  // no time stored
    return time;
}

// Whether a link may take the place of what stands at `name`, if anything:
// a file or a link may be replaced, a folder (EISDIR), a device, pipe or
// socket (EEXIST) and the `untouchable` file (EBUSY) may not.
int replaceableByLink(int parent, const std::string& name, const FileIdentity* untouchable) {
    struct stat existing {};
    if (::fstatat(parent, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) return 0;
    if (S_ISDIR(existing.st_mode)) return EISDIR;
    // As for a file: a device, pipe or socket stays.
    if (!S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode)) return EEXIST;
    if (untouchable != nullptr && untouchable->known && untouchable->device == uint64_t(existing.st_dev) &&
        untouchable->inode == uint64_t(existing.st_ino))
        return EBUSY;
    return 0;
}

// Makes a link with `make(name)` under a name unused in `parent`; the
// value is 0 or the error. The name is armed for removal on an interrupt
// before the link exists (`armed`: until disarmRemovalOnInterrupt).
template <typename Make>
int makeTemporaryLink(int parent, std::string& name, bool& armed, Make make) {
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
        name = ".qex-link-" + std::to_string(::getpid()) + "-" + std::to_string(serial.fetch_add(1));
        const Arming arming = armBeforeCreating(parent, name.c_str());
        if (arming == Arming::interrupted) return EINTR;
        const bool made = make(name) == 0;
        const int error = made ? 0 : errno;
        if (arming == Arming::armed) armedCreationDone(made);
        armed = made && arming == Arming::armed;
        if (made) return 0;
        if (error != EEXIST) return error;
    }
    return EEXIST;
}

// Renames the temporary link over `name`. When both already name the same
// file (a hard link made again) the rename does nothing, so the temporary
// is removed in any case.
int renameLinkIntoPlace(int parent, const std::string& temporary, const std::string& name) {
    const int error = ::renameat(parent, temporary.c_str(), parent, name.c_str()) == 0 ? 0 : errno;
    ::unlinkat(parent, temporary.c_str(), 0);
    return error;
}

// Makes a FIFO under a temporary name, gives it its bits and times, and
// renames it over `name`, as a link takes its place.
int placeFifo(int parent, const std::string& name, mode_t permissions, const timespec (&times)[2],
              const FileIdentity* untouchable) {
    if (const int refused = replaceableByLink(parent, name, untouchable); refused != 0) return refused;
    std::string temporary;
    bool armed = false;
    const int made = makeTemporaryLink(parent, temporary, armed, [&](const std::string& tried) {
        return ::mkfifoat(parent, tried.c_str(), 0600);
    });
    if (made != 0) return made;
    int error = 0;
    if (::fchmodat(parent, temporary.c_str(), permissions, 0) != 0 ||
        ::utimensat(parent, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        error = errno;
        ::unlinkat(parent, temporary.c_str(), 0);
    } else {
        error = renameLinkIntoPlace(parent, temporary, name);
    }
    if (armed) disarmRemovalOnInterrupt();  // only once the temporary is gone
    return error;
}

int placeLink(int parent, const std::string& name, const std::string& linkTarget, const timespec (&times)[2],
              const FileIdentity* untouchable) {
    if (const int refused = replaceableByLink(parent, name, untouchable); refused != 0) return refused;
    std::string temporary;
    bool armed = false;
    const int made = makeTemporaryLink(parent, temporary, armed, [&](const std::string& tried) {
        return ::symlinkat(linkTarget.c_str(), parent, tried.c_str());
    });
    if (made != 0) return made;
    int error = 0;
    if (::utimensat(parent, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        error = errno;
        ::unlinkat(parent, temporary.c_str(), 0);
    } else {
        error = renameLinkIntoPlace(parent, temporary, name);
    }
    if (armed) disarmRemovalOnInterrupt();  // only once the temporary is gone
    return error;
}

}  // namespace

SystemStatus createSymbolicLinkWithin(FileHandle target, const char* relativePath, const std::string& linkTarget,
                                      uint64_t lastAccessTime, uint64_t lastWriteTime,
                                      const FileIdentity* untouchable) {
    const SystemResult<ParentAndName> opened = openParent(target, relativePath);
    if (!opened.ok()) return {opened.error};
    const ParentAndName& at = opened.value;
    const timespec times[2] = {timeToSet(lastAccessTime), timeToSet(lastWriteTime)};
    const int error = placeLink(at.parent, at.name, linkTarget, times, untouchable);
    closeParent(target, at);
    return {error};
}

SystemStatus createFifoWithin(FileHandle target, const char* relativePath, uint16_t permissions,
                              uint64_t lastAccessTime, uint64_t lastWriteTime, const FileIdentity* untouchable) {
    const SystemResult<ParentAndName> opened = openParent(target, relativePath);
    if (!opened.ok()) return {opened.error};
    const ParentAndName& at = opened.value;
    const timespec times[2] = {timeToSet(lastAccessTime), timeToSet(lastWriteTime)};
    const int error = placeFifo(at.parent, at.name, permissions, times, untouchable);
    closeParent(target, at);
    return {error};
}

SystemStatus createHardLinkWithin(FileHandle target, const char* existingPath, const char* relativePath,
                                  const FileIdentity* untouchable) {
    const SystemResult<ParentAndName> source = openParent(target, existingPath);
    if (!source.ok()) return {source.error};
    const SystemResult<ParentAndName> opened = openParent(target, relativePath);
    if (!opened.ok()) {
        closeParent(target, source.value);
        return {opened.error};
    }
    const ParentAndName& from = source.value;
    const ParentAndName& at = opened.value;
    struct stat existing {};
    int error = ::fstatat(from.parent, from.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0 ? errno
                : !S_ISREG(existing.st_mode)                                                  ? EPERM
                                                        : replaceableByLink(at.parent, at.name, untouchable);
    std::string temporary;
    bool armed = false;
    if (error == 0) {
        error = makeTemporaryLink(at.parent, temporary, armed, [&](const std::string& tried) {
            return ::linkat(from.parent, from.name.c_str(), at.parent, tried.c_str(), 0);
        });
        if (error == 0) error = renameLinkIntoPlace(at.parent, temporary, at.name);
        if (armed) disarmRemovalOnInterrupt();
    }
    closeParent(target, at);
    closeParent(target, from);
    return {error};
}

SystemStatus changeOwnerWithin(FileHandle target, const char* relativePath, uint32_t owner, uint32_t group) {
    const SystemResult<ParentAndName> opened = openParent(target, relativePath);
    if (!opened.ok()) return {opened.error};
    const ParentAndName& at = opened.value;
    const int error = ::fchownat(at.parent, at.name.c_str(), owner, group, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
    closeParent(target, at);
    return {error};
}

SystemResult<FileHandle> openFolderWithin(FileHandle target, const char* relativePath) {
    const SystemResult<int> opened = openBeneath(target, relativePath, O_RDONLY | O_DIRECTORY, 0);
    return {opened.ok() ? opened.value : kNoFile, opened.error};
}

}  // namespace qex
