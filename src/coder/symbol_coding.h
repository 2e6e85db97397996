// Coding one symbol with the model: a byte 0..255, or the end symbol -1.
//
// Both directions walk the same contexts in the same order, compute the same
// probabilities, escape estimates and masks, and apply the same adaptive
// updates in the same places. After a byte, `codedState` and `foundContext`
// name where it was found, and the caller runs `updateAfterSymbol`.
#pragma once

#include "coder/range_coder.h"
#include "model/context_tree.h"

namespace qex {

inline constexpr int kEndSymbol = -1;

// Returns false when the symbol was the end symbol (it escaped the root).
bool encodeSymbol(Model& m, RangeEncoder& enc, int sym);

// Returns the decoded byte, or kEndSymbol.
int decodeSymbol(Model& m, RangeDecoder& dec);

}  // namespace qex
