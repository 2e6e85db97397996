// One coder run: model, arena and range coder, with the encoder and decoder
// bodies as plain loops over getByte/putByte.
#include "coder/stream_coder.h"

#include <new>

#include "coder/symbol_coding.h"

namespace qex {

struct StreamCoder {
    Model model;
    RangeEncoder encoder;
    RangeDecoder decoder;
    CoderIo io;
    bool endSymbolDecoded = false;
};

StreamCoder* createStreamCoder(uint8_t* arena, size_t arenaBytes) {
    // Offsets into the arena are 32-bit, and the unit area needs some room.
    if (arena == nullptr || arenaBytes > UINT32_MAX || arenaBytes < 4096) return nullptr;
    StreamCoder* coder = new (std::nothrow) StreamCoder;
    if (coder == nullptr) return nullptr;
    startModel(coder->model, arena, uint32_t(arenaBytes));
    return coder;
}

void destroyStreamCoder(StreamCoder* coder) { delete coder; }

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
            coder.endSymbolDecoded = true;
        } else {
            putByte(io, uint8_t(sym));
            updateAfterSymbol(coder.model);
        }
    }
}

uint32_t restartCount(const StreamCoder& coder) { return coder.model.restarts; }

bool endSymbolDecoded(const StreamCoder& coder) { return coder.endSymbolDecoded; }

void watchRestarts(StreamCoder& coder, void (*restarted)(void* owner), void* owner) {
    coder.model.restartObserver = RestartObserver{restarted, owner};
}

}  // namespace qex
