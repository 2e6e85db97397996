// The model update after every coded byte, the successor build, and the
// rescale of a context whose frequencies grew too large.
//
// For one byte: coding began in `startContext` (the model's currentContext),
// escaped down its suffix chain, and found the byte as `codedState` in
// `foundContext`; the coding step has already raised that state and may have
// rescaled foundContext. The update then
//   1. raises the byte in foundContext's suffix (its one shorter context),
//   2. finds or builds the context the next byte's coding starts in: a
//      state's successor names the context one order longer, or, until that
//      context is needed, the place in the raw text where the byte followed,
//   3. adds the byte to every context it was escaped from,
// and so keeps true:
//   - every symbol of a context is also in that context's suffix;
//   - a context's totalFreq is at least the sum of its states' frequencies,
//     so the share left for escapes is never negative;
//   - orderDeficit counts how many orders the context where the next byte's
//     coding starts lies below the order limit;
//   - a context's states are sorted by falling frequency after a rescale.
// Any allocation that fails, or raw text reaching the unit area, exhausts the
// model's memory: the update stops where it is and the model restarts.
#include <algorithm>
#include <cstring>

#include "model/context_tree.h"
#include "model/estimation_tables.h"
#include "base/invariants.h"

namespace qex {

namespace {

// Frequency limits of the raise in foundContext's suffix.
constexpr uint32_t kSuffixFreqLimit = 120;       // raise only up to this
constexpr uint32_t kSuffixSmallFoundFreq = 28;   // found freq below it: raise by 3
constexpr uint32_t kSuffixBinaryLimit = 13;      // one-symbol suffix
// Frequency limits of the walk down the suffix chain.
constexpr uint32_t kWalkFreqLimit = 121;         // raise while below
constexpr uint32_t kWalkBinaryLimit = 10;        // one-symbol
// Frequency limits of the successor build.
constexpr uint32_t kBuildFreqLimit = 123;        // raise while below
constexpr uint32_t kBuildBinaryLimit = 15;       // one-symbol
// The frequency cap of the one state a rescale leaves.
constexpr uint32_t kRescaledBinaryCap = 41;
// The raise of the front state after a rescale stays within these.
constexpr uint32_t kMinFrontRaise = 2;
constexpr uint32_t kMaxFrontRaise = 44;
// A state's frequency is one byte.
constexpr uint32_t kMaxFreq = 255;
constexpr uint32_t kMaxHalvedFreq = (kMaxFreq + 1) >> 1;
// A context holds at most one state per byte value.
constexpr uint32_t kMaxStates = 256;
// Longer state arrays are sorted after a halving by counting frequencies
// (a fixed cost of about kMaxHalvedFreq steps); shorter ones by insertion.
constexpr uint32_t kCountingSortStates = 32;

// Moves the state at `from` back to the earlier place `to`, the states in
// between up one place each: the same order as swapping it back step by
// step, with one copy per state.
void moveStateBack(ArenaView ar, Ref from, Ref to) {
    QEX_ASSERT(to <= from);
    if (from == to) return;
    uint8_t held[kStateBytes];
    std::memcpy(held, at(ar, from), kStateBytes);
    std::memmove(at(ar, to + kStateBytes), at(ar, to), from - to);
    std::memcpy(at(ar, to), held, kStateBytes);
}

// Raises `state`, the byte's state in context `x`, without moving it (walk down).
void raiseInWalk(ArenaView ar, Ref x, Ref state) {
    if (lastIndex(ar, x) != 0) {
        if (freq(ar, state) < kWalkFreqLimit) {
            setFreq(ar, state, freq(ar, state) + 2);
            setTotalFreq(ar, x, totalFreq(ar, x) + 2);
        }
    } else if (freq(ar, state) <= kWalkBinaryLimit) {
        setFreq(ar, state, freq(ar, state) + 1);
    }
}

// Raises `state`, the byte's state in context `x`, while collecting successor builds.
void raiseInBuild(ArenaView ar, Ref x, Ref state) {
    if (lastIndex(ar, x) != 0) {
        if (freq(ar, state) < kBuildFreqLimit) {
            setFreq(ar, state, freq(ar, state) + 2);
            setTotalFreq(ar, x, totalFreq(ar, x) + 2);
        }
    } else if (freq(ar, state) <= kBuildBinaryLimit && lastIndex(ar, suffix(ar, x)) == 0) {
        setFreq(ar, state, freq(ar, state) + 1);
    }
}

// The frequency the first state of a new context gets: the byte that followed
// in the text, `nextByte`, as `base` (the context the new ones extend) rates it.
uint32_t firstStateFreq(ArenaView ar, Ref base, uint32_t nextByte) {
    if (lastIndex(ar, base) == 0) return freq(ar, inlineState(base));
    const Ref state = findState(ar, base, nextByte);
    const uint32_t extraFreq = freq(ar, state) - 1;
    QEX_ASSERT(totalFreq(ar, base) > lastIndex(ar, base) + extraFreq);  // othersFreq >= 1
    const uint32_t othersFreq = totalFreq(ar, base) - lastIndex(ar, base) - extraFreq;
    if (othersFreq > 2 * extraFreq) return othersFreq < 12 * extraFreq ? 2 : 1;
    // totalFreq is at least the sum of the frequencies, each at least 1, so
    // othersFreq >= 1; the guard only keeps a damaged tree from dividing by 0.
    return std::min<uint32_t>(3 + extraFreq / std::max<uint32_t>(othersFreq, 1), 7);
}

// Builds the missing higher-order contexts for `state`, the byte's state in
// context `from`, whose successor is a raw-text position: one new context
// per state of the byte along the suffix chain that still names that text
// position, each holding the byte that followed. `suffixState` is the byte's
// state in from's suffix when the caller has found it already. With
// `includeState` the state's own successor is set here too; without it the
// caller sets it. Returns the context state's successor names (or should
// name), or none when memory is exhausted.
Ref buildSuccessors(Model& m, Ref state, bool includeState, Ref suffixState, Ref from) {
    const ArenaView ar(m);
    const uint32_t sym = symbol(ar, state);
    const Ref textAfter = successor(ar, state);

    // At most one state per context of the suffix chain, and contexts never
    // exceed the order limit; the capacity leaves room to spare.
    constexpr int kListCapacity = 4 * kOrderLimit;
    Ref waiting[kListCapacity];  // states whose successor is to be built
    int count = 0;
    Ref base = from;  // the context the new ones extend

    if (includeState) waiting[count++] = state;
    if (suffix(ar, from) != kNone) {
        base = suffix(ar, from);
        Ref p = suffixState;
        if (p == kNone) {
            p = findState(ar, base, sym);
            raiseInBuild(ar, base, p);
        }
        for (;;) {
            if (successor(ar, p) != textAfter) {
                base = successor(ar, p);
                break;
            }
            waiting[count++] = p;
            if (suffix(ar, base) == kNone || count == kListCapacity) break;
            base = suffix(ar, base);
            p = findState(ar, base, sym);
            raiseInBuild(ar, base, p);
        }
    }
    if (count == 0) return base;

    // Every new context starts with one state: the byte that followed in the text.
    const uint32_t nextByte = at(ar, textAfter)[0];
    const Ref textAfterNext = textAfter + 1;
    const uint32_t newFlags = (sym >= kHighSymbol ? kFlagEnteredByHighSymbol : 0) |
                              (nextByte >= kHighSymbol ? kFlagHighSymbolPresent : 0);
    const uint32_t nextByteFreq = firstStateFreq(ar, base, nextByte);

    while (count > 0) {
        const Ref n = takeContext(m.alloc);
        if (n == kNone) return kNone;
        setLastIndex(ar, n, 0);
        setFlags(ar, n, newFlags);
        setState(ar, inlineState(n), nextByte, nextByteFreq, textAfterNext);
        setSuffix(ar, n, base);
        setSuccessor(ar, waiting[--count], n);
        base = n;
    }
    return base;
}

// The update's first task (the list at the top of this file): raises the
// byte in foundContext's suffix; in a context of several
// symbols it first changes places with the state before it when it has
// caught up with it. Returns the byte's state there (every symbol of a
// context is in its suffix), or none when foundContext is the root.
Ref raiseInSuffix(ArenaView ar, Ref foundContext, Ref codedState, uint32_t sym) {
    const Ref s = suffix(ar, foundContext);
    if (s == kNone) return kNone;
    if (lastIndex(ar, s) == 0) {
        const Ref state = inlineState(s);
        QEX_ASSERT(symbol(ar, state) == sym);
        if (freq(ar, state) <= kSuffixBinaryLimit) setFreq(ar, state, freq(ar, state) + 1);
        return state;
    }
    Ref state = findState(ar, s, sym);
    QEX_ASSERT(symbol(ar, state) == sym);
    if (state != states(ar, s) && freq(ar, state) >= freq(ar, state - kStateBytes)) {
        swapStates(ar, state, state - kStateBytes);
        state -= kStateBytes;
    }
    if (freq(ar, state) <= kSuffixFreqLimit) {
        const uint32_t raise = freq(ar, codedState) < kSuffixSmallFoundFreq ? 3 : 2;
        setFreq(ar, state, freq(ar, state) + raise);
        setTotalFreq(ar, s, totalFreq(ar, s) + raise);
    }
    return state;
}

// The update's second task (listed above), when the byte's state has no successor yet: it and the states of
// the byte down the suffix chain that have none are pointed at the text
// position after the byte, each raising the order deficit, until a state
// with a successor (whose context is built if it is still raw text) or the
// root. Returns the context the next byte's coding starts in, or none when
// memory is exhausted.
Ref walkDownToSuccessor(Model& m, Ref startContext, Ref foundContext, Ref codedState, Ref suffixState) {
    const ArenaView ar(m);
    UnitAllocator& alloc = m.alloc;
    setSuccessor(ar, codedState, alloc.textTop);
    ++m.orderDeficit;
    if (suffixState == kNone) return foundContext;  // the root: the walk has nowhere to go

    const uint32_t sym = symbol(ar, codedState);
    Ref x = suffix(ar, foundContext);
    Ref state = suffixState;
    while (successor(ar, state) == kNone) {
        setSuccessor(ar, state, alloc.textTop);
        ++m.orderDeficit;
        if (suffix(ar, x) == kNone) return x;
        x = suffix(ar, x);
        state = findState(ar, x, sym);
        raiseInWalk(ar, x, state);
    }
    Ref next = successor(ar, state);
    if (next <= alloc.textTop) {
        next = buildSuccessors(m, state, true, kNone, x);
        setSuccessor(ar, state, next);
    }
    // The byte's own state points one order up when that is where coding starts.
    if (m.orderDeficit == 1 && startContext == foundContext) {
        setSuccessor(ar, codedState, next);
        --alloc.textTop;
    }
    return next;
}

// Adds the byte to `x`, one context that escaped it, with the frequency the
// found context's statistics give it. False: memory exhausted.
bool addEscapedSymbol(Model& m, Ref x, uint32_t sym, uint32_t othersFreq, uint32_t extraFreq,
                      uint32_t foundLastIndex, Ref newSuccessor, uint32_t highFlag) {
    const ArenaView ar(m);
    const uint32_t li = lastIndex(ar, x);
    QEX_ASSERT(li < 255);  // x escaped sym, so it cannot hold all 256 symbols
    if (li == 0) {
        // A one-symbol context becomes a state array of two.
        const Ref array = takeUnits(m.alloc, 0);
        if (array == kNone) return false;
        const Ref old = inlineState(x);
        const uint32_t oldFreq = freq(ar, old);
        setState(ar, array, symbol(ar, old), promotedFreq(oldFreq), successor(ar, old));
        setStates(ar, x, array);
        const uint32_t escapeShare =
            kBinaryEscapeShare[classOfCount(uint32_t(m.est.lastBinaryProbability) >> 8)];
        setTotalFreq(ar, x, freq(ar, array) + escapeShare + (foundLastIndex > 1 ? 1 : 0));
    } else {
        // Arrays grow by one unit (two states) when the count turns odd.
        if (((li + 1) & 1) == 0) {
            const Ref grown = growStates(m.alloc, states(ar, x), (li + 1) / 2);
            if (grown == kNone) return false;
            setStates(ar, x, grown);
        }
        setTotalFreq(ar, x, totalFreq(ar, x) + (classOfCount(foundLastIndex + 4) >> 3));
    }

    uint32_t total = totalFreq(ar, x);
    const uint32_t f = newSymbolFreq(othersFreq, extraFreq, total);
    setTotalFreq(ar, x, total);
    const uint32_t newLast = li + 1;
    setLastIndex(ar, x, newLast);
    setState(ar, states(ar, x) + newLast * kStateBytes, sym, f, newSuccessor);
    setFlags(ar, x, flags(ar, x) | highFlag);
    return true;
}

// The update proper. False: memory exhausted (the caller restarts).
bool updateModel(Model& m) {
    const ArenaView ar(m);
    const Ref codedState = m.codedState;
    const Ref foundContext = m.foundContext;
    const Ref startContext = m.currentContext;
    const uint32_t sym = symbol(ar, codedState);

    // The byte's successor, when it is a text position, is read by the
    // successor build; its fetch overlaps the search in the suffix.
    const Ref codedSuccessor = successor(ar, codedState);
    if (codedSuccessor != kNone) __builtin_prefetch(at(ar, codedSuccessor));

    const Ref suffixState = raiseInSuffix(ar, foundContext, codedState, sym);

    // At full order a successor that is still raw text gets its contexts
    // built, and coding moves on into them; nothing was escaped at full order.
    if (m.orderDeficit == 0 && codedSuccessor != kNone) {
        const Ref built = buildSuccessors(m, codedState, false, suffixState, foundContext);
        setSuccessor(ar, codedState, built);
        if (built == kNone) return false;
        m.currentContext = built;
        return true;
    }

    // Below full order the byte goes into the raw text.
    UnitAllocator& alloc = m.alloc;
    at(ar, alloc.textTop)[0] = uint8_t(sym);
    ++alloc.textTop;
    if (alloc.textTop >= alloc.unitAreaStart) return false;
    const Ref textAfterByte = alloc.textTop;

    // The update's second task (listed above): the context the next byte's coding starts in.
    Ref nextContext;
    if (codedSuccessor == kNone) {
        nextContext = walkDownToSuccessor(m, startContext, foundContext, codedState, suffixState);
    } else if (codedSuccessor < alloc.unitAreaStart) {
        nextContext = buildSuccessors(m, codedState, true, suffixState, foundContext);
    } else {
        nextContext = codedSuccessor;
    }
    if (nextContext == kNone) return false;

    // One order closer to the limit. States added to escaped contexts point
    // at the text after the byte, or, back at full order, at nextContext.
    QEX_ASSERT(m.orderDeficit >= 1);
    Ref newSuccessor = textAfterByte;
    if (--m.orderDeficit == 0) {
        newSuccessor = nextContext;
        if (startContext != foundContext) --alloc.textTop;
    }

    // The update's third task (listed above): every context from startContext down to, not including,
    // foundContext escaped the byte and now receives it.
    const uint32_t othersFreq = totalFreq(ar, foundContext) - freq(ar, codedState);
    const uint32_t extraFreq = freq(ar, codedState) - 1;
    const uint32_t foundLastIndex = lastIndex(ar, foundContext);
    const uint32_t highFlag = sym >= kHighSymbol ? kFlagHighSymbolPresent : 0;
    for (Ref x = startContext; x != foundContext; x = suffix(ar, x)) {
        QEX_ASSERT(x != kNone);  // foundContext lies on startContext's suffix chain
        if (!addEscapedSymbol(m, x, sym, othersFreq, extraFreq, foundLastIndex, newSuccessor, highFlag))
            return false;
    }

    m.currentContext = nextContext;
    QEX_ASSERT(m.orderDeficit >= 0 && m.orderDeficit <= kOrderLimit);
    return true;
}

// halveFrequencies for a long array: the same halving, flag and total, and
// the same order, since insertion that moves each state ahead of every
// smaller frequency is a stable sort by falling frequency, which counting
// frequencies gives in two passes.
uint32_t halveAndCountSort(ArenaView ar, Ref c, uint32_t roundUp) {
    uint8_t* const array = at(ar, states(ar, c));
    const uint32_t count = lastIndex(ar, c) + 1;
    uint32_t statesOfFreq[kMaxHalvedFreq + 1] = {};
    uint32_t oldSum = 0;
    uint32_t newTotal = 0;
    uint32_t highFlag = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* const s = array + i * kStateBytes;
        const uint32_t old = s[1];
        oldSum += old;
        const uint32_t halved = (old + roundUp) >> 1;
        s[1] = uint8_t(halved);
        newTotal += halved;
        ++statesOfFreq[halved];
        if (i != 0 && halved != 0 && s[0] >= kHighSymbol) highFlag = kFlagHighSymbolPresent;
    }
    uint32_t placeOfFreq[kMaxHalvedFreq + 1];
    uint32_t place = 0;
    for (uint32_t f = kMaxHalvedFreq + 1; f-- > 0;) {
        placeOfFreq[f] = place;
        place += statesOfFreq[f];
    }
    uint8_t sorted[kMaxStates * kStateBytes];
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* const s = array + i * kStateBytes;
        std::memcpy(sorted + placeOfFreq[s[1]]++ * kStateBytes, s, kStateBytes);
    }
    std::memcpy(array, sorted, count * kStateBytes);
    setFlags(ar, c, flags(ar, c) | highFlag);
    setTotalFreq(ar, c, newTotal);
    return oldSum;
}

