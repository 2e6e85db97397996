// RecordRing operations. Field reads and writes go through memcpy at fixed
// offsets; the `next` link is the one word both sides touch at the same
// time, so it is accessed atomically.
#include "pipeline/record_ring.h"

#include <cstring>

#include "base/invariants.h"

namespace qex {

namespace {

constexpr uint32_t kSizeLowAt = 0;
constexpr uint32_t kSizeHighAt = 4;
constexpr uint32_t kEntryAt = 8;
constexpr uint32_t kNextAt = 16;
constexpr uint32_t kNameLengthAt = 20;
constexpr uint32_t kNameAt = kRecordHeaderBytes;
// Set in a `next` word that holds a link. Positions are multiples of 8, so
// the bit is free, and a link to position 0 (after positions wrapped at
// 2^32) is not mistaken for "no following record".
constexpr uint32_t kLinked = 1;
// In the sizeHigh word of a skipped tail: the record went to the next lap.
// Real records hold at most 255 there.
constexpr uint32_t kMovedMarker = 0xFFFFFFFFu;
// In the sizeHigh word of the end marker.
constexpr uint32_t kEndOfJobsMarker = 0xFFFFFFFEu;

unsigned char* at(RecordRing& ring, uint32_t position) { return ring.data + (position & kRecordRingMask); }

uint32_t loadWord(const unsigned char* p) {
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

void storeWord(unsigned char* p, uint32_t value) { std::memcpy(p, &value, sizeof value); }

uint32_t* nextField(RecordRing& ring, uint32_t position) {
    return reinterpret_cast<uint32_t*>(at(ring, position) + kNextAt);
}

uint32_t loadLink(uint32_t* link) { return std::atomic_ref<uint32_t>(*link).load(std::memory_order_acquire); }

void storeLink(uint32_t* link, uint32_t value) {
    std::atomic_ref<uint32_t>(*link).store(value, std::memory_order_release);
}

// Whether records lie between the two positions. The read position may
// stand ahead of the write position for a moment: a push links its record
// before it publishes writePos, so a pop can follow the link to a record
// moved to the next lap before that record is complete. Positions differ by
// at most one ring, so the signed difference orders them across the wrap
// at 2^32.
bool holdsRecords(uint32_t readPos, uint32_t writePos) {
    QEX_ASSERT(static_cast<int32_t>(writePos - readPos) <= static_cast<int32_t>(kRecordRingBytes));
    return static_cast<int32_t>(writePos - readPos) > 0;
}

uint32_t nextLap(uint32_t position) { return (position + kRecordRingMask) & ~kRecordRingMask; }

// Where the record at the read position really starts: at the next lap when
// the producer left the moved marker there.
uint32_t recordStart(RecordRing& ring, uint32_t readPos) {
    if ((readPos & kRecordRingMask) == 0) return readPos;
    if (loadWord(at(ring, readPos) + kSizeHighAt) == kMovedMarker) return nextLap(readPos);
    return readPos;
}

PushResult pushRecord(RecordRing& ring, std::u16string_view name, uint32_t sizeLow, uint32_t sizeHigh,
                      FileEntry* entry) {
    if (name.size() > kMaxRecordNameUnits) return PushResult::tooLong;
    const uint32_t length = recordLength(name.size());
    const uint32_t readPos = ring.readPos.load(std::memory_order_acquire);
    const uint32_t written = ring.writePos.load(std::memory_order_relaxed);
    uint32_t start = written;
    uint32_t end = start + length;
    if (end - readPos > kRecordRingBytes) return PushResult::full;
    const bool moved = (end & kRecordRingMask) <= (start & kRecordRingMask);
    if (moved) {
        start = nextLap(start);
        end = start + length;
        if (end - readPos > kRecordRingBytes) return PushResult::full;
        // The tail [written, next lap) is free: it lies within the room the
        // first test found. Mark it for a consumer that stands at `written`.
        storeWord(at(ring, written) + kSizeHighAt, kMovedMarker);
    }
    storeLink(ring.lastLink, start | kLinked);
    unsigned char* record = at(ring, start);
    storeWord(record + kSizeLowAt, sizeLow);
    storeWord(record + kSizeHighAt, sizeHigh);
    std::memcpy(record + kEntryAt, &entry, sizeof entry);
    storeLink(nextField(ring, start), 0);
    storeWord(record + kNameLengthAt, static_cast<uint32_t>(name.size()));
    // An empty name (the end marker's, a nameless job's) may have no storage.
    if (!name.empty()) std::memcpy(record + kNameAt, name.data(), name.size() * sizeof(char16_t));
    const char16_t terminator = 0;
    std::memcpy(record + kNameAt + name.size() * sizeof(char16_t), &terminator, sizeof terminator);
    ring.lastLink = nextField(ring, start);
    QEX_ASSERT(end - readPos <= kRecordRingBytes);
    ring.writePos.store(end, std::memory_order_release);
    return PushResult::accepted;
}

}  // namespace

PushResult push(RecordRing& ring, std::u16string_view name, uint64_t size, FileEntry* entry) {
    QEX_ASSERT(size >> 32 < kEndOfJobsMarker);
    return pushRecord(ring, name, static_cast<uint32_t>(size), static_cast<uint32_t>(size >> 32), entry);
}

PushResult pushEndOfJobs(RecordRing& ring) { return pushRecord(ring, std::u16string_view(), 0, kEndOfJobsMarker, nullptr); }

bool isEmpty(const RecordRing& ring) {
    const uint32_t writePos = ring.writePos.load(std::memory_order_acquire);
    return !holdsRecords(ring.readPos.load(std::memory_order_acquire), writePos);
}

uint32_t bytesHeld(const RecordRing& ring) {
    const uint32_t writePos = ring.writePos.load(std::memory_order_acquire);
    const uint32_t readPos = ring.readPos.load(std::memory_order_acquire);
    return holdsRecords(readPos, writePos) ? writePos - readPos : 0;
}

bool peek(RecordRing& ring, RingRecord& record) {
    const uint32_t writePos = ring.writePos.load(std::memory_order_acquire);
    const uint32_t readPos = ring.readPos.load(std::memory_order_relaxed);
    if (!holdsRecords(readPos, writePos)) return false;
    const uint32_t start = recordStart(ring, readPos);
    const unsigned char* p = at(ring, start);
    const uint32_t sizeHigh = loadWord(p + kSizeHighAt);
    record.endOfJobs = sizeHigh == kEndOfJobsMarker;
    record.size = record.endOfJobs ? 0 : (uint64_t{sizeHigh} << 32) | loadWord(p + kSizeLowAt);
    std::memcpy(&record.entry, p + kEntryAt, sizeof record.entry);
    const uint32_t units = loadWord(p + kNameLengthAt);
    record.name = std::u16string_view(reinterpret_cast<const char16_t*>(p + kNameAt), units);
    record.position = start;
    return true;
}

void pop(RecordRing& ring) {
    // writePos before the link: a push stores the link before it publishes
    // writePos, so a missing link read after this load means the next record
    // (if any is pushed meanwhile) starts at this writePos or past its marker.
    const uint32_t writePos = ring.writePos.load(std::memory_order_acquire);
    const uint32_t readPos = ring.readPos.load(std::memory_order_relaxed);
    if (!holdsRecords(readPos, writePos)) return;
    const uint32_t start = recordStart(ring, readPos);
    const uint32_t next = loadLink(nextField(ring, start));
    ring.readPos.store((next & kLinked) != 0 ? next & ~kLinked : writePos, std::memory_order_release);
}

PushResult pushDiscardingOldest(RecordRing& ring, std::u16string_view name, uint64_t size, FileEntry* entry) {
    for (;;) {
        const PushResult result = push(ring, name, size, entry);
        if (result != PushResult::full) return result;
        std::lock_guard<std::mutex> hold(ring.popLock);
        pop(ring);
    }
}

bool takeOldest(RecordRing& ring, TakenRecord& record) {
    std::lock_guard<std::mutex> hold(ring.popLock);
    RingRecord seen;
    if (!peek(ring, seen)) return false;
    record.size = seen.size;
    record.entry = seen.entry;
    record.name.assign(seen.name);
    pop(ring);
    return true;
}

}  // namespace qex
