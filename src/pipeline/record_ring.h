// RecordRing: a fixed 128 KiB ring of variable-length records, each naming
// one file, passed from one thread to another without locks or allocation.
//
// Record layout (never split across the end of the buffer, 8-aligned):
//   0  sizeLow     u32   low 32 bits of the byte count
//   4  sizeHigh    u32   high bits of the byte count (0..255 for 40-bit sizes),
//                        or a marker: the end of the jobs, a record moved on
//   8  entry       64-bit address of the file's FileEntry, or null
//  16  next        u32   position of the following record + 1; 0 until pushed
//  20  nameLength  u32   UTF-16 units of the name, terminator not counted
//  24  name        nameLength + 1 UTF-16 units, zero-terminated
// Length: 24 + 2 * (n + 1) rounded up to 8, i.e. (2n + 33) & ~7 bytes:
// 32 for an empty name, 40 for a name of four units. A record is a file's
// (a job, or a finished file for the progress display) or the end of the
// jobs, which has no name, no bytes and no entry.
//
// Positions only grow (modulo 2^32); a record at position p lies at
// data[p & 0x1FFFF]. A record that would run to or past the end of the
// buffer goes to the start of the next lap instead; the skipped tail gets a
// marker (sizeHigh = kMovedMarker) so that a consumer whose read position
// stands there (it emptied the ring before the move) finds the record at the
// next lap. Without that marker it would read the stale tail as a record.
//
// Invariants: writePos - readPos <= 131,072, taken as a signed difference
// (the ring is empty when it is 0 or less: for a moment a consumer that
// followed the link of a record moved to the next lap stands past writePos);
// the producer writes a record and
// its link before it publishes writePos (release), the consumer loads
// writePos (acquire) before it reads the record. One producer and one
// consumer per ring; on the lossy progress rings the producer also discards
// the oldest record when the ring is full, and such discards and the
// printer's take are serialised by `popLock`.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "pipeline/file_entry.h"

namespace qex {

inline constexpr uint32_t kRecordRingBytes = 0x20000;
inline constexpr uint32_t kRecordRingMask = kRecordRingBytes - 1;
inline constexpr uint32_t kRecordHeaderBytes = 24;
// Longest name a record may hold: its record takes at most half the ring,
// so that it fits into an empty ring wherever the write position stands
// (a record moved to the next lap also occupies the tail it skipped, which
// is never longer than the record itself).
inline constexpr size_t kMaxRecordNameUnits = (kRecordRingBytes / 2 - kRecordHeaderBytes) / 2 - 1;

struct RecordRing {
    std::atomic<uint32_t> readPos{0};
    std::atomic<uint32_t> writePos{0};
    // The `next` word of the newest record; the scratch word before any push.
    uint32_t* lastLink = &scratchLink;
    uint32_t scratchLink = 0;
    std::mutex popLock;  // used by the lossy progress rings only
    alignas(8) unsigned char data[kRecordRingBytes];

    RecordRing() = default;
    RecordRing(const RecordRing&) = delete;
    RecordRing& operator=(const RecordRing&) = delete;
};

// A record seen in place; valid until it is popped.
struct RingRecord {
    uint64_t size = 0;
    FileEntry* entry = nullptr;
    std::u16string_view name;
    uint32_t position = 0;
    bool endOfJobs = false;  // the end marker: no further job comes
};

// A record copied out of a progress ring, for printing at leisure.
struct TakenRecord {
    uint64_t size = 0;
    FileEntry* entry = nullptr;
    std::u16string name;
};

enum class PushResult { accepted = 0, full = 1, tooLong = 2 };

// Bytes a record with a name of `nameUnits` UTF-16 units takes.
constexpr uint32_t recordLength(size_t nameUnits) {
    return static_cast<uint32_t>((2 * nameUnits + 33) & ~size_t{7});
}

// Appends a file's record; a full ring is left unchanged. `tooLong` means
// the name can never fit, however empty the ring. `size` is at most 2^40 - 1.
PushResult push(RecordRing& ring, std::u16string_view name, uint64_t size, FileEntry* entry);

// Appends the end marker; a full ring is left unchanged.
PushResult pushEndOfJobs(RecordRing& ring);

// The oldest record, or false when the ring is empty.
bool peek(RecordRing& ring, RingRecord& record);

// Discards the oldest record, if any.
void pop(RecordRing& ring);

bool isEmpty(const RecordRing& ring);

// Bytes the records in the ring take (0 when it is empty); for the consumer,
// which sees the count fall as it pops.
uint32_t bytesHeld(const RecordRing& ring);

// Progress rings: push, discarding the oldest records while the ring is
// full, so the producer never waits for the printer.
PushResult pushDiscardingOldest(RecordRing& ring, std::u16string_view name, uint64_t size, FileEntry* entry);

// Progress rings: copies out and pops the oldest record under the pop lock;
// false when the ring is empty.
bool takeOldest(RecordRing& ring, TakenRecord& record);

// The four rings of a process run, created by the front end.
struct PipelineRings {
    RecordRing readerJobs;      // main -> reader: files to read, then the end marker
    RecordRing writerJobs;      // main -> writer: files to create, then the end marker
    RecordRing addedFiles;      // reader -> add progress printer (lossy)
    RecordRing extractedFiles;  // writer -> extract progress printer (lossy)
};

}  // namespace qex
