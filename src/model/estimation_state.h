// The adaptive state of symbol estimation, owned by the model and reset with
// it: binary-context probabilities, secondary escape estimation cells, the
// symbol mask and the run counters.
#pragma once

#include <array>
#include <cstdint>

namespace qex {

// One secondary escape estimation cell; the estimate is escapeSum >> scaleShift.
struct SeeContext {
    uint16_t escapeSum = 0;
    uint8_t scaleShift = 0;
    uint8_t periodLeft = 0;
};

inline constexpr int kBinaryRows = 25;
inline constexpr int kBinaryColumns = 64;
inline constexpr int kSeeRows = 23;
inline constexpr int kSeeColumns = 32;
inline constexpr uint32_t kBinaryScale = 16384;
inline constexpr uint8_t kUnmasked = 0xFF;
inline constexpr uint8_t kMasked = 0x00;

// Zero until the model's start (initEstimationTables) sets the start values.
struct EstimationState {
    uint16_t binaryProbs[kBinaryRows][kBinaryColumns] = {};
    SeeContext seeContexts[kSeeRows][kSeeColumns] = {};
    SeeContext spareSeeContext;  // for masked contexts of all 256 symbols; never read
    int32_t lastWasHit = 0;
    int32_t hitRun = 0;
    int32_t hitRunStart = 0;
    int32_t maskedLastIndex = 0;
    // Per symbol, an AND mask on its frequency: kUnmasked while it may still
    // be coded, kMasked once a context holding it has been escaped for the
    // current symbol. Summing `freq & symbolMask[sym]` needs no branch.
    std::array<uint8_t, 256> symbolMask{};
    int32_t lastBinaryProbability = 0;
};

}  // namespace qex
