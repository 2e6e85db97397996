// Decoding one symbol: the exact mirror of encoding. Where the encoder names
// the interval of a known symbol, the decoder asks the range decoder which
// interval the stream value falls into. A count at or past the sum of the
// frequencies walked is an escape, so a damaged stream still ends every
// symbol (at the latest by escaping the root, which reads as the end).
#include "coder/context_estimation.h"
#include "coder/symbol_coding.h"

namespace qex {

namespace {

// First context with two or more symbols, nothing masked. False: escaped.
bool decodeInFirstContext(Model& m, RangeDecoder& dec, Ref c) {
    const ArenaView ar(m);
    m.est.lastWasHit = 0;
    const uint32_t total = totalFreq(ar, c);
    const uint32_t count = getCount(dec, total);
    const Ref first = states(ar, c);
    const Ref end = first + (lastIndex(ar, c) + 1) * kStateBytes;
    uint32_t cum = 0;
    for (Ref s = first; s != end; s += kStateBytes) {
        const uint32_t f = freq(ar, s);
        if (count < cum + f) {
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

int decodeSymbol(Model& m, RangeDecoder& dec) {
    const ArenaView ar(m);
    Ref c = m.currentContext;
    prefetchSuffixStates(ar, c);
    if (lastIndex(ar, c) == 0) {
        const Ref s = inlineState(c);
        uint16_t& cell = binaryCell(m, c);
        const uint32_t p = takeBinaryProbability(m, cell);
        if (decodeBinary(dec, p)) {
            binaryHit(m, cell, s);
            m.foundContext = c;
            return int(symbol(ar, s));
        }
        binaryMiss(m, s);
    } else if (decodeInFirstContext(m, dec, c)) {
        return int(symbol(ar, m.codedState));
    }

    EstimationState& est = m.est;
    // Positions of the states unmasked when the context was entered.
    Ref listed[256];
    while (nextShorterContext(m, c)) {
        uint32_t esc;
        SeeContext& cell = seeCell(m, c, esc);
        const Ref first = states(ar, c);
        const Ref end = first + (lastIndex(ar, c) + 1) * kStateBytes;
        uint32_t sum = 0;
        int n = 0;
        // Branch-free over the mask, as in the encoder: every state is written
        // to the list, and the list only advances past unmasked ones.
        const uint32_t stamp = est.maskStamp;
        for (Ref s = first; s != end; s += kStateBytes) {
            const uint8_t* st = at(ar, s);
            const uint32_t unmasked = est.symbolMask[st[0]] != stamp;
            est.symbolMask[st[0]] = stamp;
            sum += st[1] & (0u - unmasked);
            listed[n] = s;
            n += int(unmasked);
        }
        const uint32_t count = getCount(dec, sum + esc);
        if (count >= sum) {
            escapedMaskedContext(m, c, cell, sum);
            consume(dec, sum, esc);
            continue;
        }
        int i = 0;
        uint32_t hi = freq(ar, listed[0]);
        while (count >= hi) hi += freq(ar, listed[++i]);
        const Ref found = listed[i];
        const uint32_t f = freq(ar, found);
        const int sym = int(symbol(ar, found));
        foundInMaskedContext(m, c, cell, esc, found);
        consume(dec, hi - f, f);
        return sym;
    }
    return kEndSymbol;
}

}  // namespace qex
