// A CoderIo over a vector, one byte at a time, for tests that drive the range
// coder or the symbol coder directly: bytes put are appended; bytes got are
// read from the start of the same vector, zeros once it is used up.
#pragma once

#include <cstdint>
#include <vector>

#include "coder/coder_io.h"

namespace qex {

struct VectorCoderIo {
    std::vector<uint8_t> bytes;
    size_t readPos = 0;  // bytes got so far, including zeros past the end
    uint8_t cell = 0;
    CoderIo io;

    VectorCoderIo() {
        io.owner = this;
        io.outStart = io.outPtr = &cell;
        io.outEnd = &cell + 1;
        io.drain = [](CoderIo& io) {
            auto* self = static_cast<VectorCoderIo*>(io.owner);
            self->bytes.push_back(self->cell);
            io.outPtr = &self->cell;
        };
        io.inPtr = io.inEnd = &cell;
        io.refill = [](CoderIo& io) {
            auto* self = static_cast<VectorCoderIo*>(io.owner);
            self->cell = self->readPos < self->bytes.size() ? self->bytes[self->readPos] : 0;
            ++self->readPos;
            io.inPtr = &self->cell;
            io.inEnd = &self->cell + 1;
        };
    }
    VectorCoderIo(const VectorCoderIo&) = delete;
    VectorCoderIo& operator=(const VectorCoderIo&) = delete;
};

}  // namespace qex
