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

// Builds the tables, obtains the arena and starts the model. Returns null when
// the arena cannot be obtained. `arenaBytes` other than kArenaBytes is for
// tests only: streams made with another size are not qex streams.
StreamCoder* createStreamCoder(size_t arenaBytes = kArenaBytes);
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

// The model of this run, for tests that compare the two coding sides.
struct Model;
const Model& streamModel(const StreamCoder& coder);

}  // namespace qex
