// Block chains of the directory under construction (see directory_builder.h).
#include "archive/directory_builder.h"

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

bool writeBuiltDirectory(const DirectoryBuilder& builder,
                         const std::function<bool(const uint8_t*, size_t)>& write) {
    for (const DirectoryBlock* block = builder.names.first; block != nullptr; block = block->next)
        if (!write(block->data, block->used)) return false;

    constexpr size_t kPerBlock = kBlockDataBytes / sizeof(PendingEntry);
    uint8_t encoded[kPerBlock * kEntryBytes];
    for (const DirectoryBlock* block = builder.entries.first; block != nullptr; block = block->next) {
        const size_t records = block->used / sizeof(PendingEntry);
        const auto* pending = reinterpret_cast<const PendingEntry*>(block->data);
        for (size_t k = 0; k < records; ++k) encodeEntry(finalEntry(pending[k]), encoded + k * kEntryBytes);
        if (!write(encoded, records * kEntryBytes)) return false;
    }

    ArchiveTrailer trailer;
    trailer.nameListBytes = static_cast<uint32_t>(builder.names.usedBytes);
    trailer.entryBytes = static_cast<uint32_t>(builder.count * kEntryBytes);
    uint8_t encodedTrailer[kTrailerBytes];
    encodeTrailer(trailer, encodedTrailer);
    return write(encodedTrailer, kTrailerBytes);
}

}  // namespace qex
