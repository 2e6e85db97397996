// Linux side of the stored owners: fchown.
#include "platform/unix_owner.h"

#include <unistd.h>

#include <cerrno>

namespace qex {

SystemStatus applyStoredOwner(FileHandle item, const ModeRule& rule, uint16_t attributes, uint64_t lastAccessTime) {
    const StoredOwner ids = storedOwner(attributes, lastAccessTime);
    if (!rule.owners || !ids.stored) return {};
    return ::fchown(item, ids.owner, ids.group) == 0 ? SystemStatus{} : SystemStatus{errno};
}

}  // namespace qex