// Halves every frequency of c (rounding up when `roundUp`), keeping the
// states sorted by falling frequency, and sets c's total to the new sum and
// its high-symbol flag from the states after the first. Returns the sum of
// the old frequencies.
uint32_t halveFrequencies(ArenaView ar, Ref c, uint32_t roundUp) {
    if (lastIndex(ar, c) + 1 > kCountingSortStates) return halveAndCountSort(ar, c, roundUp);
    const Ref first = states(ar, c);
    uint32_t oldSum = freq(ar, first);
    uint32_t newTotal = (oldSum + roundUp) >> 1;
    setFreq(ar, first, newTotal);

    const uint32_t last = lastIndex(ar, c);
    uint32_t highFlag = 0;
    for (uint32_t i = 1; i <= last; ++i) {
        Ref s = first + i * kStateBytes;
        const uint32_t old = freq(ar, s);
        oldSum += old;
        const uint32_t halved = (old + roundUp) >> 1;
        setFreq(ar, s, halved);
        newTotal += halved;
        if (halved == 0) continue;
        if (symbol(ar, s) >= kHighSymbol) highFlag = kFlagHighSymbolPresent;
        // Keep the array sorted: move it forward past every smaller frequency.
        if (freq(ar, s - kStateBytes) < halved) {
            Ref to = s - kStateBytes;
            while (to != first && freq(ar, to - kStateBytes) < halved) to -= kStateBytes;
            moveStateBack(ar, s, to);
        }
    }
    setFlags(ar, c, flags(ar, c) | highFlag);
    setTotalFreq(ar, c, newTotal);
    return oldSum;
}

