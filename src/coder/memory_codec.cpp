// Whole-buffer compression and decompression in memory: the stream coder's
// bodies over a CoderIo whose hooks hand over the next buffer directly.
//
// The default arena comes from the C heap, zero-filled: for a block this
// large the allocator maps fresh pages, committed on first touch as the
// system reservation is, so a small input costs little memory here too.
#include "coder/memory_codec.h"

#include <algorithm>
#include <cstdlib>
#include <utility>


namespace qex {

namespace {

// What the decoder reads once the input has run out: zeros, as the pipeline feeds.
constexpr uint8_t kZeroInput[4] = {0, 0, 0, 0};
constexpr size_t kFirstOutputBytes = 1 << 16;
// Restart positions kept in the statistics: the first this many.
constexpr size_t kMaxRestartsRecorded = 16;

struct MemorySink {
    std::vector<uint8_t>* out;
    size_t limit;
    bool inputRanOut = false;
    uint8_t scratch[64] = {};  // where output goes once the limit is reached
};

void endOfMemoryInput(CoderIo& io) {
    static_cast<MemorySink*>(io.owner)->inputRanOut = true;
    io.endOfInput = 1;
    io.inPtr = kZeroInput;
    io.inEnd = kZeroInput + sizeof kZeroInput;
}

// Grows the vector; past the limit, ends decoding and swallows the rest.
void growMemoryOutput(CoderIo& io) {
    MemorySink& sink = *static_cast<MemorySink*>(io.owner);
    std::vector<uint8_t>& out = *sink.out;
    if (io.outStart != out.data()) {  // output was going to the scratch area
        io.outPtr = io.outStart;
        return;
    }
    const size_t used = size_t(io.outPtr - io.outStart);
    if (used >= sink.limit) {
        io.endOfInput = 1;
        io.outStart = io.outPtr = sink.scratch;
        io.outEnd = sink.scratch + sizeof sink.scratch;
        return;
    }
    const size_t grown = std::min(sink.limit, std::max(kFirstOutputBytes, out.size() * 2));
    out.resize(grown);
    io.outStart = out.data();
    io.outPtr = out.data() + used;
    io.outEnd = out.data() + out.size();
}

void attachOutput(CoderIo& io, MemorySink& sink) {
    sink.out->resize(std::min(sink.limit, kFirstOutputBytes));
    io.owner = &sink;
    io.drain = growMemoryOutput;
    if (sink.out->empty()) {  // a limit of 0: end at once
        io.outStart = io.outPtr = sink.scratch;
        io.outEnd = sink.scratch + sizeof sink.scratch;
        io.endOfInput = 1;
        return;
    }
    io.outStart = io.outPtr = sink.out->data();
    io.outEnd = io.outStart + sink.out->size();
}

size_t outputUsed(const CoderIo& io, const MemorySink& sink) {
    if (io.outStart != sink.out->data()) return sink.out->size();
    return size_t(io.outPtr - io.outStart);
}

// Where restarts fell: the index of the byte after which each happened, read
// from how far the body has got through its one input or output buffer.
struct RestartLog {
    const CoderIo* io;
    const MemorySink* sink;
    const uint8_t* inStart;
    bool decoding;
    std::vector<uint64_t> positions;
};

void noteRestart(void* owner) {
    RestartLog& log = *static_cast<RestartLog*>(owner);
    if (log.positions.size() >= kMaxRestartsRecorded) return;
    const size_t coded = log.decoding ? outputUsed(*log.io, *log.sink) : size_t(log.io->inPtr - log.inStart);
    log.positions.push_back(coded - 1);
}

void* reserveHeapArena(size_t bytes) { return std::calloc(bytes, 1); }
void releaseHeapArena(void* arena, size_t) { std::free(arena); }

// The arena of one run, handed back when the run ends.
struct HeldArena {
    ArenaSource source;
    size_t bytes;
    void* arena;
    HeldArena(ArenaSource s, size_t n) : source(s), bytes(n), arena(s.reserve(n)) {}
    ~HeldArena() {
        if (arena != nullptr) source.release(arena, bytes);
    }
    HeldArena(const HeldArena&) = delete;
    HeldArena& operator=(const HeldArena&) = delete;
};

// Runs one body over memory: input [data, data + size), output into `out`
// (capped at `limit`); fills `stats` when given. False: the arena or the
// coder could not be obtained.
template <typename Body>
bool runInMemory(Body body, bool decoding, const uint8_t* data, size_t size, std::vector<uint8_t>& out,
                 size_t limit, CodecStats* stats, size_t arenaBytes, ArenaSource arenaSource) {
    const HeldArena arena(arenaSource, arenaBytes);
    StreamCoder* coder = createStreamCoder(static_cast<uint8_t*>(arena.arena), arenaBytes);
    if (coder == nullptr) return false;
    CoderIo& io = coderIo(*coder);
    io.inPtr = data;
    io.inEnd = data + size;
    io.refill = endOfMemoryInput;
    MemorySink sink{&out, limit};
    attachOutput(io, sink);
    RestartLog restarts{&io, &sink, data, decoding, {}};
    if (stats != nullptr) watchRestarts(*coder, noteRestart, &restarts);
    body(*coder);
    out.resize(outputUsed(io, sink));
    if (stats != nullptr) {
        stats->restarts = restartCount(*coder);
        stats->restartAfter = std::move(restarts.positions);
        stats->sawEndSymbol = endSymbolDecoded(*coder);
        stats->streamBytes = sink.inputRanOut ? size : uint64_t(io.inPtr - data);
    }
    destroyStreamCoder(coder);
    return true;
}

}  // namespace

ArenaSource heapArena() { return ArenaSource{reserveHeapArena, releaseHeapArena}; }

bool compressBuffer(const uint8_t* data, size_t size, std::vector<uint8_t>& stream, CodecStats* stats,
                    size_t arenaBytes, ArenaSource arenaSource) {
    if (!runInMemory(runEncoderBody, false, data, size, stream, SIZE_MAX, stats, arenaBytes, arenaSource))
        return false;
    if (stats != nullptr) stats->streamBytes = stream.size();
    return true;
}

bool decompressBuffer(const uint8_t* stream, size_t size, std::vector<uint8_t>& data, CodecStats* stats,
                      size_t arenaBytes, size_t maxOutput, ArenaSource arenaSource) {
    return runInMemory(runDecoderBody, true, stream, size, data, maxOutput, stats, arenaBytes, arenaSource);
}

}  // namespace qex
