// Linux side of opening what a listing reported: openat relative to the
// folder's descriptor, never following a link the listing did not follow,
// then fstat compared with the listing (see opening_listed.h).
#include "platform/opening_listed.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qex {
namespace {

int openRetrying(int folder, const char* name, int flags) {
    int fd;
    do {
        fd = ::openat(folder, name, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// What the name holds now is the listed item: same device, inode and type.
bool isListed(const struct stat& now, const ListedItem& item) {
    const bool sameType = item.kind == ItemKind::Folder ? S_ISDIR(now.st_mode)
                          : item.kind == ItemKind::Link ? S_ISLNK(now.st_mode)
                                                        : S_ISREG(now.st_mode);
    return sameType && static_cast<uint64_t>(now.st_dev) == item.device &&
           static_cast<uint64_t>(now.st_ino) == item.inode;
}

// An open that failed because the name no longer holds the listed type:
// a link where none was listed (ELOOP under O_NOFOLLOW), something that is
// not a folder where a folder was listed (ENOTDIR), a socket or a device
// without a driver where a file was listed (ENXIO).
bool failedForAnotherType(int error, const ListedItem& item) {
    if (error == ENOTDIR) return item.kind == ItemKind::Folder;
    if (error == ELOOP) return !item.followed;
    return error == ENXIO;
}

// Takes `fd` as the listed item or closes it.
OpenedItem verified(int fd, const ListedItem& item) {
    OpenedItem result;
    struct stat now {};
    if (::fstat(fd, &now) != 0) {
        result.error = errno;
        ::close(fd);
        return result;
    }
    if (!isListed(now, item)) {
        ::close(fd);
        result.outcome = ListedOpen::changed;
        return result;
    }
    result.outcome = ListedOpen::opened;
    result.handle = fd;
    return result;
}

OpenedItem openedOrFailed(int fd, const ListedItem& item) {
    if (fd >= 0) return verified(fd, item);
    OpenedItem result;
    result.error = errno;
    if (failedForAnotherType(result.error, item)) result.outcome = ListedOpen::changed;
    return result;
}

}  // namespace

ListedOpen openListedFolder(const OpenFolder& folder, const ListedItem& item, OpenFolder& opened, int& error) {
    // O_PATH as for every walked folder (listing.cpp): listed through its ".".
    const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC | (item.followed ? 0 : O_NOFOLLOW);
    const OpenedItem result = openedOrFailed(openRetrying(folder.handle, item.nativeName.c_str(), flags), item);
    error = result.error;
    if (result.outcome == ListedOpen::opened) {
        opened.handle = result.handle;
        opened.path = folder.path + item.nativeName + '/';
    }
    return result.outcome;
}

OpenedItem openListedItem(const OpenFolder& folder, const ListedItem& item) {
    const char* name = item.nativeName.c_str();
    if (item.kind == ItemKind::Link)
        return openedOrFailed(openRetrying(folder.handle, name, O_PATH | O_NOFOLLOW | O_CLOEXEC), item);
    // O_NONBLOCK: a FIFO put in the file's place opens at once instead of
    // waiting for a writer, and fstat then tells it apart. O_NOCTTY: a
    // terminal never becomes the controlling one.
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (item.followed ? 0 : O_NOFOLLOW);
    OpenedItem result = openedOrFailed(openRetrying(folder.handle, name, flags), item);
    if (result.outcome != ListedOpen::opened) return result;
    // A regular file: reads block as usual from here on.
    const int status = ::fcntl(result.handle, F_GETFL);
    if (status < 0 || ::fcntl(result.handle, F_SETFL, status & ~O_NONBLOCK) < 0) {
        result.error = errno;
        result.outcome = ListedOpen::failed;
        ::close(result.handle);
        result.handle = kNoFile;
    }
    return result;
}

}  // namespace qex
