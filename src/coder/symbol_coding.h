// Coding one symbol with the model: a byte 0..255, or the end symbol -1.
//
// Both directions walk the same contexts in the same order, compute the same
// probabilities, escape estimates and masks, and apply the same adaptive
// updates in the same places. After a byte, `codedState` and `foundContext`
// name where it was found, and the caller runs `updateAfterSymbol`.
//
// The commonest step, a one-symbol context, is inline in the coder loops
// (no call, no register saves for most bytes of redundant input); the rest
// is out of line.
#pragma once

#include "coder/context_estimation.h"
#include "coder/range_coder.h"
#include "model/context_tree.h"

namespace qex {

inline constexpr int kEndSymbol = -1;

// Out of line: coding that starts in a context of two or more symbols, and
// the escapes to the contexts shorter than c once c has been escaped.
bool encodeInManySymbolContext(Model& m, RangeEncoder& enc, int sym);
bool encodeInShorterContexts(Model& m, RangeEncoder& enc, Ref c, int sym);
int decodeInManySymbolContext(Model& m, RangeDecoder& dec);
int decodeInShorterContexts(Model& m, RangeDecoder& dec, Ref c);

// Returns false when the symbol was the end symbol (it escaped the root).
inline bool encodeSymbol(Model& m, RangeEncoder& enc, int sym) {
    const ArenaView ar(m);
    const Ref c = m.currentContext;
    prefetchSuffixStates(ar, c);
    if (lastIndex(ar, c) != 0) return encodeInManySymbolContext(m, enc, sym);
    const Ref s = inlineState(c);
    prefetchSuccessor(ar, s);  // most one-symbol contexts are hits
    uint16_t& cell = binaryCell(m, c);
    const uint32_t p = takeBinaryProbability(m, cell);
    const bool hit = int(symbol(ar, s)) == sym;
    encodeBinary(enc, p, hit);
    if (hit) {
        binaryHit(m, cell, s);
        m.foundContext = c;
        return true;
    }
    binaryMiss(m, s);
    return encodeInShorterContexts(m, enc, c, sym);
}

// Returns the decoded byte, or kEndSymbol.
inline int decodeSymbol(Model& m, RangeDecoder& dec) {
    const ArenaView ar(m);
    const Ref c = m.currentContext;
    prefetchSuffixStates(ar, c);
    if (lastIndex(ar, c) != 0) return decodeInManySymbolContext(m, dec);
    const Ref s = inlineState(c);
    prefetchSuccessor(ar, s);  // most one-symbol contexts are hits
    uint16_t& cell = binaryCell(m, c);
    const uint32_t p = takeBinaryProbability(m, cell);
    if (decodeBinary(dec, p)) {
        binaryHit(m, cell, s);
        m.foundContext = c;
        return int(symbol(ar, s));
    }
    binaryMiss(m, s);
    return decodeInShorterContexts(m, dec, c);
}

}  // namespace qex
