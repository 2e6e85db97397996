// Unit allocator: the gap, the slow path with its merge countdown, trimming,
// merging, bottom allocation, and a randomised no-overlap check.
#include "model/unit_allocator.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace qex {
namespace {

// A small arena in plain memory: 96 units' worth per 1,152 bytes.
struct Arena {
    std::vector<uint8_t> bytes;
    UnitAllocator a;
    explicit Arena(uint32_t size) : bytes(size, 0) { resetAllocator(a, bytes.data(), size); }
};

TEST(UnitAllocator, ClassTablesFollowTheSizeRules) {
    EXPECT_EQ(classUnits(0), 1u);
    EXPECT_EQ(classUnits(11), 24u);
    EXPECT_EQ(classUnits(12), 28u);
    EXPECT_EQ(classUnits(37), 128u);
    EXPECT_EQ(classOfUnits(5), 4);     // 5 units -> class of 6
    EXPECT_EQ(classOfUnits(13), 8);    // 13 -> 15
    EXPECT_EQ(classOfUnits(127), 37);  // 127 -> 128
    EXPECT_EQ(classOfUnits(128), 37);
    EXPECT_EQ(classOfUnits(1), 0);
}

TEST(UnitAllocator, StartValuesSplitTheArenaSevenToOne) {
    Arena ar(134217728u / 64);  // 2 MiB
    EXPECT_EQ(ar.a.gapHigh, 134217728u / 64);
    EXPECT_EQ(ar.a.unitAreaStart, 262172u);  // 1,834,980 bytes of units above
    EXPECT_EQ(ar.a.gapLow, ar.a.unitAreaStart);
    EXPECT_EQ(ar.a.textTop, 0u);
    // For the real 128 MiB arena (the start reads no arena byte, so none is
    // needed): 84 * (134217728 / 96) = 117,440,484 bytes, 9,786,707 units,
    // and the 16,777,244 bytes below them hold the raw text.
    UnitAllocator full;
    resetAllocator(full, nullptr, 134217728u);
    EXPECT_EQ(full.gapHigh - full.unitAreaStart, 117440484u);
    EXPECT_EQ(full.unitAreaStart, 16777244u);
}

TEST(UnitAllocator, ContextsComeFromTheTopAndArraysFromTheBottomUntilTheyMeet) {
    Arena ar(9600);
    UnitAllocator& a = ar.a;
    const Ref start = a.unitAreaStart;
    EXPECT_EQ(takeContext(a), 9600u - 12);
    EXPECT_EQ(takeUnits(a, 1), start);  // 2 units
    EXPECT_EQ(a.gapLow, start + 24);
    // Fill until exactly one 2-unit block is left in the gap.
    while (a.gapHigh - a.gapLow > 24) takeContext(a);
    ASSERT_EQ(a.gapHigh - a.gapLow, 24u);
    EXPECT_NE(takeUnits(a, 1), kNone);  // makes them exactly equal: succeeds
    EXPECT_EQ(a.gapLow, a.gapHigh);
    // Now the gap is used up: the next request goes to the slow path, which
    // runs its first merge pass and serves the request from the bottom.
    const Ref bottom = a.unitAreaStart;
    EXPECT_EQ(takeUnits(a, 0), bottom - 12);
    EXPECT_EQ(a.mergePasses, 1u);
    EXPECT_EQ(a.mergeCountdown, 8192u - 1);
}

TEST(UnitAllocator, RequestPastTheGapFallsThroughToTheSlowPath) {
    Arena ar(9600);
    UnitAllocator& a = ar.a;
    while (a.gapHigh - a.gapLow > 12) takeContext(a);
    const Ref gapLow = a.gapLow;
    const Ref got = takeUnits(a, 1);  // 2 units do not fit in the 1 left
    EXPECT_EQ(a.gapLow, gapLow);
    EXPECT_LT(got, gapLow);  // from below the unit area
}

TEST(UnitAllocator, SixUnitBlockTrimmedForClassZeroFreesFourAndOne) {
    Arena ar(9600);
    UnitAllocator& a = ar.a;
    const Ref block = takeUnits(a, 4);  // 6 units
    while (a.gapHigh != a.gapLow) takeContext(a);
    pushFree(a, block, 4);
    EXPECT_EQ(takeContext(a), block);  // class 0 from the 6-unit block
    EXPECT_EQ(a.freeLists[3].count, 1u);
    EXPECT_EQ(a.freeLists[3].head, block + 12);
    EXPECT_EQ(a.freeLists[0].count, 1u);
    EXPECT_EQ(a.freeLists[0].head, block + 60);
}

TEST(UnitAllocator, MergePassJoinsNeighboursAcrossClasses) {
    Arena ar(96000);
    UnitAllocator& a = ar.a;
    // 2 + 4 adjacent units become one 6-unit block in class 4.
    const Ref two = takeUnits(a, 1);
    const Ref four = takeUnits(a, 3);
    ASSERT_EQ(four, two + 24);
    takeUnits(a, 0);  // a unit in use keeps the next run apart
    // 3 adjacent blocks of 1 + 2 + 4 = 7 units become 6 + 1.
    const Ref b1 = takeUnits(a, 0);
    const Ref b2 = takeUnits(a, 1);
    const Ref b4 = takeUnits(a, 3);
    ASSERT_EQ(b2, b1 + 12);
    ASSERT_EQ(b4, b2 + 24);
    takeUnits(a, 0);
    pushFree(a, two, 1);
    pushFree(a, four, 3);
    pushFree(a, b1, 0);
    pushFree(a, b2, 1);
    pushFree(a, b4, 3);
    mergeFreeBlocks(a);
    EXPECT_EQ(a.freeLists[4].count, 2u);  // the 6-unit run and the 6 of the 7
    EXPECT_EQ(a.freeLists[0].count, 1u);  // the last unit of the 7
    EXPECT_EQ(a.freeLists[0].head, b1 + 72);
    EXPECT_EQ(a.freeLists[1].count + a.freeLists[3].count, 0u);
}

TEST(UnitAllocator, MergedRunOf300UnitsIsFiledAs128And128And44) {
    Arena ar(96000);
    UnitAllocator& a = ar.a;
    std::vector<Ref> blocks;
    for (int i = 0; i < 75; ++i) blocks.push_back(takeUnits(a, 3));  // 75 x 4 = 300 units
    takeUnits(a, 0);
    for (Ref b : blocks) pushFree(a, b, 3);
    mergeFreeBlocks(a);
    EXPECT_EQ(a.freeLists[37].count, 2u);
    EXPECT_EQ(a.freeLists[classOfUnits(44)].count, 1u);
    EXPECT_EQ(classUnits(classOfUnits(44)), 44u);
    EXPECT_EQ(a.freeLists[3].count, 0u);
}

TEST(UnitAllocator, BottomAllocationNeedsStrictlyMoreThanItTakes) {
    Arena ar(9600);
    UnitAllocator& a = ar.a;
    while (a.gapHigh != a.gapLow) takeContext(a);
    a.mergeCountdown = 100;  // the merge pass is not due
    a.textTop = a.unitAreaStart - 12;
    EXPECT_EQ(takeContext(a), kNone);
    a.textTop = a.unitAreaStart - 13;
    const Ref got = takeContext(a);  // the call moves unitAreaStart
    EXPECT_EQ(got, a.unitAreaStart);
}

TEST(UnitAllocator, MergeNeverReadsPastTheArenaEnd) {
    // The last free block ends at the arena's last byte; the vector's bound
    // check (and the sanitizers) catch a read past it.
    Arena ar(9600);
    UnitAllocator& a = ar.a;
    const Ref top = takeContext(a);
    ASSERT_EQ(top + 12, 9600u);
    pushFree(a, top, 0);
    mergeFreeBlocks(a);
    EXPECT_EQ(a.freeLists[0].count, 1u);
}

TEST(UnitAllocator, RandomAllocationsNeverOverlap) {
    constexpr int kSteps = 200000;
    constexpr int kMinSteps = 10000;
    Arena ar(1 << 20);
    UnitAllocator& a = ar.a;
    std::mt19937 rng(7);
    std::map<Ref, uint32_t> live;  // block -> units in use
    auto overlapsNone = [&](Ref b, uint32_t units) {
        auto it = live.upper_bound(b);
        if (it != live.end() && b + units * 12 > it->first) return false;
        if (it != live.begin()) {
            --it;
            if (it->first + it->second * 12 > b) return false;
        }
        return true;
    };
    int step = 0;
    for (; step < kSteps; ++step) {
        const uint32_t op = rng() % 10;
        if (op < 4 || live.empty()) {
            const uint32_t units = 1 + rng() % 128;
            const Ref b = op == 0 ? takeContext(a) : takeUnits(a, classOfUnits(units));
            if (b == kNone) break;  // exhausted: fine, stop here
            const uint32_t used = op == 0 ? 1 : units;
            ASSERT_TRUE(overlapsNone(b, classUnits(classOfUnits(used)))) << step;
            ASSERT_GE(b, a.unitAreaStart);
            live[b] = classUnits(classOfUnits(used));
            std::memset(ar.bytes.data() + b, 0x5A, used * 12);  // in use: no stamp
        } else {
            auto it = live.begin();
            std::advance(it, rng() % live.size());
            const Ref b = it->first;
            const uint32_t units = it->second;
            live.erase(it);
            if (op < 6 && units < 128) {
                const Ref g = growStates(a, b, units);
                if (g == kNone) break;
                ASSERT_TRUE(overlapsNone(g, classUnits(classOfUnits(units + 1)))) << step;
                live[g] = classUnits(classOfUnits(units + 1));
            } else if (op < 8 && units > 1) {
                const uint32_t smaller = 1 + rng() % (units - 1);
                const Ref s = shrinkStates(a, b, units, smaller);
                ASSERT_TRUE(overlapsNone(s, smaller)) << step;
                live[s] = smaller;
            } else {
                releaseStates(a, b, units);
            }
        }
        ASSERT_LE(a.textTop, a.unitAreaStart);
        ASSERT_LE(a.gapLow, a.gapHigh);
    }
    // The run ends when the arena is exhausted (about 12,000 steps with this
    // seed); it must have got far enough to fill the gap and merge at least once.
    EXPECT_GE(step, kMinSteps);
    EXPECT_GE(a.mergePasses, 1u);
}

}  // namespace
}  // namespace qex
