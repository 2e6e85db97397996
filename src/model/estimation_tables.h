// Constant count tables of symbol estimation, the start values of the
// adaptive estimators, and the update of a secondary escape estimation cell.
#pragma once

#include <array>
#include <cstdint>

#include "model/estimation_state.h"

namespace qex {

struct CountTables {
    // Frequency class of a count: 0..4 map to themselves, then each value v
    // from 5 on repeats v - 4 times (5; 6 6; 7 7 7; ...).
    std::array<uint8_t, 260> classOfCount{};
    // Binary column bits 1-2 from the suffix's lastIndex: 0 | 2 | 4 | 6.
    std::array<uint8_t, 256> binColumnOfLastIndex{};
};

constexpr CountTables buildCountTables() {
    CountTables t;
    int i = 0;
    for (; i < 5; ++i) t.classOfCount[i] = uint8_t(i);
    for (int v = 5; i < 260; ++v)
        for (int r = 0; r < v - 4 && i < 260; ++r) t.classOfCount[i++] = uint8_t(v);
    for (int k = 0; k < 256; ++k)
        t.binColumnOfLastIndex[k] = uint8_t(k == 0 ? 0 : k <= 2 ? 2 : k <= 28 ? 4 : 6);
    return t;
}

inline constexpr CountTables kCountTables = buildCountTables();

inline uint32_t classOfCount(uint32_t count) { return kCountTables.classOfCount[count]; }
inline uint32_t binColumnOfLastIndex(uint32_t li) { return kCountTables.binColumnOfLastIndex[li]; }

// Escape share of a one-symbol context receiving its second symbol, by the
// class of its last binary probability >> 8.
inline constexpr uint8_t kBinaryEscapeShare[16] = {51, 43, 18, 12, 11, 9, 8, 7,
                                                   6,  5,  4,  3,  3,  2, 2, 2};

// Start values of binaryProbs and seeContexts, the mask, and the run counters.
void initEstimationTables(EstimationState& est, int orderLimit);

// The change of a cell after a symbol was found in its masked context.
inline void updateSeeContext(SeeContext& cell, uint32_t esc) {
    if (esc > 2) cell.escapeSum = uint16_t(cell.escapeSum - esc);
    if (--cell.periodLeft > 0) return;
    const uint32_t mean = uint32_t(cell.escapeSum) >> cell.scaleShift;
    const uint32_t target = 7 - (mean >= 41) - (mean > 280) - (mean > 1020);
    if (target < cell.scaleShift) {
        cell.escapeSum = uint16_t(cell.escapeSum >> 1);
        --cell.scaleShift;
    } else if (target > cell.scaleShift) {
        cell.escapeSum = uint16_t(cell.escapeSum << 1);
        ++cell.scaleShift;
    }
    cell.periodLeft = uint8_t(5u << cell.scaleShift);
}

}  // namespace qex
