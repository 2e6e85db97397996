// Linux side of the stored owners: fchown and fchownat.
#include "platform/unix_owner.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace qex {

SystemStatus applyStoredOwner(FileHandle item, const ModeRule& rule, uint16_t attributes, uint64_t lastAccessTime) {
    const StoredOwner ids = storedOwner(attributes, lastAccessTime);
    if (!rule.owners || !ids.stored) return {};
    return ::fchown(item, ids.owner, ids.group) == 0 ? SystemStatus{} : SystemStatus{errno};
}

SystemStatus applyStoredOwnerAt(FileHandle folder, const char* name, const ModeRule& rule, uint16_t attributes,
                                uint64_t lastAccessTime) {
    const StoredOwner ids = storedOwner(attributes, lastAccessTime);
    if (!rule.owners || !ids.stored) return {};
    return ::fchownat(folder, name, ids.owner, ids.group, AT_SYMLINK_NOFOLLOW) == 0 ? SystemStatus{}
                                                                                   : SystemStatus{errno};
}

}  // namespace qex
