// Count tables, start values of the estimators and the secondary escape
// estimation update: the model's statistics.
#include "model/estimation_tables.h"

#include <gtest/gtest.h>

namespace qex {
namespace {

TEST(CountTables, ClassesRepeatEachValueFourLessTimes) {
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(classOfCount(i), i);
    EXPECT_EQ(classOfCount(5), 5u);
    EXPECT_EQ(classOfCount(6), 6u);
    EXPECT_EQ(classOfCount(7), 6u);
    EXPECT_EQ(classOfCount(8), 7u);
    EXPECT_EQ(classOfCount(10), 7u);
    EXPECT_EQ(classOfCount(11), 8u);
    EXPECT_EQ(classOfCount(195), 24u);
    EXPECT_EQ(classOfCount(257), 26u);
    EXPECT_EQ(classOfCount(258), 27u);
    EXPECT_EQ(classOfCount(259), 27u);
    // A one-symbol frequency of 196 uses row 24.
    EXPECT_EQ(classOfCount(196 - 1), 24u);
}

TEST(CountTables, BinaryColumnsBySuffixSize) {
    EXPECT_EQ(binColumnOfLastIndex(0), 0u);
    EXPECT_EQ(binColumnOfLastIndex(1), 2u);
    EXPECT_EQ(binColumnOfLastIndex(2), 2u);
    EXPECT_EQ(binColumnOfLastIndex(3), 4u);
    EXPECT_EQ(binColumnOfLastIndex(28), 4u);
    EXPECT_EQ(binColumnOfLastIndex(29), 6u);
    EXPECT_EQ(binColumnOfLastIndex(255), 6u);
}

TEST(EstimationStart, BinaryProbabilitiesFromWeights) {
    EstimationState est{};
    initEstimationTables(est, 8);
    // Column 0: w = 16 + 1 + 14 + 23 + 64 - 42 = 76, e = 9728.
    EXPECT_EQ(est.binaryProbs[0][0], 11520);  // 16384 - 9728 / 2
    EXPECT_EQ(est.binaryProbs[24][0], 16339);
    // Columns 17 and 25 sum to 12 and 24 and clamp to 32: 16384 - 4096 / 2.
    EXPECT_EQ(est.binaryProbs[0][17], 14336);
    EXPECT_EQ(est.binaryProbs[0][25], 14336);
    // These columns sum above 224 and clamp to it: 16384 - 28672 / 2.
    for (int col : {36, 38, 39, 44, 46, 47, 54, 62, 63}) EXPECT_EQ(est.binaryProbs[0][col], 2048) << col;
    EXPECT_EQ(est.seeContexts[0][0].escapeSum, 40);
    EXPECT_EQ(est.seeContexts[22][31].escapeSum, 64 * 22 + 40);
    EXPECT_EQ(est.seeContexts[5][3].scaleShift, 3);
    EXPECT_EQ(est.seeContexts[5][3].periodLeft, 7);
}

TEST(SeeUpdate, PeriodEndKeepsOrMovesTheScale) {
    // scaleShift 5, mean 500: target 6 - 1 = 5 (500 > 280), unchanged; period 160.
    SeeContext a{uint16_t(500 << 5), 5, 1};
    updateSeeContext(a, 1);
    EXPECT_EQ(a.scaleShift, 5);
    EXPECT_EQ(a.escapeSum, 500 << 5);
    EXPECT_EQ(a.periodLeft, 160);
    // scaleShift 3, mean 20: target 7, so one step up, the sum doubles; period 80.
    SeeContext b{20 << 3, 3, 1};
    updateSeeContext(b, 1);
    EXPECT_EQ(b.scaleShift, 4);
    EXPECT_EQ(b.escapeSum, 20 << 4);
    EXPECT_EQ(b.periodLeft, 80);
}

TEST(SeeUpdate, SmallEstimatesAreNotSubtracted) {
    SeeContext c{1000, 3, 9};
    updateSeeContext(c, 2);
    EXPECT_EQ(c.escapeSum, 1000);
    EXPECT_EQ(c.periodLeft, 8);
    updateSeeContext(c, 3);
    EXPECT_EQ(c.escapeSum, 997);
}

}  // namespace
}  // namespace qex
