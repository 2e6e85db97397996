// Folder listing with wildcard patterns, sorted in NTFS order (see listing.h),
// through a folder's O_PATH descriptor: items are examined with fstatat and
// readlinkat relative to it, and the folder is read through its own ".".
#include "platform/listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/file_times.h"
#include "platform/paths.h"
#include "platform/text_conversion.h"
#include "platform/unix_mode.h"

namespace qex {
namespace {

bool isFolderLink(std::string_view name) { return name == "." || name == ".."; }

uint16_t attributesOf(ItemKind kind, mode_t mode, std::string_view name, bool examined) {
    uint16_t attributes = kind == ItemKind::Folder ? kAttributeDirectory : kAttributeFile;
    if (examined && (mode & S_IWUSR) == 0) attributes |= kAttributeReadOnly;
    if (!name.empty() && name.front() == '.') attributes |= kAttributeHidden;
    return attributes;
}

ItemKind kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return ItemKind::Folder;
    if (S_ISREG(mode)) return ItemKind::File;
    if (S_ISLNK(mode)) return ItemKind::Link;
    return ItemKind::Special;
}

uint64_t fileTimeOf(const struct statx_timestamp& t) {
    timespec time{};
    time.tv_sec = t.tv_sec;
    time.tv_nsec = t.tv_nsec;
    return timespecToFileTime(time);
}

// Fills `item` from a statx result. A link's size is its target's length
// as readlink gives it (some file systems report 0 in st_size).
void describe(ListedItem& item, const struct statx& st, std::string_view name, int folderFd,
              const std::string& path) {
    item.kind = kindOf(st.stx_mode);
    item.mode = static_cast<uint16_t>(st.stx_mode);
    item.size = item.kind == ItemKind::File ? st.stx_size : 0;
    if (item.kind == ItemKind::Link) {
        char target[kMaxLinkTargetBytes + 1];
        const ssize_t length = readlinkat(folderFd, path.c_str(), target, sizeof target);
        if (length < 0) item.statError = errno;
        item.size = length < 0 ? 0 : static_cast<uint64_t>(length);
    }
    item.attributes = attributesOf(item.kind, st.stx_mode, name, true);
    item.lastWriteTime = fileTimeOf(st.stx_mtime);
    item.lastAccessTime = fileTimeOf(st.stx_atime);
    item.creationTime =
        (st.stx_mask & STATX_BTIME) != 0 ? fileTimeOf(st.stx_btime) : item.lastWriteTime;
    item.device = makedev(st.stx_dev_major, st.stx_dev_minor);  // comparable with st_dev
    item.inode = st.stx_ino;
    item.owner = st.stx_uid;
    item.group = st.stx_gid;
    item.links = st.stx_nlink;
}

}  // namespace

namespace {

// `exists` turns false when nothing at all is at `path` any more (an item
// removed between reading the folder and examining it). `follow`: a link
// is examined through to what it leads to, when it leads anywhere.
ListedItem examineNamed(int folderFd, const std::string& path, std::string_view ownName,
                        std::u16string name16, bool follow, bool& exists) {
    exists = true;
    ListedItem item;
    item.nativeName.assign(ownName);
    item.name = std::move(name16);

    constexpr unsigned kWanted = STATX_BASIC_STATS | STATX_BTIME;
    constexpr int kOwnFlags = AT_STATX_SYNC_AS_STAT | AT_SYMLINK_NOFOLLOW;
    struct statx st {};
    if (follow && statx(folderFd, path.c_str(), AT_STATX_SYNC_AS_STAT, kWanted, &st) == 0) {
        describe(item, st, ownName, folderFd, path);
        return item;
    }
    // Not followed, or it could not be (a dangling or looping link, or no
    // rights): the item itself.
    const int followError = follow ? errno : 0;
    if (statx(folderFd, path.c_str(), kOwnFlags, kWanted, &st) == 0) {
        describe(item, st, ownName, folderFd, path);
        if (item.kind != ItemKind::Link && followError != 0) {
            item.statError = followError;
            item.kind = ItemKind::File;
            item.size = 0;
        }
        return item;
    }
    // Nothing to describe: an unreadable file.
    item.statError = errno;
    item.kind = ItemKind::File;
    exists = errno != ENOENT;
    item.attributes = attributesOf(ItemKind::File, 0, ownName, false);
    return item;
}

}  // namespace

