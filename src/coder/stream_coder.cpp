// One coder run: model, arena and range coder, with the encoder and decoder
// bodies as plain loops over getByte/putByte.
#include "coder/stream_coder.h"

#include <new>

#include "coder/symbol_coding.h"
#include "platform/arena_memory.h"

namespace qex {

struct StreamCoder {
    Model model;
    RangeEncoder encoder;
    RangeDecoder decoder;
    CoderIo io;
    uint8_t* arena = nullptr;
    size_t arenaBytes = 0;
};

StreamCoder* createStreamCoder(size_t arenaBytes) {
    // Offsets into the arena are 32-bit, and the unit area needs some room.
    if (arenaBytes > UINT32_MAX || arenaBytes < 4096) return nullptr;
    StreamCoder* coder = new (std::nothrow) StreamCoder;
    if (coder == nullptr) return nullptr;
    coder->arena = static_cast<uint8_t*>(reserveArena(arenaBytes));
    if (coder->arena == nullptr) {
        delete coder;
        return nullptr;
    }
    coder->arenaBytes = arenaBytes;
    startModel(coder->model, coder->arena, uint32_t(arenaBytes));
    return coder;
}

void destroyStreamCoder(StreamCoder* coder) {
    if (coder == nullptr) return;
    releaseArena(coder->arena, coder->arenaBytes);
    delete coder;
}

CoderIo& coderIo(StreamCoder& coder) { return coder.io; }

void runEncoderBody(StreamCoder& coder) {
    CoderIo& io = coder.io;
    init(coder.encoder, io);
    for (;;) {
        if (io.endOfInput != 0) break;
        const uint8_t b = getByte(io);
        if (io.endOfInput != 0) break;  // the filler byte that came with the end
        encodeSymbol(coder.model, coder.encoder, b);
        updateAfterSymbol(coder.model);
    }
    encodeSymbol(coder.model, coder.encoder, kEndSymbol);
    flush(coder.encoder);
}

void runDecoderBody(StreamCoder& coder) {
    CoderIo& io = coder.io;
    init(coder.decoder, io);
    while (io.endOfInput == 0) {
        const int sym = decodeSymbol(coder.model, coder.decoder);
        if (sym == kEndSymbol) {
            io.endOfInput = 1;
            coder.model.endSymbolDecoded = true;
        } else {
            putByte(io, uint8_t(sym));
            updateAfterSymbol(coder.model);
        }
    }
}

uint32_t restartCount(const StreamCoder& coder) { return coder.model.restarts; }

bool endSymbolDecoded(const StreamCoder& coder) { return coder.model.endSymbolDecoded; }

const Model& streamModel(const StreamCoder& coder) { return coder.model; }

}  // namespace qex
