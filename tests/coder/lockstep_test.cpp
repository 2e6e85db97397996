// Encoder and decoder side by side: after every symbol both models must be
// identical. The encoder records a digest of its model per symbol; the
// decoder recomputes it at the same point and compares.
#include <gtest/gtest.h>

#include "support/vector_coder_io.h"

#include <random>
#include <vector>

#include "coder/symbol_coding.h"

namespace qex {
namespace {

constexpr uint32_t kArena = 512 * 1024;  // small, so the run restarts several times
constexpr int kTableEvery = 61;          // full estimator tables every this many symbols
constexpr int kTreeDepth = 3;

struct Digest {
    uint64_t h = 1469598103934665603ull;
    void add(uint64_t v) {
        h ^= v;
        h *= 1099511628211ull;
    }
    void addBytes(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        for (size_t i = 0; i < n; ++i) add(b[i]);
    }
};

// The context at c and what hangs below it, to a bounded depth, with its
// references taken relative to the arena (both arenas differ in address).
void addContext(const Model& m, Digest& d, Ref c, int depth) {
    d.add(c);
    d.add(lastIndex(m, c));
    d.add(flags(m, c));
    d.add(suffix(m, c));
    if (lastIndex(m, c) == 0) {
        d.addBytes(at(m, c) + 2, 6);
        return;
    }
    d.add(totalFreq(m, c));
    const Ref first = states(m, c);
    d.add(first);
    for (uint32_t i = 0; i <= lastIndex(m, c); ++i) {
        const Ref s = first + i * kStateBytes;
        d.addBytes(at(m, s), kStateBytes);
        if (depth > 0 && isContext(m, successor(m, s))) addContext(m, d, successor(m, s), depth - 1);
    }
}

uint64_t modelDigest(const Model& m, bool tables) {
    Digest d;
    d.add(uint64_t(m.est.hitRun));
    d.add(uint64_t(m.est.lastWasHit));
    d.addBytes(m.est.symbolMask.data(), m.est.symbolMask.size());
    d.add(uint64_t(m.orderDeficit));
    d.add(m.currentContext);
    const UnitAllocator& a = m.alloc;
    d.add(a.textTop);
    d.add(a.unitAreaStart);
    d.add(a.gapLow);
    d.add(a.gapHigh);
    d.add(a.mergePasses);
    d.add(a.mergeCountdown);
    for (const FreeList& l : a.freeLists) {
        d.add(l.count);
        d.add(l.head);
    }
    addContext(m, d, m.currentContext, kTreeDepth);
    if (tables) {
        d.addBytes(m.est.binaryProbs, sizeof m.est.binaryProbs);
        d.addBytes(m.est.seeContexts, sizeof m.est.seeContexts);
    }
    return d.h;
}


TEST(Lockstep, EncoderAndDecoderModelsStayIdenticalAfterEverySymbol) {
    std::mt19937 rng(77);
    std::vector<uint8_t> input;
    while (input.size() < 1500000) {
        const int kind = rng() % 4;
        const size_t n = 2000 + rng() % 30000;
        for (size_t i = 0; i < n; ++i) {
            switch (kind) {
                case 0: input.push_back(uint8_t(rng())); break;
                case 1: input.push_back(uint8_t(" etaoinshrdlu\n"[rng() % 14])); break;
                case 2: input.push_back(uint8_t(i / 64)); break;
                default: input.push_back(uint8_t(i % 7 == 0 ? rng() % 4 : 0x90)); break;
            }
        }
    }

    std::vector<uint8_t> encArena(kArena, 0), decArena(kArena, 0);
    Model enc;
    startModel(enc, encArena.data(), kArena);
    VectorCoderIo stream;
    RangeEncoder encoder;
    init(encoder, stream.io);
    std::vector<uint64_t> digests;
    digests.reserve(input.size());
    for (size_t i = 0; i < input.size(); ++i) {
        ASSERT_TRUE(encodeSymbol(enc, encoder, input[i]));
        updateAfterSymbol(enc);
        digests.push_back(modelDigest(enc, i % kTableEvery == 0));
    }
    EXPECT_FALSE(encodeSymbol(enc, encoder, kEndSymbol));
    flush(encoder);
    EXPECT_GE(enc.restarts, 2u);

    Model dec;
    startModel(dec, decArena.data(), kArena);
    RangeDecoder decoder;
    init(decoder, stream.io);
    for (size_t i = 0; i < input.size(); ++i) {
        const int sym = decodeSymbol(dec, decoder);
        ASSERT_EQ(sym, int(input[i])) << "symbol " << i;
        updateAfterSymbol(dec);
        ASSERT_EQ(modelDigest(dec, i % kTableEvery == 0), digests[i]) << "models differ after symbol " << i;
    }
    EXPECT_EQ(decodeSymbol(dec, decoder), kEndSymbol);
    EXPECT_EQ(stream.readPos, stream.bytes.size());
    EXPECT_EQ(dec.restarts, enc.restarts);
}

}  // namespace
}  // namespace qex
