// Encoding one symbol: a one-symbol context as a binary decision, the first
// context with two or more symbols with its own frequencies, then shorter
// contexts with the symbols already seen masked out and the escape estimated
// by secondary escape estimation. Every interval is computed from the
// frequencies before they are raised.
#include "coder/symbol_coding.h"

namespace qex {

namespace {

// First context with two or more symbols, nothing masked. False: escaped.
bool encodeInFirstContext(Model& m, RangeEncoder& enc, Ref c, int sym) {
    const ArenaView ar(m);
    m.est.lastWasHit = 0;
    const uint32_t total = totalFreq(ar, c);
    const Ref first = states(ar, c);
    const Ref end = first + (lastIndex(ar, c) + 1) * kStateBytes;
    uint32_t cum = 0;
    for (Ref s = first; s != end; s += kStateBytes) {
        const uint32_t f = freq(ar, s);
        if (int(symbol(ar, s)) == sym) {
            prefetchSuccessor(ar, s);
            encode(enc, cum, f, total);
            foundInFirstContext(m, c, s);
            return true;
        }
        cum += f;
    }
    encode(enc, cum, total - cum, total);
    escapedFirstContext(m, c);
    return false;
}

}  // namespace

bool encodeInManySymbolContext(Model& m, RangeEncoder& enc, int sym) {
    const Ref c = m.currentContext;
    return encodeInFirstContext(m, enc, c, sym) || encodeInShorterContexts(m, enc, c, sym);
}

bool encodeInShorterContexts(Model& m, RangeEncoder& enc, Ref c, int sym) {
    // Escape to shorter contexts; escaping the root is the end symbol.
    const ArenaView ar(m);
    EstimationState& est = m.est;
    while (nextShorterContext(m, c)) {
        uint32_t esc;
        SeeContext& cell = seeCell(m, c, esc);
        const Ref first = states(ar, c);
        const uint8_t* const begin = at(ar, first);
        const uint32_t stateCount = lastIndex(ar, c) + 1;
        // The symbol is never masked: a masked symbol belongs to a context
        // already escaped, where it would have been found.
        const uint32_t index = sym == kEndSymbol ? stateCount : findSymbol(begin, stateCount, uint32_t(sym));
        if (index != stateCount) {
            const Ref found = first + index * kStateBytes;
            prefetchSuccessor(ar, found);
            // The find unmasks every symbol, so no mask is written here. The
            // sums before and after the symbol's state give both its interval
            // and the total in one pass over the states.
            const uint32_t hi = sumUnmasked<false>(est, begin, index + 1);
            const uint32_t after = stateCount - index - 1;
            const uint32_t total = hi + sumUnmasked<false>(est, begin + (index + 1) * kStateBytes, after) + esc;
            const uint32_t f = freq(ar, found);
            foundInMaskedContext(m, c, cell, esc, found);
            encode(enc, hi - f, f, total);
            return true;
        }
        // The masks matter only for the contexts after an escape, and none
        // follows the root.
        const uint32_t sum = suffix(ar, c) != kNone ? sumUnmasked<true>(est, begin, stateCount)
                                                    : sumUnmasked<false>(est, begin, stateCount);
        const uint32_t total = sum + esc;
        escapedMaskedContext(m, c, cell, sum);
        encode(enc, sum, esc, total);
    }
    return false;
}

}  // namespace qex
