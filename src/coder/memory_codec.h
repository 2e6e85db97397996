// Whole-buffer compression and decompression in memory, for tests and
// benchmarks. Runs the same encoder and decoder bodies as the pipeline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "coder/stream_coder.h"

namespace qex {

struct CodecStats {
    uint64_t streamBytes = 0;   // compress: bytes written; decompress: bytes read
    uint32_t restarts = 0;      // model restarts on exhausted memory
    bool sawEndSymbol = false;  // decompress: the end symbol was decoded
    std::vector<uint64_t> restartAfter;  // byte indexes after which the model restarted (the first 16)
};

// Where a run's arena comes from. The coder reserves no system memory, so by
// default it is zero-filled memory of the C heap; a caller above the coder
// may hand over the system's reservation (platform/arena_memory.h), as the
// pipeline uses, to measure the model as the program runs it.
struct ArenaSource {
    void* (*reserve)(size_t bytes);  // zero-filled, or null when it cannot be had
    void (*release)(void* arena, size_t bytes);
};
ArenaSource heapArena();

// Compresses `size` bytes into a complete stream (bytes, end symbol, flush).
// Returns false only when the model's arena cannot be obtained.
bool compressBuffer(const uint8_t* data, size_t size, std::vector<uint8_t>& stream,
                    CodecStats* stats = nullptr, size_t arenaBytes = kArenaBytes,
                    ArenaSource arenaSource = heapArena());

// Decodes a stream until its end symbol, or until the stream runs out (then
// zeros are fed, as the pipeline does, and decoding still ends). Output is
// capped at `maxOutput` bytes, which also ends decoding.
bool decompressBuffer(const uint8_t* stream, size_t size, std::vector<uint8_t>& data,
                      CodecStats* stats = nullptr, size_t arenaBytes = kArenaBytes,
                      size_t maxOutput = SIZE_MAX, ArenaSource arenaSource = heapArena());

}  // namespace qex