ListedItem examinePath(const std::string& path) {
    const std::string_view ownName = std::string_view(path).substr(lastComponentStart(path));
    bool exists = true;
    return examineNamed(AT_FDCWD, path, ownName, nativeToUtf16(ownName), true, exists);
}

SystemResult<OpenFolder> openFolderAt(const std::string& path) {
    // O_PATH: the folder is only named through, and listed through a
    // descriptor of its own "." (listOpenFolder), so a folder that may be
    // searched but not read still gives access to the items it holds.
    int fd;
    do {
        fd = open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return {{}, errno};
    OpenFolder folder;
    folder.handle = fd;
    folder.path = joinPath(path, "");
    return {std::move(folder), 0};
}

bool isNotFoundError(int error) { return error == ENOENT || error == ENOTDIR; }

bool isNotAFolderError(int error) { return error == ENOTDIR; }

void closeFolder(OpenFolder& folder) {
    if (folder.handle != kNoFile) close(folder.handle);
    folder.handle = kNoFile;
}

SystemStatus listOpenFolder(const OpenFolder& folder, std::string_view lastComponent, std::vector<ListedItem>& items) {
    items.clear();
    if (!hasWildcards(lastComponent)) {
        if (lastComponent.empty() || isFolderLink(lastComponent)) return {};
        // Only an item that exists in some form (a dangling link too) is
        // listed; a missing one is an empty listing.
        const std::string name(lastComponent);
        struct stat own {};
        if (fstatat(folder.handle, name.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT || errno == ENOTDIR) return {};
            return {errno};
        }
        bool exists = true;
        items.push_back(examineNamed(folder.handle, name, name, nativeToUtf16(name), true, exists));
        items.back().followed = S_ISLNK(own.st_mode) && items.back().kind != ItemKind::Link;
        return {};
    }

    // The folder's own "." is opened for reading: the listing reads the
    // folder `folder` holds, whatever its path names meanwhile.
    const int listFd = openat(folder.handle, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return {errno};
    DIR* dir = fdopendir(listFd);
    if (dir == nullptr) {
        const int error = errno;
        close(listFd);
        return {error};
    }
    const std::u16string wanted = nativeToUtf16(lastComponent);
    int readError = 0;
    for (;;) {
        errno = 0;  // readdir reports its errors only through errno
        const dirent* found = readdir(dir);
        if (found == nullptr) {
            readError = errno;
            break;
        }
        const std::string name(found->d_name);
        if (isFolderLink(name)) continue;
        std::u16string name16 = nativeToUtf16(name);
        if (!matchesWildcards(wanted, name16)) continue;
        bool exists = true;
        ListedItem item = examineNamed(folder.handle, name, name, std::move(name16), false, exists);
        if (exists) items.push_back(std::move(item));
    }
    closedir(dir);
    if (readError != 0) return {readError};
    std::sort(items.begin(), items.end(), [](const ListedItem& a, const ListedItem& b) {
        return listedBefore(a.name, b.name);
    });
    return {};
}

SystemStatus listPattern(std::string_view pattern, std::vector<ListedItem>& items) {
    items.clear();
    const size_t nameStart = lastComponentStart(pattern);
    const std::string_view last = pattern.substr(nameStart);
    if (!hasWildcards(last) && (last.empty() || isFolderLink(last))) return {};
    SystemResult<OpenFolder> folder =
        openFolderAt(nameStart == 0 ? std::string(".") : std::string(pattern.substr(0, nameStart)));
    if (!folder.ok()) {
        // One named item whose folder is not there: nothing is listed.
        if (!hasWildcards(last) && (folder.error == ENOENT || folder.error == ENOTDIR)) return {};
        return {folder.error};
    }
    const SystemStatus listed = listOpenFolder(folder.value, last, items);
    closeFolder(folder.value);
    return listed;
}

}  // namespace qex
