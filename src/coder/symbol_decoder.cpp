// Decoding one symbol: the exact mirror of encoding. Where the encoder names
// the interval of a known symbol, the decoder asks the range decoder which
// interval the stream value falls into. A count at or past the sum of the
// frequencies walked is an escape, so a damaged stream still ends every
// symbol (at the latest by escaping the root, which reads as the end).
#include "coder/symbol_coding.h"

namespace qex {

namespace {

// The first unmasked state whose cumulative frequency, counted from `begin`
// over unmasked states only, exceeds the decoder's count; hi is that
// cumulative frequency. A masked state adds nothing, so the walk can only
// stop at an unmasked one, and it stops before the end because the count is
// below the unmasked total.
const uint8_t* findUnmaskedByCount(const EstimationState& est, const RangeDecoder& dec, const uint8_t* begin,
                                   const MaskedSums& sums, uint32_t& hi) {
    uint32_t b = 0;
    while (b < sums.blocks && !countBelow(dec, sums.blockEnd[b])) ++b;
    const uint8_t* s = begin + b * kBlockStates * kStateBytes;
    uint32_t cum = b == 0 ? 0 : sums.blockEnd[b - 1];
    for (;; s += kStateBytes) {
        cum += s[1] & est.symbolMask[s[0]];
        if (countBelow(dec, cum)) break;
    }
    hi = cum;
    return s;
}

// First context with two or more symbols, nothing masked. False: escaped.
bool decodeInFirstContext(Model& m, RangeDecoder& dec, Ref c) {
    const ArenaView ar(m);
    m.est.lastWasHit = 0;
    const uint32_t total = totalFreq(ar, c);
    scaleRange(dec, total);
    const Ref first = states(ar, c);
    const Ref end = first + (lastIndex(ar, c) + 1) * kStateBytes;
    uint32_t cum = 0;
    for (Ref s = first; s != end; s += kStateBytes) {
        const uint32_t f = freq(ar, s);
        if (countBelow(dec, cum + f)) {
            prefetchSuccessor(ar, s);
            consume(dec, cum, f);
            foundInFirstContext(m, c, s);
            return true;
        }
        cum += f;
    }
    consume(dec, cum, total - cum);
    escapedFirstContext(m, c);
    return false;
}

}  // namespace

int decodeInManySymbolContext(Model& m, RangeDecoder& dec) {
    const Ref c = m.currentContext;
    if (decodeInFirstContext(m, dec, c)) return int(symbol(m, m.codedState));
    return decodeInShorterContexts(m, dec, c);
}

int decodeInShorterContexts(Model& m, RangeDecoder& dec, Ref c) {
    const ArenaView ar(m);
    EstimationState& est = m.est;
    while (nextShorterContext(m, c)) {
        uint32_t esc;
        SeeContext& cell = seeCell(m, c, esc);
        const Ref first = states(ar, c);
        const uint8_t* const begin = at(ar, first);
        const uint32_t stateCount = lastIndex(ar, c) + 1;
        const uint8_t* const stop = begin + stateCount * kStateBytes;
        MaskedSums sums;
        sumUnmaskedBlocks(est, begin, stateCount, sums);
        const uint32_t sum = sums.total;
        scaleRange(dec, sum + esc);
        if (!countBelow(dec, sum)) {
            // The masks matter only for the contexts after an escape, and
            // none follows the root.
            if (suffix(ar, c) != kNone) maskAll(est, begin, stop);
            escapedMaskedContext(m, c, cell, sum);
            consume(dec, sum, esc);
            continue;
        }
        uint32_t hi = 0;
        const uint8_t* const s = findUnmaskedByCount(est, dec, begin, sums, hi);
        const Ref found = first + uint32_t(s - begin);
        prefetchSuccessor(ar, found);
        const uint32_t f = s[1];
        const int sym = s[0];
        foundInMaskedContext(m, c, cell, esc, found);
        consume(dec, hi - f, f);
        return sym;
    }
    return kEndSymbol;
}

}  // namespace qex
