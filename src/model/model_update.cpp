// Model update after every coded byte, successor creation, and the rescale.
//
// Notation for one byte: M = currentContext (where coding began), c = the
// context where the byte was found, fs = codedState (its state in c), sym =
// its symbol. The coding step has already raised fs and possibly rescaled c.
// Any allocation that fails, or raw text reaching the unit area, exhausts the
// model's memory: the update stops where it is and the model restarts.
#include <algorithm>
#include <cstring>

#include "coder/estimation_tables.h"
#include "model/context_tree.h"

namespace qex {

namespace {

// Frequency limits of the suffix updates.
constexpr uint32_t kSuffixFreqLimit = 120;       // U1: raise only up to this
constexpr uint32_t kSuffixSmallFsFreq = 28;      // U1: below it, raise by 3
constexpr uint32_t kSuffixBinaryLimit = 13;      // U1: one-symbol suffix
constexpr uint32_t kWalkFreqLimit = 121;         // walk down: raise while below
constexpr uint32_t kWalkBinaryLimit = 10;        // walk down: one-symbol
constexpr uint32_t kBuildFreqLimit = 123;        // successor build: raise while below
constexpr uint32_t kBuildBinaryLimit = 15;       // successor build: one-symbol
constexpr uint32_t kRescaledBinaryCap = 41;
constexpr uint32_t kHighSymbol = 0x40;

// Moves the state at `from` back to the earlier place `to`, the states in
// between up one place each: the same order as swapping it back step by
// step, with one copy per state.
void moveStateBack(ArenaView ar, Ref from, Ref to) {
    if (from == to) return;
    uint8_t held[kStateBytes];
    std::memcpy(held, at(ar, from), kStateBytes);
    std::memmove(at(ar, to + kStateBytes), at(ar, to), from - to);
    std::memcpy(at(ar, to), held, kStateBytes);
}

// Raises p, the state of sym in context x, without moving it (walk down).
void raiseInWalk(ArenaView ar, Ref x, Ref p) {
    if (lastIndex(ar, x) != 0) {
        if (freq(ar, p) < kWalkFreqLimit) {
            setFreq(ar, p, freq(ar, p) + 2);
            setTotalFreq(ar, x, totalFreq(ar, x) + 2);
        }
    } else if (freq(ar, p) <= kWalkBinaryLimit) {
        setFreq(ar, p, freq(ar, p) + 1);
    }
}

// Raises p, the state of sym in context pc, while collecting successor builds.
void raiseInBuild(ArenaView ar, Ref pc, Ref p) {
    if (lastIndex(ar, pc) != 0) {
        if (freq(ar, p) < kBuildFreqLimit) {
            setFreq(ar, p, freq(ar, p) + 2);
            setTotalFreq(ar, pc, totalFreq(ar, pc) + 2);
        }
    } else if (freq(ar, p) <= kBuildBinaryLimit && lastIndex(ar, suffix(ar, pc)) == 0) {
        setFreq(ar, p, freq(ar, p) + 1);
    }
}

// Builds the missing higher-order contexts for the state codedState, whose
// successor is a raw-text position. Returns the context codedState's
// successor should name, or none when memory is exhausted.
Ref buildSuccessors(Model& m, bool skip, Ref p1, Ref c) {
    const ArenaView ar(m);
    const Ref fs = m.codedState;
    const uint32_t sym = symbol(ar, fs);
    const Ref up = successor(ar, fs);

    // At most one state per context of the suffix chain, and contexts never
    // exceed the order limit; the capacity leaves room to spare.
    constexpr int kListCapacity = 4 * kOrderLimit;
    Ref list[kListCapacity];
    int count = 0;
    Ref pc = c;

    bool walk = true;
    if (!skip) list[count++] = fs;
    if (suffix(ar, c) == kNone) walk = false;
    if (walk) {
        Ref p;
        pc = suffix(ar, c);
        if (p1 != kNone) {
            p = p1;
        } else {
            p = findState(ar, pc, sym);
            raiseInBuild(ar, pc, p);
        }
        for (;;) {
            if (successor(ar, p) != up) {
                pc = successor(ar, p);
                break;
            }
            list[count++] = p;
            if (suffix(ar, pc) == kNone || count == kListCapacity) break;
            pc = suffix(ar, pc);
            p = findState(ar, pc, sym);
            raiseInBuild(ar, pc, p);
        }
    }
    if (count == 0) return pc;

    // Every new context starts with one state: the byte that followed in the text.
    const uint32_t uSymbol = at(ar, up)[0];
    const Ref uSuccessor = up + 1;
    const uint32_t newFlags = (sym >= kHighSymbol ? 0x10 : 0) | (uSymbol >= kHighSymbol ? 0x08 : 0);
    uint32_t uFreq;
    if (lastIndex(ar, pc) == 0) {
        uFreq = freq(ar, inlineState(pc));
    } else {
        const Ref r = findState(ar, pc, uSymbol);
        const uint32_t cf = freq(ar, r) - 1;
        const uint32_t s0 = totalFreq(ar, pc) - lastIndex(ar, pc) - cf;
        if (s0 > 2 * cf) {
            uFreq = s0 < 12 * cf ? 2 : 1;
        } else {
            // The model keeps totalFreq above the sum of frequencies, so s0 >= 1.
            uFreq = std::min<uint32_t>(3 + cf / std::max<uint32_t>(s0, 1), 7);
        }
    }

    while (count > 0) {
        const Ref n = takeContext(m.alloc);
        if (n == kNone) return kNone;
        setLastIndex(ar, n, 0);
        setFlags(ar, n, newFlags);
        setState(ar, inlineState(n), uSymbol, uFreq, uSuccessor);
        setSuffix(ar, n, pc);
        setSuccessor(ar, list[--count], n);
        pc = n;
    }
    return pc;
}

// Adds sym to one context pc that escaped it (U5). False: memory exhausted.
bool addSymbol(Model& m, Ref pc, uint32_t sym, uint32_t s0, uint32_t cf, uint32_t nc, Ref newSucc,
               uint32_t hi) {
    const ArenaView ar(m);
    const uint32_t li = lastIndex(ar, pc);
    if (li == 0) {
        const Ref a = takeUnits(m.alloc, 0);
        if (a == kNone) return false;
        const Ref old = inlineState(pc);
        const uint32_t oldFreq = freq(ar, old);
        setState(ar, a, symbol(ar, old), promotedFreq(oldFreq), successor(ar, old));
        setStates(ar, pc, a);
        const uint32_t share =
            kBinaryEscapeShare[classOfCount(uint32_t(m.est.lastBinaryProbability) >> 8)];
        setTotalFreq(ar, pc, freq(ar, a) + share + (nc > 1 ? 1 : 0));
    } else {
        if (((li + 1) & 1) == 0) {
            const Ref grown = growStates(m.alloc, states(ar, pc), (li + 1) / 2);
            if (grown == kNone) return false;
            setStates(ar, pc, grown);
        }
        setTotalFreq(ar, pc, totalFreq(ar, pc) + (classOfCount(nc + 4) >> 3));
    }

    uint32_t tf = totalFreq(ar, pc);
    const uint32_t f = newSymbolFreq(s0, cf, tf);
    setTotalFreq(ar, pc, tf);
    const uint32_t newLast = li + 1;
    setLastIndex(ar, pc, newLast);
    setState(ar, states(ar, pc) + newLast * kStateBytes, sym, f, newSucc);
    setFlags(ar, pc, flags(ar, pc) | hi);
    return true;
}

// The update proper. False: memory exhausted (the caller restarts).
bool updateModel(Model& m) {
    const ArenaView ar(m);
    const Ref fs = m.codedState;
    const Ref c = m.foundContext;
    const Ref bigM = m.currentContext;
    const uint32_t sym = symbol(ar, fs);

    // U0 (at full order with a built successor, just move on) is taken
    // inline before this is called.

    // A successor that is a text position is read by the successor build
    // below; its fetch overlaps U1's search.
    const Ref succ = successor(ar, fs);
    if (succ != kNone) __builtin_prefetch(at(ar, succ));

    // U1: raise sym in the suffix of c.
    Ref p = kNone;
    const Ref s = suffix(ar, c);
    if (s != kNone) {
        if (lastIndex(ar, s) != 0) {
            const Ref first = states(ar, s);
            p = findState(ar, s, sym);
            if (p != first && freq(ar, p) >= freq(ar, p - kStateBytes)) {
                swapStates(ar, p, p - kStateBytes);
                p -= kStateBytes;
            }
            if (freq(ar, p) <= kSuffixFreqLimit) {
                const uint32_t inc = freq(ar, fs) < kSuffixSmallFsFreq ? 3 : 2;
                setFreq(ar, p, freq(ar, p) + inc);
                setTotalFreq(ar, s, totalFreq(ar, s) + inc);
            }
        } else {
            p = inlineState(s);
            if (freq(ar, p) <= kSuffixBinaryLimit) setFreq(ar, p, freq(ar, p) + 1);
        }
    }

    // U2: successors.
    Ref fSucc;
    if (m.orderDeficit == 0 && succ != kNone) {  // U2a
        const Ref built = buildSuccessors(m, true, p, c);
        setSuccessor(ar, fs, built);
        if (built == kNone) return false;
        m.currentContext = built;
        return true;
    }
    // U2b: append sym to the raw text.
    UnitAllocator& a = m.alloc;
    at(ar, a.textTop)[0] = uint8_t(sym);
    ++a.textTop;
    if (a.textTop >= a.unitAreaStart) return false;
    Ref newSucc = a.textTop;

    if (succ != kNone) {  // U2c
        if (succ < a.unitAreaStart) {
            fSucc = buildSuccessors(m, false, p, c);
            if (fSucc == kNone) return false;
        } else {
            fSucc = succ;
        }
    } else {  // U2d: walk down to the first state of sym with a successor
        setSuccessor(ar, fs, a.textTop);
        ++m.orderDeficit;
        if (p == kNone) {
            fSucc = c;
        } else {
            Ref x = suffix(ar, c);
            bool reachedRoot = false;
            for (;;) {
                if (successor(ar, p) != kNone) break;
                setSuccessor(ar, p, a.textTop);
                ++m.orderDeficit;
                if (suffix(ar, x) == kNone) {
                    fSucc = x;
                    reachedRoot = true;
                    break;
                }
                x = suffix(ar, x);
                p = findState(ar, x, sym);
                raiseInWalk(ar, x, p);
            }
            if (!reachedRoot) {
                Ref e = successor(ar, p);
                if (e <= a.textTop) {
                    m.codedState = p;
                    e = buildSuccessors(m, false, kNone, x);
                    setSuccessor(ar, p, e);
                    m.codedState = fs;
                }
                if (m.orderDeficit == 1 && bigM == c) {
                    setSuccessor(ar, fs, e);
                    --a.textTop;
                }
                fSucc = e;
                if (fSucc == kNone) return false;
            }
        }
    }

    // U3
    if (--m.orderDeficit == 0) {
        newSucc = fSucc;
        if (bigM != c) --a.textTop;
    }

    // U4
    const uint32_t s0 = totalFreq(ar, c) - freq(ar, fs);
    const uint32_t cf = freq(ar, fs) - 1;
    const uint32_t nc = lastIndex(ar, c);
    const uint32_t hi = sym >= kHighSymbol ? 0x08 : 0;

    // U5: every context from M down to, not including, c receives sym.
    for (Ref pc = bigM; pc != c; pc = suffix(ar, pc)) {
        if (!addSymbol(m, pc, sym, s0, cf, nc, newSucc, hi)) return false;
    }

    // U6
    m.currentContext = fSucc;
    return true;
}

}  // namespace

uint32_t newSymbolFreq(uint32_t s0, uint32_t cf, uint32_t& pcTotal) {
    const uint32_t x = cf * (pcTotal + 5);
    const uint32_t sf = s0 + pcTotal;
    if (x <= 3 * sf) {
        pcTotal += 4;
        return 2 + (2 * x > 3 * sf) - (2 * x <= sf);
    }
    const uint32_t f = 5 + (x > 5 * sf) + (x > 6 * sf) + (x > 8 * sf) + (x > 10 * sf) + (x > 12 * sf);
    pcTotal += f;
    return f;
}

void updateAfterSymbolInFull(Model& m) {
    if (!updateModel(m)) resetModel(m);
}

void rescaleContext(Model& m, Ref c) {
    const ArenaView ar(m);
    setFlags(ar, c, flags(ar, c) & 0x14);
    const Ref first = states(ar, c);
    // Move the raised state to the front, the ones before it up one place.
    moveStateBack(ar, m.codedState, first);

    const uint32_t total = totalFreq(ar, c);  // S
    const uint32_t frontFreq = freq(ar, first);  // F
    const uint32_t adder = m.orderDeficit != 0 ? 1 : 0;
    uint32_t escape = total - frontFreq;  // E
    uint32_t newTotal = (frontFreq + adder) >> 1;
    setFreq(ar, first, newTotal);

    const uint32_t last = lastIndex(ar, c);
    uint32_t highFlag = 0;
    for (uint32_t i = 1; i <= last; ++i) {
        Ref s = first + i * kStateBytes;
        const uint32_t old = freq(ar, s);
        escape -= old;
        const uint32_t halved = (old + adder) >> 1;
        setFreq(ar, s, halved);
        newTotal += halved;
        if (halved == 0) continue;
        if (symbol(ar, s) >= kHighSymbol) highFlag = 0x08;
        // Keep the array sorted: move it forward past every smaller frequency.
        if (freq(ar, s - kStateBytes) < halved) {
            Ref to = s - kStateBytes;
            while (to != first && freq(ar, to - kStateBytes) < halved) to -= kStateBytes;
            moveStateBack(ar, s, to);
        }
    }
    setFlags(ar, c, flags(ar, c) | highFlag);
    setTotalFreq(ar, c, newTotal);

    uint32_t zeros = 0;
    while (zeros < last && freq(ar, first + (last - zeros) * kStateBytes) == 0) ++zeros;
    if (zeros > 0) {
        const uint32_t oldCount = last + 1;
        const uint32_t newLast = last - zeros;
        setLastIndex(ar, c, newLast);
        escape += zeros;
        if (newLast == 0) {
            // One symbol left: the context goes back to an inline state.
            const uint32_t tSymbol = symbol(ar, first);
            const uint32_t tFreq = freq(ar, first);
            const Ref tSuccessor = successor(ar, first);
            const uint32_t g = (2 * tFreq + escape - 1) / escape;
            setFlags(ar, c, flags(ar, c) & 0x18);
            releaseStates(m.alloc, first, (oldCount + 1) / 2);
            setState(ar, inlineState(c), tSymbol, std::min(g, kRescaledBinaryCap), tSuccessor);
            m.codedState = inlineState(c);
            return;
        }
        setStates(ar, c, shrinkStates(m.alloc, first, (oldCount + 1) / 2, (newLast + 2) / 2));
    }

    const Ref front = states(ar, c);
    const uint32_t t = totalFreq(ar, c) + ((escape + 1) >> 1);
    uint32_t inc;
    if (m.orderDeficit == 0 && (flags(ar, c) & 0x04) != 0) {
        inc = 2;
    } else {
        const uint32_t aa = total - escape;
        const uint32_t bb = aa - frontFreq;
        const int32_t num = int32_t(bb - 1 - freq(ar, front) * aa + frontFreq * t);
        const int32_t q = bb != 0 ? num / int32_t(bb) : 0;
        const uint32_t uq = uint32_t(q);
        inc = uq <= 1 ? 2 : uq > 44 ? 44 : uq;
    }
    setFreq(ar, front, freq(ar, front) + inc);
    setTotalFreq(ar, c, t + inc);
    setFlags(ar, c, flags(ar, c) | 0x04);
    m.codedState = front;
}

}  // namespace qex
