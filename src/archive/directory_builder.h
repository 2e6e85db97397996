// The archive's directory while the add command builds it: the NameList and
// the entries, each in a chain of 1 KiB blocks.
//
// A record (a name with its 0x0A, or an entry) is never split across blocks
// and blocks are never moved or reallocated: the reader thread writes a
// file's true size and check values into its entry by address while the
// walk goes on appending. Both chains live until the command ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "archive/archive_layout.h"
#include "pipeline/file_entry.h"

namespace qex {

inline constexpr size_t kBlockBytes = 1024;

struct DirectoryBlock {
    uint32_t used = 0;  // data bytes in use
    DirectoryBlock* next = nullptr;
    // 16 header bytes on 32-bit and 64-bit systems alike, so a block's data
    // area, and with it the longest name, is the same for every build.
    alignas(16) uint8_t data[kBlockBytes - 16];
};
static_assert(sizeof(DirectoryBlock) == kBlockBytes);
inline constexpr size_t kBlockDataBytes = sizeof(DirectoryBlock::data);

struct BlockChain {
    DirectoryBlock* first = nullptr;
    DirectoryBlock* last = nullptr;
    uint64_t usedBytes = 0;  // over all blocks
    std::vector<std::unique_ptr<DirectoryBlock>> owned;
};

// `size` contiguous bytes at the end of the chain, in a new block when the
// current one has no room; null when `size` exceeds a block's data area.
uint8_t* reserveBytes(BlockChain& chain, size_t size, size_t alignment);

// One item of the directory: its entry as the archive stores it and, for a
// file whose bytes enter the stream, the part the reader fills in.
struct PendingEntry {
    ArchiveEntry entry;
    FileEntry file;
    bool queued = false;  // `file` was handed to the reader
    // The walk gave up the item after appending it (its job could not be
    // queued): like a file the reader marked `unread`, it is left out of
    // the directory.
    bool leftOut = false;
};

// Whether the item's entry goes to the archive: not left out, and not a
// file of which nothing could be read.
bool isStored(const PendingEntry& pending);

struct DirectoryBuilder {
    BlockChain names;
    BlockChain entries;
    uint64_t count = 0;
    std::vector<uint8_t> scratch;  // one encoded name on its way into a block
};

// The longest encoded name (with its 0x0A) a block holds; a native name of
// 255 bytes needs at most 255 units of 3 bytes and the 0x0A.
inline constexpr size_t kMaxEncodedName = kBlockDataBytes;

// Appends an item. Returns null when its name does not fit in a block.
PendingEntry* appendItem(DirectoryBuilder& builder, std::u16string_view name,
                         const ArchiveEntry& entry);

// The entry as it goes to the archive: for a queued file, the size and check
// values of the bytes that entered the stream.
ArchiveEntry finalEntry(const PendingEntry& pending);

// True when N and E fit their 32-bit trailer words.
bool directoryFitsTrailer(const DirectoryBuilder& builder);

// Hands the directory as it follows the stream (NameList, entries, trailer)
// to `write` piece by piece, at most a block at a time; stops and returns
// false as soon as `write` does. Items that are not stored lose their name
// and entry; no bytes of theirs are in the stream, so the others still
// find theirs. Only files are ever left out, so the depths stay valid.
bool writeBuiltDirectory(const DirectoryBuilder& builder,
                         const std::function<bool(const uint8_t*, size_t)>& write);

}  // namespace qex
