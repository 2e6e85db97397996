// Owner and group ids as an archive entry carries them.
//
// The entry layout has no field for them, so a marked entry (unix_mode.h)
// carries them in the last-access time:
//   - attribute bit 0x800 says the ids are there. It is the "compressed"
//     bit, which no program sets through the attributes (the system ignores
//     it there) and which no entry made on Linux had before the ids were
//     stored, so an older archive's access times are never read as ids;
//   - the owner id is in the low 16 bits of the last-access time and the
//     group id in the next 16, so the access time keeps its upper 32 bits
//     (it is off by under 430 s).
// Ids of 65,536 and above do not fit: such an item's entry has the bit
// clear and its access time whole, and extraction leaves its owner to
// whoever extracts. Names, supplementary groups, extended attributes and
// ACLs are not stored.
//
// Only the superuser restores owners (as tar does); the Windows build, and
// anyone else, ignores them.
#pragma once

#include <cstdint>

#include "platform/file_io.h"
#include "platform/system_result.h"
#include "platform/unix_mode.h"

namespace qex {

inline constexpr uint16_t kAttributeOwnerIds = 0x800;
inline constexpr uint64_t kOwnerIdBits = 0xFFFFFFFF;  // of the last-access time
inline constexpr uint32_t kMaxStoredId = 0xFFFF;

struct StoredOwner {
    bool stored = false;
    uint32_t owner = 0;
    uint32_t group = 0;
};

inline bool carriesOwner(uint16_t attributes) {
    return carriesUnixMode(attributes) && (attributes & kAttributeOwnerIds) != 0;
}

inline StoredOwner storedOwner(uint16_t attributes, uint64_t lastAccessTime) {
    if (!carriesOwner(attributes)) return {};
    return {true, static_cast<uint32_t>(lastAccessTime & 0xFFFF), static_cast<uint32_t>(lastAccessTime >> 16 & 0xFFFF)};
}

// The access time to give the item: without the ids where they are stored
// and restored here.
inline uint64_t storedAccessTime(uint16_t attributes, uint64_t lastAccessTime) {
    if (!kRestoresUnixModes || !carriesOwner(attributes)) return lastAccessTime;
    return lastAccessTime & ~kOwnerIdBits;
}

// Add: puts the ids into a marked entry's fields when both fit.
inline void storeOwner(uint16_t& attributes, uint64_t& lastAccessTime, uint32_t owner, uint32_t group) {
    if (!carriesUnixMode(attributes) || owner > kMaxStoredId || group > kMaxStoredId) return;
    attributes |= kAttributeOwnerIds;
    lastAccessTime = (lastAccessTime & ~kOwnerIdBits) | owner | uint64_t{group} << 16;
}

// Gives the open item its stored owner and group, when the rule restores
// owners and the entry carries them; before its mode, which a change of
// owner would strip of set-user-ID and set-group-ID.
SystemStatus applyStoredOwner(FileHandle item, const ModeRule& rule, uint16_t attributes, uint64_t lastAccessTime);

}  // namespace qex
