// Model update after every coded byte, successor creation, and the rescale.
//
// Notation for one byte: M = currentContext (where coding began), c = the
// context where the byte was found, fs = codedState (its state in c), sym =
// its symbol. The coding step has already raised fs and possibly rescaled c.
// Any allocation that fails, or raw text reaching the unit area, exhausts the
// model's memory: the update stops where it is and the model restarts.
#include <algorithm>

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

// Raises p, the state of sym in context x, without moving it (walk down).
void raiseInWalk(Model& m, Ref x, Ref p) {
    if (lastIndex(m, x) != 0) {
        if (freq(m, p) < kWalkFreqLimit) {
            setFreq(m, p, freq(m, p) + 2);
            setTotalFreq(m, x, totalFreq(m, x) + 2);
        }
    } else if (freq(m, p) <= kWalkBinaryLimit) {
        setFreq(m, p, freq(m, p) + 1);
    }
}

// Raises p, the state of sym in context pc, while collecting successor builds.
void raiseInBuild(Model& m, Ref pc, Ref p) {
    if (lastIndex(m, pc) != 0) {
        if (freq(m, p) < kBuildFreqLimit) {
            setFreq(m, p, freq(m, p) + 2);
            setTotalFreq(m, pc, totalFreq(m, pc) + 2);
        }
    } else if (freq(m, p) <= kBuildBinaryLimit && lastIndex(m, suffix(m, pc)) == 0) {
        setFreq(m, p, freq(m, p) + 1);
    }
}

// Builds the missing higher-order contexts for the state codedState, whose
// successor is a raw-text position. Returns the context codedState's
// successor should name, or none when memory is exhausted.
Ref buildSuccessors(Model& m, bool skip, Ref p1, Ref c) {
    const Ref fs = m.codedState;
    const uint32_t sym = symbol(m, fs);
    const Ref up = successor(m, fs);

    // At most one state per context of the suffix chain, and contexts never
    // exceed the order limit; the capacity leaves room to spare.
    constexpr int kListCapacity = 4 * kOrderLimit;
    Ref list[kListCapacity];
    int count = 0;
    Ref pc = c;

    bool walk = true;
    if (!skip) list[count++] = fs;
    if (suffix(m, c) == kNone) walk = false;
    if (walk) {
        Ref p;
        pc = suffix(m, c);
        if (p1 != kNone) {
            p = p1;
        } else {
            p = findState(m, pc, sym);
            raiseInBuild(m, pc, p);
        }
        for (;;) {
            if (successor(m, p) != up) {
                pc = successor(m, p);
                break;
            }
            list[count++] = p;
            if (suffix(m, pc) == kNone || count == kListCapacity) break;
            pc = suffix(m, pc);
            p = findState(m, pc, sym);
            raiseInBuild(m, pc, p);
        }
    }
    if (count == 0) return pc;

    // Every new context starts with one state: the byte that followed in the text.
    const uint32_t uSymbol = at(m, up)[0];
    const Ref uSuccessor = up + 1;
    const uint32_t newFlags = (sym >= kHighSymbol ? 0x10 : 0) | (uSymbol >= kHighSymbol ? 0x08 : 0);
    uint32_t uFreq;
    if (lastIndex(m, pc) == 0) {
        uFreq = freq(m, inlineState(pc));
    } else {
        const Ref r = findState(m, pc, uSymbol);
        const uint32_t cf = freq(m, r) - 1;
        const uint32_t s0 = totalFreq(m, pc) - lastIndex(m, pc) - cf;
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
        setLastIndex(m, n, 0);
        setFlags(m, n, newFlags);
        setState(m, inlineState(n), uSymbol, uFreq, uSuccessor);
        setSuffix(m, n, pc);
        setSuccessor(m, list[--count], n);
        pc = n;
    }
    return pc;
}

