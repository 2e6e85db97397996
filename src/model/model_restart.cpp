// Restart on exhausted memory: the whole tree is dropped and the model starts
// again over the same arena, while the range coder carries on. The decoder
// runs out of memory at exactly the same byte, so both sides restart in step.
// lastBinaryProbability and maskedLastIndex keep their values.
#include "model/context_tree.h"

namespace qex {

void resetModel(Model& m) {
    ++m.restarts;
    if (m.restartObserver.restarted != nullptr) m.restartObserver.restarted(m.restartObserver.owner);
    startModel(m, m.alloc.arenaBase, m.alloc.arenaSize);
}

}  // namespace qex