// The states a halving left at frequency 0, all at the end of the sorted array.
uint32_t countZeroStates(ArenaView ar, Ref c) {
    const Ref first = states(ar, c);
    const uint32_t last = lastIndex(ar, c);
    uint32_t zeros = 0;
    while (zeros < last && freq(ar, first + (last - zeros) * kStateBytes) == 0) ++zeros;
    return zeros;
}

// The front state's raise after a rescale: about what it lost against its
// old share, (oldFront * newTotal - newFront * oldShare) / oldRest rounded
// up, within kMinFrontRaise..kMaxFrontRaise; oldShare is the old total less
// the escape, oldRest that less the old front. A context rescaled before, at
// full order, gets the least.
uint32_t frontRaise(const Model& m, Ref c, uint32_t oldTotal, uint32_t oldFrontFreq, uint32_t escape,
                    uint32_t newTotal) {
    if (m.orderDeficit == 0 && (flags(m, c) & kFlagRescaled) != 0) return kMinFrontRaise;
    const uint32_t oldShare = oldTotal - escape;
    const uint32_t oldRest = oldShare - oldFrontFreq;
    const uint32_t newFrontFreq = freq(m, states(m, c));
    const int32_t scaledLoss = int32_t(oldRest - 1 - newFrontFreq * oldShare + oldFrontFreq * newTotal);
    const int32_t raise = oldRest != 0 ? scaledLoss / int32_t(oldRest) : 0;
    const uint32_t r = uint32_t(raise);  // a negative raise wraps above the cap
    return r <= 1 ? kMinFrontRaise : std::min(r, kMaxFrontRaise);
}

}  // namespace

