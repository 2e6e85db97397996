// Unix modes and symbolic links as an archive entry carries them.
//
// The entry layout has no field for a Unix mode and its bytes never change,
// so an entry made on Linux carries the mode in bits that Windows never
// needs exactly:
//   - attribute bit 0x40 marks the entry. It is the reserved "device" bit,
//     which Windows never reports for a file or folder, so no archive made
//     on Windows has it;
//   - in a marked entry the low 16 bits of the creation time hold the
//     item's st_mode & 0xFFFF: its type (file, folder, symbolic link) and
//     its permission bits, set-user-ID, set-group-ID and sticky included.
//     The upper 48 bits keep the creation time (off by under 7 ms).
// A symbolic link is a file entry whose mode has the link type and whose
// content is the link's target, byte for byte; its size is the target's
// length. A FIFO is a file entry of size 0 whose mode has the FIFO type.
// A further name of a file already archived (a hard link) is a file
// entry whose mode has the type 0xF000 (all four type bits: the type mask
// itself, which no item ever has) and whose content is the archived path of
// the first name, folders joined by "/". The folder attribute, not the type
// bits, decides folder against file; any other type makes a plain file.
//
// Entries without the marker carry no mode. The Windows build writes no
// marker and, on extraction, ignores the marker and the mode: a link entry
// becomes a small file holding the target's text there, a hard-link entry
// one holding the first name's path.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_attributes.h"
#include "platform/file_io.h"
#include "system/system_facts.h"

namespace qex {

inline constexpr uint16_t kAttributeUnixMode = 0x40;
inline constexpr uint64_t kUnixModeBits = 0xFFFF;      // of the creation time
inline constexpr uint16_t kModeTypeBits = 0xF000;      // S_IFMT
inline constexpr uint16_t kModeSymbolicLink = 0xA000;  // S_IFLNK
inline constexpr uint16_t kModeFifo = 0x1000;          // S_IFIFO
inline constexpr uint16_t kModeSocket = 0xC000;        // S_IFSOCK
inline constexpr uint16_t kModeHardLink = 0xF000;      // no item's type
inline constexpr uint16_t kModeRegularFile = 0x8000;   // S_IFREG
inline constexpr uint16_t kModePermissionBits = 07777;
inline constexpr uint16_t kModeSetIdBits = 06000;      // set-user-ID, set-group-ID
inline constexpr uint16_t kModeWriteBits = 0222;

// The longest link target an extraction creates: Linux refuses longer ones
// (PATH_MAX, 4096, less the terminating NUL).
inline constexpr uint64_t kMaxLinkTargetBytes = 4095;

// kRestoresUnixModes (whether this system acts on a stored mode) comes with
// the system's facts.

inline bool carriesUnixMode(uint16_t attributes) { return (attributes & kAttributeUnixMode) != 0; }

// The stored mode of a marked entry (meaningless without the marker).
inline uint16_t storedUnixMode(uint64_t creationTime) { return static_cast<uint16_t>(creationTime & kUnixModeBits); }

inline uint64_t withUnixMode(uint64_t creationTime, uint16_t mode) {
    return (creationTime & ~kUnixModeBits) | mode;
}

inline bool isSymbolicLinkMode(uint16_t mode) { return (mode & kModeTypeBits) == kModeSymbolicLink; }
inline bool isHardLinkMode(uint16_t mode) { return (mode & kModeTypeBits) == kModeHardLink; }

// Whether extraction here makes a FIFO of this entry (one that claims
// bytes is a plain file).
inline bool restoresAsFifo(uint16_t attributes, uint64_t creationTime, uint64_t size) {
    return kRestoresUnixModes && carriesUnixMode(attributes) && size == 0 &&
           (storedUnixMode(creationTime) & kModeTypeBits) == kModeFifo;
}

// Whether extraction here makes a symbolic link of this entry.
inline bool restoresAsLink(uint16_t attributes, uint64_t creationTime) {
    return kRestoresUnixModes && carriesUnixMode(attributes) && isSymbolicLinkMode(storedUnixMode(creationTime));
}

// Whether extraction here makes a further name of an earlier file of this
// entry.
inline bool restoresAsHardLink(uint16_t attributes, uint64_t creationTime) {
    return kRestoresUnixModes && carriesUnixMode(attributes) && isHardLinkMode(storedUnixMode(creationTime));
}

// How stored permission bits become an extracted item's, as tar does it:
// the superuser gets them exactly; anybody else without set-user-ID and
// set-group-ID and with the umask applied.
// The superuser also gets the stored owners (unix_owner.h).
struct ModeRule {
    bool exact = false;
    uint16_t umask = 022;
    bool owners = false;
};

// The rule for this process. Where /proc does not show the umask it is read
// by setting it and back: call this while no other thread creates items.
ModeRule currentModeRule();

// The permission bits an item receives for the stored `mode`. An entry with
// the read-only attribute loses every write bit as well.
inline uint16_t permissionsToApply(const ModeRule& rule, uint16_t mode, uint16_t attributes) {
    uint16_t bits = mode & kModePermissionBits;
    if (!rule.exact) bits &= static_cast<uint16_t>(~(rule.umask | kModeSetIdBits));
    if ((attributes & kAttributeReadOnly) != 0) bits &= static_cast<uint16_t>(~kModeWriteBits);
    return bits;
}

// What an entry without the marker gets, less the umask: what a program
// creating the item without asking for less would get.
inline constexpr uint16_t kUnmarkedFileMode = 0666;
inline constexpr uint16_t kUnmarkedFolderMode = 0777;

// Gives an extracted file or folder, open as `item`, its final permission
// bits once it is complete (contents and times in place; a folder once all
// below it is done): those its marked entry stores, as `rule` says, or
// `unmarkedMode` less the umask for an entry without the marker. Until then
// extraction keeps every item open to its owner only. Does nothing on
// Windows.
SystemStatus applyStoredMode(FileHandle item, const ModeRule& rule, uint16_t attributes, uint64_t creationTime,
                             uint16_t unmarkedMode);

// The target of the symbolic link at `path`, exactly as stored (Linux; on
// Windows it always fails).
SystemResult<std::string> readLinkTarget(const char* path);

// The target of the symbolic link `link` opened as itself
// (opening_listed.h); on Windows it always fails.
SystemResult<std::string> readOpenLinkTarget(FileHandle link);

}  // namespace qex
