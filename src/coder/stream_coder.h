// One coder run: the context model, its arena and the range coder, driven by
// the encoder or decoder body over a `CoderIo`.
//
// The bodies are plain loops over getByte/putByte; they are the same code
// whether the io is a memory buffer (tests, benchmarks) or the coder
// coroutine's chunk buffers (the pipeline).
#pragma once

#include <cstddef>
#include <cstdint>

#include "coder/coder_io.h"

namespace qex {

struct StreamCoder;

// The model's arena: 128 MiB, fixed by the format.
inline constexpr size_t kArenaBytes = size_t{128} << 20;

// Starts the model over `arena`, which the caller obtained (zero-filled, as
// fresh pages read) and keeps until the coder is destroyed: the coder
// reserves no memory of the system itself. Returns null when the size is
// unusable or the coder's own small state cannot be allocated. `arenaBytes`
// other than kArenaBytes is for tests only: streams made with another size
// are not qex streams.
StreamCoder* createStreamCoder(uint8_t* arena, size_t arenaBytes);
// Frees the coder's own state; the arena stays the caller's.
void destroyStreamCoder(StreamCoder* coder);

// The io the bodies read and write; the owner fills in buffers and hooks
// before running a body.
CoderIo& coderIo(StreamCoder& coder);

// Encoder body: codes bytes from the io until `endOfInput` is set (the byte
// read when it is set is dropped), then the end symbol, then flushes the
// range coder through putByte.
void runEncoderBody(StreamCoder& coder);

// Decoder body: primes the range decoder, then decodes symbols and puts each
// byte until the end symbol (which sets `endOfInput`) or until the owner has
// set `endOfInput` because the stream ran out.
void runDecoderBody(StreamCoder& coder);

// How many times the model ran out of memory and restarted in this run.
uint32_t restartCount(const StreamCoder& coder);

// Whether the decoder body ended at the stream's end symbol (rather than at
// the end of its input, which means the stream was cut short or damaged).
bool endSymbolDecoded(const StreamCoder& coder);

// Calls `restarted(owner)` each time the model restarts, right after the
// byte whose update exhausted its memory and before it starts over.
void watchRestarts(StreamCoder& coder, void (*restarted)(void* owner), void* owner);

}  // namespace qex
