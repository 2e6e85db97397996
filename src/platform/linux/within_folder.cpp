// Confined creation and opening below an extraction target (see
// within_folder.h). Every folder is reached from the level above it by one
// name, opened with O_NOFOLLOW; a folder cursor keeps the levels of the
// last path, so consecutive items of one folder cost no walk. Links are
// read and walked here, never by the system, and the walk never goes above
// the target: each level the cursor holds is a real folder within it.
#include "platform/within_folder.h"

#include "platform/interrupt_cleanup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <string>
#include <string_view>

#include "platform/file_times.h"

namespace qex {
namespace {

// Owner only while extraction runs: nobody else can open a file before it
// is complete, nor enter a folder before its contents are in place. Each
// gets its final mode when complete (unix_mode.h).
constexpr mode_t kNewFolderMode = 0700;
constexpr mode_t kNewFileMode = 0600;

// The most symbolic links one path may pass through, as the system allows.
constexpr int kMaxLinksFollowed = 40;

constexpr int kFolderOnly = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct PathParts {
    std::string_view rest;

    // The next component (possibly empty), taken off `rest`.
    std::string_view next() {
        const size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
        return part;
    }
};

// A component as the system calls take it; false when it cannot be one name.
bool asName(std::string_view part, char (&name)[NAME_MAX + 1]) {
    if (part.size() > NAME_MAX) return false;
    part.copy(name, part.size());
    name[part.size()] = '\0';
    return true;
}

// The value of the symbolic link `name` in `folder`; the error is ENOTDIR
// when it is no link (a file where a folder is wanted).
SystemResult<std::string> readLink(int folder, const char* name) {
    std::string value(PATH_MAX, '\0');
    const ssize_t length = ::readlinkat(folder, name, value.data(), value.size());
    if (length < 0) return {{}, errno == EINVAL ? ENOTDIR : errno};
    if (static_cast<size_t>(length) >= value.size()) return {{}, ENAMETOOLONG};
    value.resize(static_cast<size_t>(length));
    return {std::move(value), 0};
}

bool isFolder(int folder, const struct stat& wanted) {
    struct stat info {};
    return ::fstat(folder, &info) == 0 && info.st_dev == wanted.st_dev && info.st_ino == wanted.st_ino;
}

// Follows the absolute link value `path` from `folder` as the system would
// (links outside the target included: they are only read), until it
// reaches the target; what is left of it then lies below the target, in
// `rest`. `folder` is owned and replaced as the walk moves on.
int walkToTarget(int& folder, std::string_view path, const struct stat& target, int& linksLeft, bool& reached,
                 std::string& rest) {
    PathParts parts{path};
    for (;;) {
        if (isFolder(folder, target)) {
            reached = true;
            rest = std::string(parts.rest);
            return 0;
        }
        if (parts.rest.empty()) return 0;
        const std::string_view part = parts.next();
        if (part.empty() || part == ".") continue;
        char name[NAME_MAX + 1];
        if (!asName(part, name)) return ENAMETOOLONG;
        const int next = ::openat(folder, name, kFolderOnly);
        if (next >= 0) {
            ::close(folder);
            folder = next;
            continue;
        }
        if (errno != ENOTDIR && errno != ELOOP) return errno;
        const SystemResult<std::string> value = readLink(folder, name);
        if (!value.ok()) return value.error;
        if (--linksLeft < 0) return ELOOP;
        if (value.value.starts_with('/')) {
            const int root = ::open("/", kFolderOnly);
            if (root < 0) return errno;
            ::close(folder);
            folder = root;
        }
        if (const int error = walkToTarget(folder, value.value, target, linksLeft, reached, rest); error != 0)
            return error;
        if (reached) {
            if (!parts.rest.empty()) rest.append("/").append(parts.rest);
            return 0;
        }
    }
}

// Where the absolute link value `value` leads below the target, as a path
// relative to it; EXDEV when it leads elsewhere.
SystemResult<std::string> belowTarget(int target, std::string_view value, int& linksLeft) {
    struct stat targetInfo {};
    if (::fstat(target, &targetInfo) != 0) return {{}, errno};
    int folder = ::open("/", kFolderOnly);
    if (folder < 0) return {{}, errno};
    bool reached = false;
    std::string rest;
    const int error = walkToTarget(folder, value, targetInfo, linksLeft, reached, rest);
    ::close(folder);
    if (error != 0) return {{}, error};
    if (!reached) return {{}, EXDEV};
    return {std::move(rest), 0};
}

int folderAt(const FolderCursor& at, size_t depth) { return depth == 0 ? at.target : at.folders[depth - 1]; }

// Closes the cursor's levels below `depth`.
void leaveFolders(FolderCursor& at, size_t depth) {
    while (at.folders.size() > depth) {
        ::close(at.folders.back());
        at.folders.pop_back();
        at.names.pop_back();
    }
}

// Walks `path` from the cursor's level `depth` (0: the target), moving
// `depth` along. A level the cursor holds already under the same name is
// reused; any other folder is opened from the level above it without
// following a link, and replaces what the cursor held from there on. A
// link is read and its value walked in its place: a relative one from its
// own folder, an absolute one from the target when it leads there. ".."
// goes up a level the cursor holds, never through the file system, and
// never above the target (EXDEV).
int walkFolders(FolderCursor& at, size_t& depth, std::string_view path, int& linksLeft) {
    PathParts parts{path};
    while (!parts.rest.empty()) {
        const std::string_view part = parts.next();
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (depth == 0) return EXDEV;
            --depth;
            continue;
        }
        if (depth < at.folders.size() && at.names[depth] == part) {
            ++depth;
            continue;
        }
        char name[NAME_MAX + 1];
        if (!asName(part, name)) return ENAMETOOLONG;
        const int folder = ::openat(folderAt(at, depth), name, kFolderOnly);
        if (folder >= 0) {
            leaveFolders(at, depth);
            at.names.emplace_back(part);
            at.folders.push_back(folder);
            ++depth;
            continue;
        }
        if (errno != ENOTDIR && errno != ELOOP) return errno;
        SystemResult<std::string> value = readLink(folderAt(at, depth), name);
        if (!value.ok()) return value.error;
        if (--linksLeft < 0) return ELOOP;
        if (value.value.starts_with('/')) {
            value = belowTarget(at.target, value.value, linksLeft);
            if (!value.ok()) return value.error;
            depth = 0;
        }
        if (const int error = walkFolders(at, depth, value.value, linksLeft); error != 0) return error;
    }
    return 0;
}

// Moves the cursor to the folder `path` below its target; the value is
// its descriptor, the cursor's own.
SystemResult<int> enterFolder(FolderCursor& at, std::string_view path) {
    size_t depth = 0;
    int linksLeft = kMaxLinksFollowed;
    const int error = walkFolders(at, depth, path, linksLeft);
    // Whatever happened, the levels left are the folders above the last
    // one reached: nothing below a folder is kept that the walk went back
    // out of, so the deepest level is always the current folder.
    leaveFolders(at, depth);
    if (error != 0) return {-1, error};
    return {folderAt(at, depth), 0};
}

// The folder an item named by `path` goes into (the cursor's, not to be
// closed), and its own name: the end of `path`, so a C string too.
struct ParentAndName {
    int parent = -1;
    const char* name = nullptr;
};

SystemResult<ParentAndName> enterParent(FolderCursor& at, const char* relativePath) {
    const std::string_view path(relativePath);
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {{folderAt(at, 0), relativePath}, 0};
    const SystemResult<int> parent = enterFolder(at, path.substr(0, slash));
    if (!parent.ok()) return {{}, parent.error};
    return {{parent.value, relativePath + slash + 1}, 0};
}

}  // namespace

