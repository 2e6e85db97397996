// The byte source and sink of the range coder.
//
// The coder reads and writes plain memory through `getByte` and `putByte`;
// the only cost per byte is one pointer comparison. When the input buffer is
// used up, or the output buffer has just become full, the owner's `refill` or
// `drain` hook runs (out of line, once per buffer): in memory it hands over
// the next buffer directly; in the pipeline it suspends the coder coroutine
// until the worker has exchanged the buffer.
//
// Invariants: after `refill` returns, inPtr < inEnd (at the end of the input
// the owner supplies zero bytes and sets `endOfInput`); after `drain` returns,
// outPtr < outEnd.
#pragma once

#include <cstdint>

namespace qex {

struct CoderIo {
    const uint8_t* inPtr = nullptr;
    const uint8_t* inEnd = nullptr;
    uint8_t* outPtr = nullptr;
    uint8_t* outStart = nullptr;
    uint8_t* outEnd = nullptr;
    void (*refill)(CoderIo&) = nullptr;
    void (*drain)(CoderIo&) = nullptr;
    void* owner = nullptr;
    // Set once no more input exists: by the owner when the data ran out, by
    // the decoder body when it decodes the end symbol.
    uint32_t endOfInput = 0;
};

inline uint8_t getByte(CoderIo& io) {
    if (io.inPtr >= io.inEnd) io.refill(io);
    return *io.inPtr++;
}

inline void putByte(CoderIo& io, uint8_t b) {
    *io.outPtr++ = b;
    if (io.outPtr >= io.outEnd) io.drain(io);
}

}  // namespace qex
