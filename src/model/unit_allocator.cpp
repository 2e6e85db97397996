// Unit allocator: free lists, trimming, growing and shrinking state arrays,
// the slow path with its merge countdown, and the merge pass.
#include "model/unit_allocator.h"

#include <cstring>

namespace qex {

namespace {

// Offsets of the free-block header words.
constexpr uint32_t kStampAt = 0;
constexpr uint32_t kNextAt = 4;
constexpr uint32_t kCountAt = 8;

// The first merge pass allows 2^13 allocations from the bottom before the next.
constexpr uint32_t kFirstCountdownShift = 13;

uint32_t blockWord(const UnitAllocator& a, Ref block, uint32_t at) {
    return load32(a.arenaBase + block + at);
}
void setBlockWord(UnitAllocator& a, Ref block, uint32_t at, uint32_t v) {
    store32(a.arenaBase + block + at, v);
}

}  // namespace

void resetAllocator(UnitAllocator& a, uint8_t* arenaBase, uint32_t arenaSize) {
    a.arenaBase = arenaBase;
    a.arenaSize = arenaSize;
    for (FreeList& list : a.freeLists) list = FreeList{};
    a.mergePasses = 0;
    a.mergeCountdown = 0;
    a.textTop = 0;
    a.gapHigh = arenaSize;
    // Seven eighths of the arena, in whole units, form the unit area.
    a.unitAreaStart = a.gapLow = a.gapHigh - 84 * (arenaSize / 96);
}

void pushFree(UnitAllocator& a, Ref block, int index) {
    FreeList& list = a.freeLists[index];
    setBlockWord(a, block, kStampAt, kFreeStamp);
    setBlockWord(a, block, kNextAt, list.head);
    setBlockWord(a, block, kCountAt, classUnits(index));
    list.head = block;
    ++list.count;
}

Ref popFree(UnitAllocator& a, int index) {
    FreeList& list = a.freeLists[index];
    QEX_ASSERT(list.count != 0 && list.head != kNone);
    const Ref block = list.head;
    list.head = blockWord(a, block, kNextAt);
    --list.count;
    return block;
}

// The remainder of a block cut down to a smaller class goes back as at most
// two free blocks: one of the largest class that fits, and the rest, which
// then is itself the size of a class.
void trimBlock(UnitAllocator& a, Ref block, int oldIndex, int newIndex) {
    QEX_ASSERT(newIndex < oldIndex);
    uint32_t d = classUnits(oldIndex) - classUnits(newIndex);
    Ref p = block + unitBytes(classUnits(newIndex));
    const int k = classOfUnits(d);
    if (classUnits(k) != d) {
        pushFree(a, p, k - 1);
        p += unitBytes(classUnits(k - 1));
        d -= classUnits(k - 1);
    }
    QEX_ASSERT(classUnits(classOfUnits(d)) == d);
    pushFree(a, p, classOfUnits(d));
}

Ref takeUnitsSlow(UnitAllocator& a, int index) {
    for (;;) {
        for (int i = index + 1; i < kClassCount; ++i) {
            if (a.freeLists[i].count != 0) {
                const Ref b = popFree(a, i);
                trimBlock(a, b, i, index);
                return b;
            }
        }
        const uint32_t g = a.mergeCountdown;
        a.mergeCountdown = g - 1;
        if (g != 0) {
            const uint32_t need = unitBytes(classUnits(index));
            if (a.unitAreaStart - a.textTop > need) {
                a.unitAreaStart -= need;
                return a.unitAreaStart;
            }
            return kNone;
        }
        mergeFreeBlocks(a);
        a.mergeCountdown = uint32_t{1} << ((a.mergePasses + kFirstCountdownShift) % 32);
        ++a.mergePasses;
        if (a.freeLists[index].count != 0) return popFree(a, index);
    }
}

Ref growStates(UnitAllocator& a, Ref block, uint32_t oldUnits) {
    const int i0 = classOfUnits(oldUnits);
    const int i1 = classOfUnits(oldUnits + 1);
    if (i0 == i1) return block;
    const Ref b = takeUnits(a, i1);
    if (b == kNone) return kNone;
    std::memcpy(a.arenaBase + b, a.arenaBase + block, unitBytes(oldUnits));
    pushFree(a, block, i0);
    return b;
}

Ref shrinkStates(UnitAllocator& a, Ref block, uint32_t oldUnits, uint32_t newUnits) {
    const int i0 = classOfUnits(oldUnits);
    const int i1 = classOfUnits(newUnits);
    if (i0 == i1) return block;
    if (a.freeLists[i1].count != 0) {
        const Ref b = popFree(a, i1);
        std::memcpy(a.arenaBase + b, a.arenaBase + block, unitBytes(newUnits));
        pushFree(a, block, i0);
        return b;
    }
    trimBlock(a, block, i0, i1);
    return block;
}

void mergeFreeBlocks(UnitAllocator& a) {
    // A zero byte at the gap's start keeps its first word from reading as a stamp.
    if (a.gapLow != a.gapHigh) a.arenaBase[a.gapLow] = 0;

    // The working list keeps blocks in the order they are taken. It is linked
    // through the blocks' own `next` words (free once popped), so the pass
    // needs no memory of its own.
    Ref workHead = kNone;
    Ref workTail = kNone;
    for (int i = 0; i < kClassCount; ++i) {
        while (a.freeLists[i].count != 0) {
            const Ref b = popFree(a, i);
            uint32_t units = blockWord(a, b, kCountAt);
            if (units == 0) continue;  // absorbed earlier in this pass
            for (;;) {
                const uint64_t following = uint64_t{b} + unitBytes(units);
                if (following + 4 > a.arenaSize) break;  // never read past the arena
                const Ref f = Ref(following);
                if (blockWord(a, f, kStampAt) != kFreeStamp) break;
                units += blockWord(a, f, kCountAt);
                setBlockWord(a, f, kCountAt, 0);
            }
            setBlockWord(a, b, kCountAt, units);
            setBlockWord(a, b, kNextAt, kNone);
            if (workTail == kNone) workHead = b;
            else setBlockWord(a, workTail, kNextAt, b);
            workTail = b;
        }
    }
    for (Ref w = workHead; w != kNone;) {
        Ref b = w;
        w = blockWord(a, w, kNextAt);  // read before pushFree rewrites the header
        uint32_t n = blockWord(a, b, kCountAt);
        if (n == 0) continue;
        while (n > kMaxClassUnits) {
            pushFree(a, b, kClassCount - 1);
            b += unitBytes(kMaxClassUnits);
            n -= kMaxClassUnits;
        }
        int k = classOfUnits(n);
        if (classUnits(k) != n) {
            --k;
            const uint32_t r = n - classUnits(k);
            // Below 128 units no two neighbouring classes differ by more
            // than 4, and classes 0..3 hold 1..4 units: r is a class's size.
            QEX_ASSERT(r >= 1 && classUnits(int(r) - 1) == r);
            pushFree(a, b + unitBytes(classUnits(k)), int(r) - 1);
        }
        pushFree(a, b, k);
    }
}

}  // namespace qex