uint32_t newSymbolFreq(uint32_t othersFreq, uint32_t extraFreq, uint32_t& total) {
    const uint32_t x = extraFreq * (total + 5);
    const uint32_t sf = othersFreq + total;
    if (x <= 3 * sf) {
        total += 4;
        return 2 + (2 * x > 3 * sf) - (2 * x <= sf);
    }
    const uint32_t f = 5 + (x > 5 * sf) + (x > 6 * sf) + (x > 8 * sf) + (x > 10 * sf) + (x > 12 * sf);
    total += f;
    return f;
}

void updateAfterSymbolInFull(Model& m) {
    if (!updateModel(m)) resetModel(m);
}

// Halves the frequencies of c, whose coded state (m.codedState) has just
// been raised past the limit: that state goes to the front first, states
// left at 0 are dropped (c turns back into a one-symbol context when only
// the front is left), and the front is raised again so as not to lose its
// share. The high-symbol flag is worked out afresh over the states after the
// front, as streams have always had it.
void rescaleContext(Model& m, Ref c) {
    const ArenaView ar(m);
    setFlags(ar, c, flags(ar, c) & (kFlagRescaled | kFlagEnteredByHighSymbol));
    const Ref first = states(ar, c);
    // Move the raised state to the front, the ones before it up one place.
    moveStateBack(ar, m.codedState, first);

    const uint32_t oldTotal = totalFreq(ar, c);
    const uint32_t oldFrontFreq = freq(ar, first);
    const uint32_t roundUp = m.orderDeficit != 0 ? 1 : 0;
    const uint32_t oldSum = halveFrequencies(ar, c, roundUp);
    QEX_ASSERT(oldTotal >= oldSum);  // totalFreq is at least the sum of the frequencies
    uint32_t escape = oldTotal - oldSum;

    const uint32_t last = lastIndex(ar, c);
    const uint32_t zeros = countZeroStates(ar, c);
    if (zeros > 0) {
        const uint32_t oldUnits = (last + 2) / 2;
        const uint32_t newLast = last - zeros;
        setLastIndex(ar, c, newLast);
        escape += zeros;
        if (newLast == 0) {
            // One symbol left: the context goes back to an inline state.
            const uint32_t keptSymbol = symbol(ar, first);
            const uint32_t keptFreq = freq(ar, first);
            const Ref keptSuccessor = successor(ar, first);
            const uint32_t scaled = (2 * keptFreq + escape - 1) / escape;
            setFlags(ar, c, flags(ar, c) & (kFlagHighSymbolPresent | kFlagEnteredByHighSymbol));
            releaseStates(m.alloc, first, oldUnits);
            setState(ar, inlineState(c), keptSymbol, std::min(scaled, kRescaledBinaryCap), keptSuccessor);
            m.codedState = inlineState(c);
            return;
        }
        setStates(ar, c, shrinkStates(m.alloc, first, oldUnits, (newLast + 2) / 2));
    }

    const Ref front = states(ar, c);
    const uint32_t newTotal = totalFreq(ar, c) + ((escape + 1) >> 1);
    const uint32_t raise = frontRaise(m, c, oldTotal, oldFrontFreq, escape, newTotal);
    QEX_ASSERT(freq(ar, front) + raise <= kMaxFreq);
    setFreq(ar, front, freq(ar, front) + raise);
    setTotalFreq(ar, c, newTotal + raise);
    setFlags(ar, c, flags(ar, c) | kFlagRescaled);
    m.codedState = front;
}

}  // namespace qex
