// The stream coder's encoder and decoder, as the worker drives them. The
// pipeline owns the model's arena: it reserves it from the system here and
// hands it to the coder, which takes no system memory itself.
#include <new>

#include "coder/stream_coder.h"
#include "pipeline/coder_worker.h"
#include "platform/arena_memory.h"

namespace qex {

namespace {

struct CoderWithArena {
    StreamCoder* coder = nullptr;
    void* arena = nullptr;
    size_t arenaBytes = 0;
};

void destroyCoder(void* state) {
    CoderWithArena* run = static_cast<CoderWithArena*>(state);
    destroyStreamCoder(run->coder);
    if (run->arena != nullptr) releaseArena(run->arena, run->arenaBytes);
    delete run;
}

void* createCoder(size_t arenaBytes) {
    CoderWithArena* run = new (std::nothrow) CoderWithArena;
    if (run == nullptr) return nullptr;
    run->arena = reserveArena(arenaBytes);
    if (run->arena != nullptr) {
        run->arenaBytes = arenaBytes;
        run->coder = createStreamCoder(static_cast<uint8_t*>(run->arena), arenaBytes);
    }
    if (run->coder == nullptr) {
        destroyCoder(run);
        return nullptr;
    }
    return run;
}

StreamCoder& coderOf(void* state) { return *static_cast<CoderWithArena*>(state)->coder; }
CoderIo& ioOf(void* state) { return coderIo(coderOf(state)); }
void runEncoder(void* state) { runEncoderBody(coderOf(state)); }
void runDecoder(void* state) { runDecoderBody(coderOf(state)); }

}  // namespace

CoderBody encoderBody() { return CoderBody{&createCoder, &ioOf, &runEncoder, &destroyCoder}; }
CoderBody decoderBody() { return CoderBody{&createCoder, &ioOf, &runDecoder, &destroyCoder}; }

}  // namespace qex
