// The stream coder's encoder and decoder, as the worker drives them.
#include "coder/stream_coder.h"
#include "pipeline/coder_worker.h"

namespace qex {

namespace {

void* createCoder(size_t arenaBytes) { return createStreamCoder(arenaBytes); }
CoderIo& ioOf(void* coder) { return coderIo(*static_cast<StreamCoder*>(coder)); }
void runEncoder(void* coder) { runEncoderBody(*static_cast<StreamCoder*>(coder)); }
void runDecoder(void* coder) { runDecoderBody(*static_cast<StreamCoder*>(coder)); }
void destroyCoder(void* coder) { destroyStreamCoder(static_cast<StreamCoder*>(coder)); }

}  // namespace

CoderBody encoderBody() { return CoderBody{&createCoder, &ioOf, &runEncoder, &destroyCoder}; }
CoderBody decoderBody() { return CoderBody{&createCoder, &ioOf, &runDecoder, &destroyCoder}; }

}  // namespace qex
