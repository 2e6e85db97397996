// The exchange rule of the first context when coding a symbol.
#include <gtest/gtest.h>

#include "support/vector_coder_io.h"

#include <utility>
#include <vector>

#include "coder/context_estimation.h"
#include "model/estimation_tables.h"
#include "coder/symbol_coding.h"

namespace qex {
namespace {

// In the first context a state moves up one place only when its raised
// frequency is strictly greater than its predecessor's.
TEST(FirstContext, FoundStateMovesUpOnlyWhenStrictlyGreater) {
    std::vector<uint8_t> arena(1 << 20, 0);
    // 'q' is raised by 4: from 6 it ties 'p' (10) and stays; from 7 it passes.
    for (const auto& [second, moved] : {std::pair{6u, false}, std::pair{7u, true}}) {
        Model m;
        startModel(m, arena.data(), uint32_t(arena.size()));
        const Ref c = takeContext(m.alloc);
        const Ref a = takeUnits(m.alloc, 0);
        setState(m, a, 'p', 10, kNone);
        setState(m, a + kStateBytes, 'q', second, kNone);
        setLastIndex(m, c, 1);
        setFlags(m, c, 0);
        setStates(m, c, a);
        setTotalFreq(m, c, 20);
        setSuffix(m, c, m.currentContext);
        m.currentContext = c;
        VectorCoderIo sink;
        RangeEncoder enc;
        init(enc, sink.io);
        ASSERT_TRUE(encodeSymbol(m, enc, 'q'));
        EXPECT_EQ(symbol(m, a), moved ? uint32_t('q') : uint32_t('p')) << second;
        EXPECT_EQ(m.codedState, moved ? a : a + kStateBytes);
        EXPECT_EQ(freq(m, m.codedState), second + 4);
        EXPECT_EQ(totalFreq(m, c), 24u);
    }
}

}  // namespace
}  // namespace qex