FolderCursor::~FolderCursor() { leaveFolders(*this, 0); }

SystemResult<FileHandle> openTargetFolder(const char* path) {
    const int fd = ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return {kNoFile, errno};
    return {fd, 0};
}

SystemResult<bool> makeFolderWithin(FolderCursor& at, const char* relativePath) {
    const SystemResult<ParentAndName> opened = enterParent(at, relativePath);
    if (!opened.ok()) return {false, opened.error};
    if (::mkdirat(opened.value.parent, opened.value.name, kNewFolderMode) == 0) return {true, 0};
    if (errno != EEXIST) return {false, errno};
    // Something is there already: it is kept if it is a folder within the
    // target (a link to one inside the target included).
    return {false, enterFolder(at, relativePath).error};
}

SystemStatus removeEmptyFolderWithin(FolderCursor& at, const char* relativePath) {
    // The cursor holds nothing below the parent: the folder removed is not
    // one of its levels.
    const SystemResult<ParentAndName> opened = enterParent(at, relativePath);
    if (!opened.ok()) return {opened.error};
    return {::unlinkat(opened.value.parent, opened.value.name, AT_REMOVEDIR) == 0 ? 0 : errno};
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

SystemResult<PendingFile> createPendingFile(FolderCursor& at, const char* relativePath) {
    const std::string_view path(relativePath);
    const std::string_view name = path.substr(path.rfind('/') + 1);  // all of it without a slash
    if (name.empty() || name == "." || name == "..") return {{}, EINVAL};
    const SystemResult<ParentAndName> opened = enterParent(at, relativePath);
    if (!opened.ok()) return {{}, opened.error};
    PendingFile pending;
    pending.finalName = opened.value.name;
    pending.folder = opened.value.parent;
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
    return {{}, error};
}

SystemStatus placePendingFile(PendingFile& pending, const FileIdentity* untouchable, const KeepStanding& keep) {
    struct stat info {};
    if (::fstatat(pending.folder, pending.finalName.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (keep && keep(FileIdentity{true, S_ISREG(info.st_mode), uint64_t(info.st_dev), uint64_t(info.st_ino)}))
            return {EEXIST};
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

void discardPendingFile(PendingFile& pending) {
    if (pending.file != kNoFile) ::close(pending.file);
    pending.file = kNoFile;
    if (pending.folder == kNoFile) return;
    if (!pending.temporaryName.empty()) ::unlinkat(pending.folder, pending.temporaryName.c_str(), 0);
    pending.temporaryName.clear();
    // The handler removes through the folder's descriptor, the cursor's:
    // the cursor moves on only once the slot is free.
    if (pending.armed) disarmRemovalOnInterrupt();
    pending.armed = false;
    pending.folder = kNoFile;  // the cursor's
}

std::string withinFolderReason(int error) {
    // EXDEV: a link (or "..") on the way leads out of the target.
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
int replaceableByLink(int parent, const char* name, const FileIdentity* untouchable) {
    struct stat existing {};
    if (::fstatat(parent, name, &existing, AT_SYMLINK_NOFOLLOW) != 0) return 0;
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
int renameLinkIntoPlace(int parent, const std::string& temporary, const char* name) {
    const int error = ::renameat(parent, temporary.c_str(), parent, name) == 0 ? 0 : errno;
    ::unlinkat(parent, temporary.c_str(), 0);
    return error;
}

// Makes an item with `make(temporaryName)` beside `name`, gives it its
// bits and times with `finish(temporaryName)` and renames it over `name`:
// a FIFO or a symbolic link takes the place of a file or link as a file
// does. The value is 0 or the error; on failure nothing is left behind.
template <typename Make, typename Finish>
int placeThroughTemporary(int parent, const char* name, const FileIdentity* untouchable, Make make, Finish finish) {
    if (const int refused = replaceableByLink(parent, name, untouchable); refused != 0) return refused;
    std::string temporary;
    bool armed = false;
    int error = makeTemporaryLink(parent, temporary, armed, make);
    if (error != 0) return error;
    if (finish(temporary.c_str()) != 0) {
        error = errno;
        ::unlinkat(parent, temporary.c_str(), 0);
    } else {
        error = renameLinkIntoPlace(parent, temporary, name);
    }
    if (armed) disarmRemovalOnInterrupt();  // only once the temporary is gone
    return error;
}

}  // namespace

SystemStatus createSymbolicLinkWithin(FolderCursor& at, const char* relativePath, const std::string& linkTarget,
                                      uint64_t lastAccessTime, uint64_t lastWriteTime,
                                      const FileIdentity* untouchable) {
    const SystemResult<ParentAndName> opened = enterParent(at, relativePath);
    if (!opened.ok()) return {opened.error};
    const int parent = opened.value.parent;
    const timespec times[2] = {timeToSet(lastAccessTime), timeToSet(lastWriteTime)};
    return {placeThroughTemporary(
        parent, opened.value.name, untouchable,
        [&](const std::string& tried) { return ::symlinkat(linkTarget.c_str(), parent, tried.c_str()); },
        [&](const char* made) { return ::utimensat(parent, made, times, AT_SYMLINK_NOFOLLOW); })};
}

SystemStatus createFifoWithin(FolderCursor& at, const char* relativePath, uint16_t permissions,
                              uint64_t lastAccessTime, uint64_t lastWriteTime, const FileIdentity* untouchable) {
    const SystemResult<ParentAndName> opened = enterParent(at, relativePath);
    if (!opened.ok()) return {opened.error};
    const int parent = opened.value.parent;
    const timespec times[2] = {timeToSet(lastAccessTime), timeToSet(lastWriteTime)};
    return {placeThroughTemporary(
        parent, opened.value.name, untouchable,
        [&](const std::string& tried) { return ::mkfifoat(parent, tried.c_str(), 0600); },
        [&](const char* made) {
            return ::fchmodat(parent, made, permissions, 0) != 0
                       ? -1
                       : ::utimensat(parent, made, times, AT_SYMLINK_NOFOLLOW);
        })};
}

SystemStatus createHardLinkWithin(FolderCursor& at, const char* existingPath, const char* relativePath,
                                  const FileIdentity* untouchable) {
    const SystemResult<ParentAndName> source = enterParent(at, existingPath);
    if (!source.ok()) return {source.error};
    // The cursor moves on to the new name's folder: the first name's is
    // kept open by a copy.
    const int from = ::fcntl(source.value.parent, F_DUPFD_CLOEXEC, 0);
    if (from < 0) return {errno};
    const char* fromName = source.value.name;
    const SystemResult<ParentAndName> opened = enterParent(at, relativePath);
    struct stat existing {};
    int error = !opened.ok()                                                     ? opened.error
                : ::fstatat(from, fromName, &existing, AT_SYMLINK_NOFOLLOW) != 0 ? errno
                : !S_ISREG(existing.st_mode)                                     ? EPERM
                                                                                 : 0;
    if (error == 0) {
        const int parent = opened.value.parent;
        error = placeThroughTemporary(
            parent, opened.value.name, untouchable,
            [&](const std::string& tried) { return ::linkat(from, fromName, parent, tried.c_str(), 0); },
            [](const char*) { return 0; });
    }
    ::close(from);
    return {error};
}

SystemStatus changeOwnerWithin(FolderCursor& at, const char* relativePath, uint32_t owner, uint32_t group) {
    const SystemResult<ParentAndName> opened = enterParent(at, relativePath);
    if (!opened.ok()) return {opened.error};
    const int changed = ::fchownat(opened.value.parent, opened.value.name, owner, group, AT_SYMLINK_NOFOLLOW);
    return {changed == 0 ? 0 : errno};
}

SystemResult<FileHandle> openFolderWithin(FolderCursor& at, const char* relativePath) {
    // Reached level by level, so no path is too long; opened for its
    // times and mode through the level's own descriptor.
    const SystemResult<int> folder = enterFolder(at, relativePath);
    if (!folder.ok()) return {kNoFile, folder.error};
    const int fd = ::openat(folder.value, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return {fd < 0 ? kNoFile : fd, fd < 0 ? errno : 0};
}

}  // namespace qex
