// The model: its start state, restart, the rescale and new-symbol arithmetic,
// and the exchange rules of the suffix update.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "model/estimation_tables.h"
#include "model/context_tree.h"

namespace qex {
namespace {

constexpr uint32_t kSmallArena = 1 << 20;

struct TestModel {
    std::vector<uint8_t> arena = std::vector<uint8_t>(kSmallArena, 0);
    Model m;
    TestModel() { startModel(m, arena.data(), kSmallArena); }

    // A context with the given (symbol, freq) states, suffix `suf`.
    Ref makeContext(std::vector<std::pair<uint32_t, uint32_t>> st, uint32_t total, Ref suf) {
        const Ref c = takeContext(m.alloc);
        setLastIndex(m, c, uint32_t(st.size() - 1));
        setFlags(m, c, 0);
        setSuffix(m, c, suf);
        if (st.size() == 1) {
            setState(m, inlineState(c), st[0].first, st[0].second, kNone);
            return c;
        }
        const Ref a = takeUnits(m.alloc, classOfUnits(uint32_t(st.size() + 1) / 2));
        for (size_t i = 0; i < st.size(); ++i) setState(m, a + uint32_t(i) * kStateBytes, st[i].first, st[i].second, kNone);
        setStates(m, c, a);
        setTotalFreq(m, c, total);
        return c;
    }
    uint32_t freqAt(Ref c, uint32_t i) { return freq(m, states(m, c) + i * kStateBytes); }
    uint32_t symbolAt(Ref c, uint32_t i) { return symbol(m, states(m, c) + i * kStateBytes); }
};

// Where the root and its states lie decides when the arena runs out, so
// when the model restarts. (The start frequencies and estimators are pinned
// by the codec's golden streams.)
TEST(ModelStart, RootTakesTheTopUnitAndItsStatesTheFirst128) {
    TestModel t;
    Model& m = t.m;
    const Ref root = m.currentContext;
    EXPECT_EQ(root, kSmallArena - 12);  // the top unit of the arena
    EXPECT_EQ(lastIndex(m, root), 255u);
    EXPECT_EQ(totalFreq(m, root), 257u);
    EXPECT_EQ(suffix(m, root), kNone);
    EXPECT_EQ(states(m, root), m.alloc.unitAreaStart);
    EXPECT_EQ(m.alloc.gapLow, m.alloc.unitAreaStart + 1536);  // 128 units
    EXPECT_EQ(m.orderDeficit, 8);
}

TEST(ModelRestart, RestartGivesTheStartStateButKeepsTwoCarriedValues) {
    TestModel t;
    Model& m = t.m;
    m.est.lastBinaryProbability = 1234;
    m.est.maskedLastIndex = 7;
    m.est.binaryProbs[3][5] = 99;
    m.est.symbolMask['x'] = kMasked;
    m.orderDeficit = 2;
    takeContext(m.alloc);
    m.alloc.textTop = 500;
    resetModel(m);
    TestModel fresh;
    EXPECT_EQ(m.est.lastBinaryProbability, 1234);
    EXPECT_EQ(m.est.maskedLastIndex, 7);
    EXPECT_EQ(m.est.binaryProbs[3][5], fresh.m.est.binaryProbs[3][5]);
    EXPECT_EQ(m.est.symbolMask['x'], kUnmasked);
    EXPECT_EQ(m.orderDeficit, 8);
    EXPECT_EQ(m.alloc.textTop, 0u);
    EXPECT_EQ(m.alloc.gapHigh, fresh.m.alloc.gapHigh);
    EXPECT_EQ(m.alloc.gapLow, fresh.m.alloc.gapLow);
    EXPECT_EQ(m.currentContext, fresh.m.currentContext);
    EXPECT_EQ(m.restarts, 1u);
}

// Found symbol raised to 125, the other at 20, total 155. With the order
// deficit: E = 10, T = 78, A = 145, B = 20, q = (19 - 63*145 + 125*78) / 20
// = 31; 63 + 31 = 94. At full order: 62 and 10, T = 77,
// q = (19 - 62*145 + 125*77) / 20 = 32. The found state moves to the front.
TEST(Rescale, HalvesAndRaisesTheFoundStateWithAndWithoutOrderDeficit) {
    for (const int deficit : {1, 0}) {
        SCOPED_TRACE(deficit);
        TestModel t;
        Model& m = t.m;
        const Ref c = t.makeContext({{'x', 20}, {'y', 125}}, 155, m.currentContext);
        m.orderDeficit = deficit;
        m.codedState = states(m, c) + kStateBytes;
        rescaleContext(m, c);
        EXPECT_EQ(t.symbolAt(c, 0), uint32_t('y'));
        EXPECT_EQ(t.freqAt(c, 0), 94u);
        EXPECT_EQ(t.freqAt(c, 1), 10u);
        EXPECT_EQ(totalFreq(m, c), 109u);
        EXPECT_EQ(flags(m, c) & 0x04, 0x04u);
        EXPECT_EQ(m.codedState, states(m, c));
    }
}

TEST(Rescale, RareSymbolSurvivesWithDeficitAndIsDroppedAtFullOrder) {
    {
        TestModel t;
        Model& m = t.m;
        const Ref c = t.makeContext({{'y', 125}, {'x', 1}}, 130, m.currentContext);
        m.orderDeficit = 3;
        m.codedState = states(m, c);
        rescaleContext(m, c);
        EXPECT_EQ(lastIndex(m, c), 1u);
        EXPECT_EQ(t.freqAt(c, 1), 1u);  // (1 + 1) >> 1
    }
    {
        TestModel t;
        Model& m = t.m;
        const Ref c = t.makeContext({{'y', 125}, {'x', 1}}, 130, m.currentContext);
        setFlags(m, c, 0x04 | 0x08);
        m.orderDeficit = 0;
        m.codedState = states(m, c);
        rescaleContext(m, c);
        EXPECT_EQ(lastIndex(m, c), 0u);  // back to one inline symbol
        EXPECT_EQ(symbol(m, inlineState(c)), uint32_t('y'));
        EXPECT_LE(freq(m, inlineState(c)), 41u);
        EXPECT_EQ(flags(m, c) & 0x04, 0u);
        EXPECT_EQ(m.codedState, inlineState(c));
    }
}

TEST(Rescale, SecondRescaleAtFullOrderAddsExactlyTwo) {
    TestModel t;
    Model& m = t.m;
    const Ref c = t.makeContext({{'y', 125}, {'x', 40}, {'z', 30}}, 200, m.currentContext);
    m.orderDeficit = 0;
    m.codedState = states(m, c);
    rescaleContext(m, c);
    ASSERT_EQ(flags(m, c) & 0x04, 0x04u);
    // Raise the front past the limit again, its total with it as coding
    // does, and rescale once more.
    setTotalFreq(m, c, totalFreq(m, c) + 125 - t.freqAt(c, 0));
    setFreq(m, states(m, c), 125);
    const uint32_t halvedFront = (125 + 0) >> 1;
    rescaleContext(m, c);
    EXPECT_EQ(t.freqAt(c, 0), halvedFront + 2);
}

// Long arrays are sorted by counting frequencies, short ones by insertion:
// on both sides of the switch and at the root's 256 states the order is the
// stable one by falling frequency (equal frequencies keep their order), and
// the high-symbol flag is recomputed.
TEST(Rescale, ArraysKeepTheStableOrderByFallingFrequency) {
    for (uint32_t n : {32u, 33u, 256u}) {
        TestModel t;
        Model& m = t.m;
        std::vector<std::pair<uint32_t, uint32_t>> st;
        uint32_t total = 10;
        for (uint32_t i = 0; i < n; ++i) {
            st.push_back({(i * 7) & 255, i == n / 2 ? 125 : (i * 37) % 60 + 1});
            total += st.back().second;
        }
        const Ref c = t.makeContext(st, total, m.currentContext);
        m.orderDeficit = 1;  // halving rounds up: no state drops out
        m.codedState = states(m, c) + n / 2 * kStateBytes;
        rescaleContext(m, c);

        std::vector<std::pair<uint32_t, uint32_t>> expected{st[n / 2]};
        for (uint32_t i = 0; i < n; ++i)
            if (i != n / 2) expected.push_back(st[i]);
        for (auto& state : expected) state.second = (state.second + 1) / 2;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
        ASSERT_EQ(lastIndex(m, c), n - 1);
        EXPECT_EQ(t.symbolAt(c, 0), expected[0].first) << n;  // its frequency is raised after the sort
        for (uint32_t i = 1; i < n; ++i) {
            ASSERT_EQ(t.symbolAt(c, i), expected[i].first) << "n " << n << " i " << i;
            ASSERT_EQ(t.freqAt(c, i), expected[i].second) << "n " << n << " i " << i;
        }
        EXPECT_EQ(flags(m, c) & 0x08, 0x08u);
    }
}

// The search looks at eight states a step on long arrays: every position,
// on both sides of a block's edge and in the tail, is found, and a byte equal
// to the symbol in a frequency or successor field is never taken for it.
TEST(FindState, FindsEveryPositionOnlyAtSymbolBytesAndReportsAbsence) {
    for (uint32_t n : {2u, 7u, 8u, 9u, 15u, 16u, 17u, 41u, 256u}) {
        TestModel t;
        std::vector<std::pair<uint32_t, uint32_t>> st;
        for (uint32_t i = 0; i < n; ++i) st.push_back({(i * 37 + 5) & 255, 1});
        const Ref c = t.makeContext(st, 2 * n, kNone);
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t sym = st[i].first;
            // Every other field before the state carries the symbol's value.
            for (uint32_t j = 0; j < i; ++j) {
                const Ref s = states(t.m, c) + j * kStateBytes;
                setFreq(t.m, s, sym);
                setSuccessor(t.m, s, sym * 0x01010101u);
            }
            ASSERT_EQ(findState(t.m, c, sym), states(t.m, c) + i * kStateBytes) << "n " << n << " i " << i;
            ASSERT_EQ(findSymbol(at(t.m, states(t.m, c)), n, sym), i);
        }
        // A symbol the array does not hold, while every byte after each
        // symbol carries its value: the search reports the array's length.
        if (n < 256) {
            const uint32_t absent = (n * 37 + 5) & 255;
            for (uint32_t j = 0; j < n; ++j) {
                const Ref s = states(t.m, c) + j * kStateBytes;
                setFreq(t.m, s, absent);
                setSuccessor(t.m, s, absent * 0x01010101u);
            }
            ASSERT_EQ(findSymbol(at(t.m, states(t.m, c)), n, absent), n) << "n " << n;
        }
    }
}

// s0 = 80, cf = 19, total 30: X = 665, sf = 110, X > 550 and X > 660: f = 7.
// s0 = 295, cf = 4, total 20: X = 100, sf = 315, 2X <= sf: f = 1, total + 4.
TEST(NewSymbol, FrequenciesOfANewAndOfAPromotedState) {
    uint32_t total = 30;
    EXPECT_EQ(newSymbolFreq(80, 19, total), 7u);
    EXPECT_EQ(total, 37u);
    total = 20;
    EXPECT_EQ(newSymbolFreq(295, 4, total), 1u);
    EXPECT_EQ(total, 24u);
    EXPECT_EQ(promotedFreq(42), 109u);
    EXPECT_EQ(promotedFreq(41), 81u);
    EXPECT_EQ(promotedFreq(1), 1u);
}

// The suffix update moves a state ahead of an equal predecessor.
TEST(ModelUpdate, SuffixStateOvertakesEqualPredecessor) {
    TestModel t;
    Model& m = t.m;
    const Ref root = m.currentContext;
    const Ref s = t.makeContext({{'x', 5}, {'k', 5}}, 20, root);
    const Ref c = t.makeContext({{'k', 1}}, 0, s);
    m.currentContext = c;
    m.foundContext = c;
    m.codedState = inlineState(c);
    m.orderDeficit = 1;
    updateAfterSymbol(m);
    EXPECT_EQ(t.symbolAt(s, 0), uint32_t('k'));
    EXPECT_EQ(t.freqAt(s, 0), 8u);  // +3 because the found freq is below 28
    EXPECT_EQ(totalFreq(m, s), 23u);
    EXPECT_EQ(m.restarts, 0u);
}

TEST(ModelUpdate, FirstByteStaysInTheRoot) {
    TestModel t;
    Model& m = t.m;
    const Ref root = m.currentContext;
    m.foundContext = root;
    m.codedState = states(m, root) + 'a' * kStateBytes;
    updateAfterSymbol(m);
    EXPECT_EQ(m.currentContext, root);
    EXPECT_EQ(m.orderDeficit, 8);
    EXPECT_EQ(successor(m, states(m, root) + 'a' * kStateBytes), 1u);  // just after the byte
    EXPECT_EQ(t.arena[0], 'a');
    EXPECT_EQ(m.alloc.textTop, 1u);
}

TEST(ModelUpdate, FullRawTextRestartsTheModel) {
    TestModel t;
    Model& m = t.m;
    const Ref root = m.currentContext;
    m.alloc.textTop = m.alloc.unitAreaStart - 1;
    m.foundContext = root;
    m.codedState = states(m, root) + 'a' * kStateBytes;
    int told = 0;
    m.restartObserver = RestartObserver{[](void* owner) { ++*static_cast<int*>(owner); }, &told};
    updateAfterSymbol(m);
    EXPECT_EQ(m.restarts, 1u);
    EXPECT_EQ(told, 1);
    EXPECT_EQ(m.alloc.textTop, 0u);
}

}  // namespace
}  // namespace qex
