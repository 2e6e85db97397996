// Block chains of the directory under construction (see directory_builder.h).
#include "archive/directory_builder.h"

#include <cstring>
#include <new>

namespace qex {

uint8_t* reserveBytes(BlockChain& chain, size_t size, size_t alignment) {
    if (size > kBlockDataBytes) return nullptr;
    DirectoryBlock* block = chain.last;
    size_t start = 0;
    if (block != nullptr) start = (block->used + alignment - 1) / alignment * alignment;
    if (block == nullptr || start + size > kBlockDataBytes) {
        chain.owned.push_back(std::make_unique<DirectoryBlock>());
        DirectoryBlock* fresh = chain.owned.back().get();
        if (block != nullptr) block->next = fresh;
        else chain.first = fresh;
        chain.last = block = fresh;
        start = 0;
    }
    // Alignment padding only ever occurs inside the entries chain, whose
    // records all have the same size, so it never reaches the file.
    chain.usedBytes += start + size - block->used;
    block->used = static_cast<uint32_t>(start + size);
    return block->data + start;
}

PendingEntry* appendItem(DirectoryBuilder& builder, std::u16string_view name,
                         const ArchiveEntry& entry) {
    builder.scratch.clear();
    appendName(builder.scratch, name);
    if (builder.scratch.size() > kMaxEncodedName) return nullptr;
    uint8_t* nameBytes = reserveBytes(builder.names, builder.scratch.size(), 1);
    std::copy(builder.scratch.begin(), builder.scratch.end(), nameBytes);
    void* place = reserveBytes(builder.entries, sizeof(PendingEntry), alignof(PendingEntry));
    PendingEntry* pending = new (place) PendingEntry{};
    pending->entry = entry;
    ++builder.count;
    return pending;
}

bool isStored(const PendingEntry& pending) { return !pending.leftOut && !(pending.queued && pending.file.unread); }

ArchiveEntry finalEntry(const PendingEntry& pending) {
    ArchiveEntry entry = pending.entry;
    if (pending.queued) {
        setEntrySize(entry, pending.file.size);
        entry.crc = pending.file.crc;
        entry.crcPlusOne = pending.file.crcPlusOne;
    }
    return entry;
}

bool directoryFitsTrailer(const DirectoryBuilder& builder) {
    return builder.names.usedBytes <= kMaxDirectoryPartBytes &&
           builder.count * kEntryBytes <= kMaxDirectoryPartBytes;
}

namespace {

// The pending entries in directory order, one at a time.
struct EntryCursor {
    const DirectoryBlock* block;
    size_t index = 0;

    const PendingEntry& next() {
        while (index == block->used / sizeof(PendingEntry)) {
            block = block->next;
            index = 0;
        }
        return reinterpret_cast<const PendingEntry*>(block->data)[index++];
    }
};

// The NameList: each block's names, less those of items not stored.
// Returns false when `write` does; `written` counts the bytes given.
bool writeNames(const DirectoryBuilder& builder, const std::function<bool(const uint8_t*, size_t)>& write,
                uint64_t& written) {
    EntryCursor entries{builder.entries.first};
    for (const DirectoryBlock* block = builder.names.first; block != nullptr; block = block->next) {
        size_t runStart = 0;  // start of the names kept since the last one dropped
        size_t at = 0;
        while (at < block->used) {
            const void* end = std::memchr(block->data + at, kNameEnd, block->used - at);
            const size_t next = static_cast<size_t>(static_cast<const uint8_t*>(end) - block->data) + 1;
            if (!isStored(entries.next())) {
                if (at > runStart && !write(block->data + runStart, at - runStart)) return false;
                written += at - runStart;
                runStart = next;
            }
            at = next;
        }
        if (block->used > runStart && !write(block->data + runStart, block->used - runStart)) return false;
        written += block->used - runStart;
    }
    return true;
}

}  // namespace

bool writeBuiltDirectory(const DirectoryBuilder& builder,
                         const std::function<bool(const uint8_t*, size_t)>& write) {
    uint64_t nameBytes = 0;
    if (!writeNames(builder, write, nameBytes)) return false;

    constexpr size_t kPerBlock = kBlockDataBytes / sizeof(PendingEntry);
    uint8_t encoded[kPerBlock * kEntryBytes];
    uint64_t entries = 0;
    for (const DirectoryBlock* block = builder.entries.first; block != nullptr; block = block->next) {
        const size_t records = block->used / sizeof(PendingEntry);
        const auto* pending = reinterpret_cast<const PendingEntry*>(block->data);
        size_t kept = 0;
        for (size_t k = 0; k < records; ++k)
            if (isStored(pending[k])) encodeEntry(finalEntry(pending[k]), encoded + kept++ * kEntryBytes);
        if (kept != 0 && !write(encoded, kept * kEntryBytes)) return false;
        entries += kept;
    }

    ArchiveTrailer trailer;
    trailer.nameListBytes = static_cast<uint32_t>(nameBytes);
    trailer.entryBytes = static_cast<uint32_t>(entries * kEntryBytes);
    uint8_t encodedTrailer[kTrailerBytes];
    encodeTrailer(trailer, encodedTrailer);
    return write(encodedTrailer, kTrailerBytes);
}

}  // namespace qex
