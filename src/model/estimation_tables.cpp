// Start values of the adaptive estimators.
#include "model/estimation_tables.h"

#include <algorithm>

namespace qex {

namespace {

// Per bit of a binary column: the weight when the bit is 0, and when it is 1.
constexpr int8_t kBinInitWeights[6][2] = {{16, -10}, {1, 51}, {14, 89}, {23, 35}, {64, 26}, {-42, 43}};
constexpr int kMinInitWeight = 32;
constexpr int kMaxInitWeight = 224;

}  // namespace

void initEstimationTables(EstimationState& est, int orderLimit) {
    // d[i]: one more than the number of counts whose class is at most i.
    uint32_t divisor[kBinaryRows];
    for (int row = 0; row < kBinaryRows; ++row) {
        uint32_t n = 0;
        for (uint8_t cls : kCountTables.classOfCount) n += (cls <= row);
        divisor[row] = n + 1;
    }
    for (int col = 0; col < kBinaryColumns; ++col) {
        int w = 0;
        for (int bit = 0; bit < 6; ++bit) w += kBinInitWeights[bit][(col >> bit) & 1];
        w = std::clamp(w, kMinInitWeight, kMaxInitWeight);
        const uint32_t e = uint32_t(w) * 128;
        for (int row = 0; row < kBinaryRows; ++row)
            est.binaryProbs[row][col] = uint16_t(kBinaryScale - e / divisor[row]);
    }
    for (int row = 0; row < kSeeRows; ++row)
        for (SeeContext& cell : est.seeContexts[row]) cell = SeeContext{uint16_t(64 * row + 40), 3, 7};
    est.spareSeeContext = SeeContext{40, 3, 7};
    est.symbolMask.fill(kUnmasked);
    est.hitRunStart = est.hitRun = -std::min(orderLimit, 13);
    est.lastWasHit = 0;
}

}  // namespace qex
