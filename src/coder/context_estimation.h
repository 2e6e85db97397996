// Choosing the estimator of a context, shared by encoding and decoding: the
// binaryProbs cell of a one-symbol context, and the secondary escape
// estimation cell of a masked context with its escape frequency.
#pragma once

#include "model/estimation_tables.h"
#include "model/context_tree.h"

namespace qex {

inline constexpr uint32_t kBinaryHitGain = 128;
inline constexpr uint32_t kBinaryFreqLimit = 196;
inline constexpr uint32_t kFoundGain = 4;
inline constexpr uint32_t kRescaleAbove = 124;
inline constexpr uint32_t kAllSymbolsLastIndex = 255;

// The cell of a one-symbol context. The column's terms never overlap: bit 0
// last-was-hit, bits 1-2 the suffix's size class, bits 3-4 the flags, bit 5
// the sign of the hit run.
inline uint16_t& binaryCell(Model& m, Ref c) {
    const ArenaView ar(m);
    const uint32_t row = classOfCount(freq(ar, inlineState(c)) - 1);
    const uint32_t column = flags(ar, c) + uint32_t(m.est.lastWasHit) +
                            binColumnOfLastIndex(lastIndex(ar, suffix(ar, c))) + (m.est.hitRun < 0 ? 32 : 0);
    return m.est.binaryProbs[row][column];
}

// Takes p from the cell and lowers it ahead of the outcome.
inline uint32_t takeBinaryProbability(Model& m, uint16_t& cell) {
    const uint32_t p = cell;
    m.est.lastBinaryProbability = int32_t(p);
    cell = uint16_t(p - ((p + 64) >> 7));
    return p;
}

// After a hit in a one-symbol context.
inline void binaryHit(Model& m, uint16_t& cell, Ref s) {
    const ArenaView ar(m);
    cell = uint16_t(cell + kBinaryHitGain);
    if (freq(ar, s) < kBinaryFreqLimit) setFreq(ar, s, freq(ar, s) + 1);
    ++m.est.hitRun;
    m.est.lastWasHit = 1;
    m.codedState = s;
}

// After a miss: the one symbol is masked.
inline void binaryMiss(Model& m, Ref s) {
    const ArenaView ar(m);
    m.est.symbolMask[symbol(ar, s)] = kMasked;
    m.est.maskedLastIndex = 0;
    m.est.lastWasHit = 0;
    m.codedState = kNone;
}

// The escape cell of masked context c and its escape frequency.
inline SeeContext& seeCell(Model& m, Ref c, uint32_t& esc) {
    const ArenaView ar(m);
    const uint32_t li = lastIndex(ar, c);
    if (li == kAllSymbolsLastIndex) {
        esc = 1;
        return m.est.spareSeeContext;
    }
    const uint32_t row = classOfCount(li + 3) - 4;
    const uint32_t column = flags(ar, c) + (totalFreq(ar, c) > 10 * (li + 1) ? 1 : 0) +
                            (2 * li < lastIndex(ar, suffix(ar, c)) + uint32_t(m.est.maskedLastIndex) ? 2 : 0);
    SeeContext& cell = m.est.seeContexts[row][column];
    esc = (uint32_t(cell.escapeSum) >> cell.scaleShift) + 1;
    return cell;
}

// Raises a found state by the common gain and rescales its context when it
// outgrows the limit; codedState names the state's final place.
inline void raiseFound(Model& m, Ref c, Ref s) {
    const ArenaView ar(m);
    setFreq(ar, s, freq(ar, s) + kFoundGain);
    setTotalFreq(ar, c, totalFreq(ar, c) + kFoundGain);
    m.codedState = s;
    if (freq(ar, s) > kRescaleAbove) rescaleContext(m, c);
}

// The symbol was found at state s of the first context c: it moves up one
// place when its raised frequency is strictly greater than its
// predecessor's, and is raised (and c rescaled) where it lands.
inline void foundInFirstContext(Model& m, Ref c, Ref s) {
    const ArenaView ar(m);
    Ref found = s;
    if (s != states(ar, c) && freq(ar, s) + kFoundGain > freq(ar, s - kStateBytes)) {
        swapStates(ar, s, s - kStateBytes);
        found = s - kStateBytes;
    }
    raiseFound(m, c, found);
    m.foundContext = c;
}

// The first context c escaped: every symbol it holds is masked.
inline void escapedFirstContext(Model& m, Ref c) {
    const ArenaView ar(m);
    const Ref first = states(ar, c);
    const Ref end = first + (lastIndex(ar, c) + 1) * kStateBytes;
    for (Ref s = first; s != end; s += kStateBytes) m.est.symbolMask[symbol(ar, s)] = kMasked;
    m.est.maskedLastIndex = int32_t(lastIndex(ar, c));
    m.codedState = kNone;
}

// After an escape: moves c down the suffix links to the next context that
// still holds unmasked symbols, each step counting in orderDeficit. False
// once the root has been escaped, which is the end symbol.
inline bool nextShorterContext(Model& m, Ref& c) {
    const ArenaView ar(m);
    for (;;) {
        const Ref shorter = suffix(ar, c);
        if (shorter == kNone) return false;
        c = shorter;
        ++m.orderDeficit;
        QEX_ASSERT(m.orderDeficit <= kOrderLimit);
        if (int32_t(lastIndex(ar, c)) != m.est.maskedLastIndex) return true;
    }
}

// A masked context escaped: all its symbols are masked now, and the cell
// learns the unmasked total it gave away.
inline void escapedMaskedContext(Model& m, Ref c, SeeContext& cell, uint32_t sum) {
    const ArenaView ar(m);
    m.est.maskedLastIndex = int32_t(lastIndex(ar, c));
    cell.escapeSum = uint16_t(cell.escapeSum + sum);
}

// The symbol was found in masked context c with escape estimate esc: the
// cell, the state and the run are updated, and every symbol is unmasked.
inline void foundInMaskedContext(Model& m, Ref c, SeeContext& cell, uint32_t esc, Ref found) {
    updateSeeContext(cell, esc);
    raiseFound(m, c, found);
    m.est.hitRun = m.est.hitRunStart;
    m.est.symbolMask.fill(kUnmasked);
    m.foundContext = c;
}

// The unmasked frequencies of a masked context, summed eight states a block,
// with the running sum kept at each full block's end so that the walk to the
// decoded count can skip whole blocks.
inline constexpr uint32_t kBlockStates = 8;
inline constexpr uint32_t kMaxBlocks = 256 / kBlockStates;

struct MaskedSums {
    uint32_t blockEnd[kMaxBlocks];
    uint32_t blocks;
    uint32_t total;
};

// Branch-free over the mask: which symbols are masked is as good as random.
inline void sumUnmaskedBlocks(const EstimationState& est, const uint8_t* s, uint32_t states, MaskedSums& sums) {
    uint32_t total = 0;
    uint32_t b = 0;
    for (; states >= kBlockStates; states -= kBlockStates, s += kBlockStates * kStateBytes) {
        for (uint32_t i = 0; i < kBlockStates; ++i) total += s[i * kStateBytes + 1] & est.symbolMask[s[i * kStateBytes]];
        sums.blockEnd[b++] = total;
    }
    for (uint32_t i = 0; i < states; ++i) total += s[i * kStateBytes + 1] & est.symbolMask[s[i * kStateBytes]];
    sums.blocks = b;
    sums.total = total;
}

// The unmasked frequencies of `count` states from s; with kMark, every symbol
// passed is masked too. Branch-free over the mask, and re-masking a masked
// symbol changes nothing.
template <bool kMark>
inline uint32_t sumUnmasked(EstimationState& est, const uint8_t* s, uint32_t count) {
    uint32_t sum = 0;
    auto add = [&est, &sum](const uint8_t* state) {
        sum += state[1] & est.symbolMask[state[0]];
        if constexpr (kMark) est.symbolMask[state[0]] = kMasked;
    };
    for (; count >= kBlockStates; count -= kBlockStates, s += kBlockStates * kStateBytes) {
        for (uint32_t i = 0; i < kBlockStates; ++i) add(s + i * kStateBytes);
    }
    for (uint32_t i = 0; i < count; ++i) add(s + i * kStateBytes);
    return sum;
}

// Masks every symbol of the states from s to stop.
inline void maskAll(EstimationState& est, const uint8_t* s, const uint8_t* stop) {
    for (; s != stop; s += kStateBytes) est.symbolMask[s[0]] = kMasked;
}

}  // namespace qex
