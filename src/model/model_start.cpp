// Model start: the order-0 root holding all 256 bytes, and every estimator in
// its start value.
//
// On a fresh allocator the root takes the top unit of the arena and its 256
// states the first 128 units of the unit area; neither can fail.
#include "model/estimation_tables.h"
#include "model/context_tree.h"

namespace qex {

namespace {

constexpr uint32_t kRootLastIndex = 255;
constexpr uint32_t kRootTotalFreq = 257;

}  // namespace

void startModel(Model& m, uint8_t* arenaBase, uint32_t arenaSize) {
    m.orderDeficit = kOrderLimit;
    resetAllocator(m.alloc, arenaBase, arenaSize);

    const Ref root = takeContext(m.alloc);
    m.currentContext = root;
    setLastIndex(m, root, kRootLastIndex);
    setTotalFreq(m, root, kRootTotalFreq);
    const Ref rootStates = takeUnits(m.alloc, classOfUnits(kMaxClassUnits));
    setStates(m, root, rootStates);
    setFlags(m, root, 0);
    setSuffix(m, root, kNone);
    for (uint32_t sym = 0; sym < 256; ++sym) setState(m, rootStates + sym * kStateBytes, sym, 1, kNone);

    m.codedState = kNone;
    m.foundContext = kNone;
    initEstimationTables(m.est, kOrderLimit);
}

}  // namespace qex