// Adds sym to one context pc that escaped it (U5). False: memory exhausted.
bool addSymbol(Model& m, Ref pc, uint32_t sym, uint32_t s0, uint32_t cf, uint32_t nc, Ref newSucc,
               uint32_t hi) {
    const uint32_t li = lastIndex(m, pc);
    if (li == 0) {
        const Ref a = takeUnits(m.alloc, 0);
        if (a == kNone) return false;
        const Ref old = inlineState(pc);
        const uint32_t oldFreq = freq(m, old);
        setState(m, a, symbol(m, old), promotedFreq(oldFreq), successor(m, old));
        setStates(m, pc, a);
        const uint32_t share =
            kBinaryEscapeShare[classOfCount(uint32_t(m.est.lastBinaryProbability) >> 8)];
        setTotalFreq(m, pc, freq(m, a) + share + (nc > 1 ? 1 : 0));
    } else {
        if (((li + 1) & 1) == 0) {
            const Ref grown = growStates(m.alloc, states(m, pc), (li + 1) / 2);
            if (grown == kNone) return false;
            setStates(m, pc, grown);
        }
        setTotalFreq(m, pc, totalFreq(m, pc) + (classOfCount(nc + 4) >> 3));
    }

    uint32_t tf = totalFreq(m, pc);
    const uint32_t f = newSymbolFreq(s0, cf, tf);
    setTotalFreq(m, pc, tf);
    const uint32_t newLast = li + 1;
    setLastIndex(m, pc, newLast);
    setState(m, states(m, pc) + newLast * kStateBytes, sym, f, newSucc);
    setFlags(m, pc, flags(m, pc) | hi);
    return true;
}

