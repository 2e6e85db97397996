// The unit allocator: carves the model's arena into 12-byte units and hands
// out blocks of whole units in 38 size classes.
//
// Arena regions, from low to high offsets:
//   [0, textTop)               raw text of the input, growing upward
//   [textTop, unitAreaStart)   free; units taken "from the bottom" move
//                              unitAreaStart down toward the text
//   [unitAreaStart, gapLow)    state arrays handed out upward
//   [gapLow, gapHigh)          untouched gap
//   [gapHigh, arenaSize)       contexts handed out downward
// Free blocks carry a header (stamp 0xFFFFFFFF, next, unit count) in their
// first unit; no record in use starts with the stamp. Every decision here
// (which block, when to merge, when memory is exhausted) decides the bytes of
// the compressed stream, so the rules are followed to the letter.
#pragma once

#include <array>
#include <cstdint>

#include "base/invariants.h"
#include "model/arena_refs.h"

namespace qex {

inline constexpr uint32_t kUnitBytes = 12;
inline constexpr int kClassCount = 38;
inline constexpr int kMaxClassUnits = 128;
inline constexpr uint32_t kFreeStamp = 0xFFFFFFFF;

struct ClassTables {
    std::array<uint8_t, kClassCount> classUnits{};       // units per class
    std::array<uint8_t, kMaxClassUnits> classOfUnits{};  // [n-1]: smallest class of >= n units
};

constexpr ClassTables buildClassTables() {
    ClassTables t;
    constexpr uint8_t small[12] = {1, 2, 3, 4, 6, 8, 10, 12, 15, 18, 21, 24};
    for (int i = 0; i < 12; ++i) t.classUnits[i] = small[i];
    for (int i = 12; i < kClassCount; ++i) t.classUnits[i] = uint8_t(28 + 4 * (i - 12));
    int cls = 0;
    for (int k = 0; k < kMaxClassUnits; ++k) {
        if (t.classUnits[cls] <= k) ++cls;
        t.classOfUnits[k] = uint8_t(cls);
    }
    return t;
}

inline constexpr ClassTables kClassTables = buildClassTables();
static_assert(kClassTables.classUnits[kClassCount - 1] == kMaxClassUnits, "the largest class holds 128 units");

inline constexpr uint32_t classUnits(int index) {
    QEX_ASSERT(index >= 0 && index < kClassCount);
    return kClassTables.classUnits[index];
}
inline constexpr int classOfUnits(uint32_t units) {
    QEX_ASSERT(units >= 1 && units <= kMaxClassUnits);
    return kClassTables.classOfUnits[units - 1];
}
inline constexpr uint32_t unitBytes(uint32_t units) { return units * kUnitBytes; }

struct FreeList {
    uint32_t count = 0;
    Ref head = kNone;
};

struct UnitAllocator {
    uint8_t* arenaBase = nullptr;
    uint32_t arenaSize = 0;
    Ref textTop = 0;
    Ref unitAreaStart = 0;
    Ref gapLow = 0;
    Ref gapHigh = 0;
    std::array<FreeList, kClassCount> freeLists{};
    uint32_t mergePasses = 0;
    uint32_t mergeCountdown = 0;
};

// Sets every field to its start value over the given arena (start and restart).
void resetAllocator(UnitAllocator& a, uint8_t* arenaBase, uint32_t arenaSize);

void pushFree(UnitAllocator& a, Ref block, int index);
Ref popFree(UnitAllocator& a, int index);
void trimBlock(UnitAllocator& a, Ref block, int oldIndex, int newIndex);
Ref takeUnitsSlow(UnitAllocator& a, int index);
Ref growStates(UnitAllocator& a, Ref block, uint32_t oldUnits);
Ref shrinkStates(UnitAllocator& a, Ref block, uint32_t oldUnits, uint32_t newUnits);
void mergeFreeBlocks(UnitAllocator& a);

inline void releaseStates(UnitAllocator& a, Ref block, uint32_t units) {
    pushFree(a, block, classOfUnits(units));
}

// One unit for a context: from the top of the gap, else a free unit, else the slow path.
inline Ref takeContext(UnitAllocator& a) {
    if (a.gapHigh != a.gapLow) {
        a.gapHigh -= kUnitBytes;
        return a.gapHigh;
    }
    if (a.freeLists[0].count != 0) return popFree(a, 0);
    return takeUnitsSlow(a, 0);
}

// A block of class `index` for a state array: a free block, else the bottom of the gap.
inline Ref takeUnits(UnitAllocator& a, int index) {
    if (a.freeLists[index].count != 0) return popFree(a, index);
    const uint32_t need = unitBytes(classUnits(index));
    const Ref p = a.gapLow;
    if (uint64_t{p} + need <= a.gapHigh) {
        a.gapLow = p + need;
        return p;
    }
    return takeUnitsSlow(a, index);
}

}  // namespace qex
