// ChunkRing: 256 slots of 64 KiB that carry raw data between two threads.
//
// Chunk number k lives in slot k & 0xFF. The producer writes a slot's data
// and size, then advances its counter with a release store; the consumer
// loads the counter (acquire) before it touches the data. Whoever moves a
// counter then wakes the thread on the other side (see pipeline_control.h),
// once per chunk. Counters only
// grow, modulo 2^32, and are compared as unsigned differences. Each counter
// has exactly one writing thread.
//
// Input ring: `produced` counts chunks the reader published; `consumed` is
// the number of the chunk the coder is reading (0xFFFFFFFF before the
// first), whose slot stays in use until it is advanced again. The reader
// fills a slot only while produced - consumed <= 255.
// Output ring: `produced` counts chunks the coder published; `consumed`
// counts chunks the writer released. The coder publishes only while
// produced - consumed <= 254, so the slot it fills is never the writer's.
#pragma once

#include <atomic>
#include <cstdint>

namespace qex {

inline constexpr uint32_t kChunkBytes = 65536;
inline constexpr uint32_t kChunkSlots = 256;
inline constexpr uint32_t kChunkSlotMask = kChunkSlots - 1;

struct ChunkRing {
    // Slot data and sizes are not initialised: a slot is written before the
    // counter that publishes it, and 16 MiB stay untouched until needed.
    unsigned char slots[kChunkSlots][kChunkBytes];
    int32_t sizes[kChunkSlots];
    std::atomic<uint32_t> produced{0};
    std::atomic<uint32_t> consumed{0};
};

inline unsigned char* slotData(ChunkRing& ring, uint32_t chunk) { return ring.slots[chunk & kChunkSlotMask]; }
inline int32_t& slotSize(ChunkRing& ring, uint32_t chunk) { return ring.sizes[chunk & kChunkSlotMask]; }

}  // namespace qex