// The update proper. False: memory exhausted (the caller restarts).
bool updateModel(Model& m) {
    const Ref fs = m.codedState;
    const Ref c = m.foundContext;
    const Ref bigM = m.currentContext;
    const uint32_t sym = symbol(m, fs);

    // U0: at full order with a built successor, just move on.
    if (m.orderDeficit == 0 && isContext(m, successor(m, fs))) {
        m.currentContext = successor(m, fs);
        return true;
    }

    // U1: raise sym in the suffix of c.
    Ref p = kNone;
    const Ref s = suffix(m, c);
    if (s != kNone) {
        if (lastIndex(m, s) != 0) {
            const Ref first = states(m, s);
            p = findState(m, s, sym);
            if (p != first && freq(m, p) >= freq(m, p - kStateBytes)) {
                swapStates(m, p, p - kStateBytes);
                p -= kStateBytes;
            }
            if (freq(m, p) <= kSuffixFreqLimit) {
                const uint32_t inc = freq(m, fs) < kSuffixSmallFsFreq ? 3 : 2;
                setFreq(m, p, freq(m, p) + inc);
                setTotalFreq(m, s, totalFreq(m, s) + inc);
            }
        } else {
            p = inlineState(s);
            if (freq(m, p) <= kSuffixBinaryLimit) setFreq(m, p, freq(m, p) + 1);
        }
    }

    // U2: successors.
    const Ref succ = successor(m, fs);
    Ref fSucc;
    if (m.orderDeficit == 0 && succ != kNone) {  // U2a
        const Ref built = buildSuccessors(m, true, p, c);
        setSuccessor(m, fs, built);
        if (built == kNone) return false;
        m.currentContext = built;
        return true;
    }
    // U2b: append sym to the raw text.
    UnitAllocator& a = m.alloc;
    at(m, a.textTop)[0] = uint8_t(sym);
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
        setSuccessor(m, fs, a.textTop);
        ++m.orderDeficit;
        if (p == kNone) {
            fSucc = c;
        } else {
            Ref x = suffix(m, c);
            bool reachedRoot = false;
            for (;;) {
                if (successor(m, p) != kNone) break;
                setSuccessor(m, p, a.textTop);
                ++m.orderDeficit;
                if (suffix(m, x) == kNone) {
                    fSucc = x;
                    reachedRoot = true;
                    break;
                }
                x = suffix(m, x);
                p = findState(m, x, sym);
                raiseInWalk(m, x, p);
            }
            if (!reachedRoot) {
                Ref e = successor(m, p);
                if (e <= a.textTop) {
                    m.codedState = p;
                    e = buildSuccessors(m, false, kNone, x);
                    setSuccessor(m, p, e);
                    m.codedState = fs;
                }
                if (m.orderDeficit == 1 && bigM == c) {
                    setSuccessor(m, fs, e);
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
    const uint32_t s0 = totalFreq(m, c) - freq(m, fs);
    const uint32_t cf = freq(m, fs) - 1;
    const uint32_t nc = lastIndex(m, c);
    const uint32_t hi = sym >= kHighSymbol ? 0x08 : 0;

    // U5: every context from M down to, not including, c receives sym.
    for (Ref pc = bigM; pc != c; pc = suffix(m, pc)) {
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

void updateAfterSymbol(Model& m) {
    ++m.symbolsUpdated;
    if (!updateModel(m)) resetModel(m);
}

void rescaleContext(Model& m, Ref c) {
    setFlags(m, c, flags(m, c) & 0x14);
    const Ref first = states(m, c);
    // Move the raised state to the front, the ones before it up one place.
    for (Ref s = m.codedState; s != first; s -= kStateBytes) swapStates(m, s, s - kStateBytes);

    const uint32_t total = totalFreq(m, c);  // S
    const uint32_t frontFreq = freq(m, first);  // F
    const uint32_t adder = m.orderDeficit != 0 ? 1 : 0;
    uint32_t escape = total - frontFreq;  // E
    uint32_t newTotal = (frontFreq + adder) >> 1;
    setFreq(m, first, newTotal);

    const uint32_t last = lastIndex(m, c);
    for (uint32_t i = 1; i <= last; ++i) {
        Ref s = first + i * kStateBytes;
        const uint32_t old = freq(m, s);
        escape -= old;
        const uint32_t halved = (old + adder) >> 1;
        setFreq(m, s, halved);
        newTotal += halved;
        if (halved == 0) continue;
        if (symbol(m, s) >= kHighSymbol) setFlags(m, c, flags(m, c) | 0x08);
        // Keep the array sorted: move it forward past every smaller frequency.
        while (s != first && freq(m, s - kStateBytes) < halved) {
            swapStates(m, s, s - kStateBytes);
            s -= kStateBytes;
        }
    }
    setTotalFreq(m, c, newTotal);

    uint32_t zeros = 0;
    while (zeros < last && freq(m, first + (last - zeros) * kStateBytes) == 0) ++zeros;
    if (zeros > 0) {
        const uint32_t oldCount = last + 1;
        const uint32_t newLast = last - zeros;
        setLastIndex(m, c, newLast);
        escape += zeros;
        if (newLast == 0) {
            // One symbol left: the context goes back to an inline state.
            const uint32_t tSymbol = symbol(m, first);
            const uint32_t tFreq = freq(m, first);
            const Ref tSuccessor = successor(m, first);
            const uint32_t g = (2 * tFreq + escape - 1) / escape;
            setFlags(m, c, flags(m, c) & 0x18);
            releaseStates(m.alloc, first, (oldCount + 1) / 2);
            setState(m, inlineState(c), tSymbol, std::min(g, kRescaledBinaryCap), tSuccessor);
            m.codedState = inlineState(c);
            return;
        }
        setStates(m, c, shrinkStates(m.alloc, first, (oldCount + 1) / 2, (newLast + 2) / 2));
    }

    const Ref front = states(m, c);
    const uint32_t t = totalFreq(m, c) + ((escape + 1) >> 1);
    uint32_t inc;
    if (m.orderDeficit == 0 && (flags(m, c) & 0x04) != 0) {
        inc = 2;
    } else {
        const uint32_t aa = total - escape;
        const uint32_t bb = aa - frontFreq;
        const int32_t num = int32_t(bb - 1 - freq(m, front) * aa + frontFreq * t);
        const int32_t q = bb != 0 ? num / int32_t(bb) : 0;
        const uint32_t uq = uint32_t(q);
        inc = uq <= 1 ? 2 : uq > 44 ? 44 : uq;
    }
    setFreq(m, front, freq(m, front) + inc);
    setTotalFreq(m, c, t + inc);
    setFlags(m, c, flags(m, c) | 0x04);
    m.codedState = front;
}

}  // namespace qex
