// The context tree and the model's global state.
//
// A ContextNode is exactly one 12-byte unit:
//   [0] lastIndex (symbols - 1)   [1] flags (kFlag* below; never above 0x1C)
//   [2..3] totalFreq  [4..7] states     (two or more symbols)
//   [2..7] the single SymbolState inline (one symbol)
//   [8..11] suffix, the context one order shorter (none for the root)
// A SymbolState is 6 bytes: [0] symbol, [1] freq, [2..5] successor. A
// successor below unitAreaStart is a raw-text position; at or above it, a
// context. Every symbol of a context is also present in its suffix; the
// root holds all 256 bytes.
#pragma once

#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/invariants.h"
#include "model/estimation_state.h"
#include "model/arena_refs.h"
#include "model/unit_allocator.h"

namespace qex {

inline constexpr int kOrderLimit = 8;
inline constexpr uint32_t kStateBytes = 6;

// The bits of a context's flags byte. The estimators add the byte to a table
// column, so the values are part of the format.
inline constexpr uint32_t kFlagRescaled = 0x04;            // the context has been rescaled
inline constexpr uint32_t kFlagHighSymbolPresent = 0x08;   // it holds a symbol >= kHighSymbol
inline constexpr uint32_t kFlagEnteredByHighSymbol = 0x10; // it was created after a symbol >= kHighSymbol
inline constexpr uint32_t kHighSymbol = 0x40;
// Told of each restart before the model starts over: statistics and tests
// learn where restarts fall without the model counting bytes.
struct RestartObserver {
    void (*restarted)(void* owner) = nullptr;  // null: nobody is told
    void* owner = nullptr;
};

struct Model {
    UnitAllocator alloc;
    Ref currentContext = kNone;  // where coding of the next symbol starts
    Ref codedState = kNone;      // the state of the symbol just coded, where it was found
    Ref foundContext = kNone;    // the context in which codedState was found
    // How many orders the context where the next byte's coding starts lies
    // below kOrderLimit: kOrderLimit at the start (the root), one more for
    // every escape to a shorter context, one less after every byte coded
    // below full order; 0 means full order, where successors are built
    // rather than written to the raw text. Within [0, kOrderLimit].
    int32_t orderDeficit = 0;
    EstimationState est;
    // Statistics, touched only when the model restarts; not part of the coding.
    uint32_t restarts = 0;
    RestartObserver restartObserver;
};

// --- field access -----------------------------------------------------------

// The arena as the per-byte code reads it: its base, held by value. The
// fields are bytes, and a byte store may alias anything, so code that reached
// the base through the Model would reload it after every store; a local view
// stays in a register. A Model converts to its view wherever one is expected.
struct ArenaView {
    uint8_t* base;
    ArenaView(const Model& m) : base(m.alloc.arenaBase) {}  // NOLINT: implicit on purpose
};

inline uint8_t* at(ArenaView a, Ref r) { return a.base + r; }

inline uint32_t lastIndex(ArenaView arena, Ref c) { return at(arena, c)[0]; }
inline void setLastIndex(ArenaView arena, Ref c, uint32_t v) { at(arena, c)[0] = uint8_t(v); }
inline uint32_t flags(ArenaView arena, Ref c) { return at(arena, c)[1]; }
inline void setFlags(ArenaView arena, Ref c, uint32_t v) { at(arena, c)[1] = uint8_t(v); }
// For a one-symbol context these two bytes are its state's symbol and freq;
// the model reads them as a total where the update does so too.
inline uint32_t totalFreq(ArenaView arena, Ref c) { return load16(at(arena, c) + 2); }
inline void setTotalFreq(ArenaView arena, Ref c, uint32_t v) { store16(at(arena, c) + 2, uint16_t(v)); }
inline Ref states(ArenaView arena, Ref c) { return load32(at(arena, c) + 4); }
inline void setStates(ArenaView arena, Ref c, Ref v) { store32(at(arena, c) + 4, v); }
inline Ref suffix(ArenaView arena, Ref c) { return load32(at(arena, c) + 8); }
inline void setSuffix(ArenaView arena, Ref c, Ref v) { store32(at(arena, c) + 8, v); }
inline Ref inlineState(Ref c) { return c + 2; }

inline uint32_t symbol(ArenaView arena, Ref s) { return at(arena, s)[0]; }
inline uint32_t freq(ArenaView arena, Ref s) { return at(arena, s)[1]; }
inline void setFreq(ArenaView arena, Ref s, uint32_t v) { at(arena, s)[1] = uint8_t(v); }
inline Ref successor(ArenaView arena, Ref s) { return load32(at(arena, s) + 2); }
inline void setSuccessor(ArenaView arena, Ref s, Ref v) { store32(at(arena, s) + 2, v); }
inline void setState(ArenaView arena, Ref s, uint32_t sym, uint32_t f, Ref succ) {
    at(arena, s)[0] = uint8_t(sym);
    at(arena, s)[1] = uint8_t(f);
    store32(at(arena, s) + 2, succ);
}
inline void swapStates(ArenaView arena, Ref a, Ref b) {
    uint8_t t[kStateBytes];
    std::memcpy(t, at(arena, a), kStateBytes);
    std::memcpy(at(arena, a), at(arena, b), kStateBytes);
    std::memcpy(at(arena, b), t, kStateBytes);
}

// Long state arrays are searched eight states (48 bytes) a step: the symbol
// bytes sit at every sixth byte, so one byte compare over the block, kept at
// those places, finds a symbol. Only bytes of the array itself are read.
inline constexpr uint32_t kSearchBlockStates = 8;

#if defined(__SSE2__)
// Bit 6i is set when the i-th state of the block at p holds the wanted byte.
inline uint64_t symbolHitsInBlock(const uint8_t* p, __m128i wanted) {
    constexpr uint64_t kSymbolPlaces = 0x041041041041;  // bits 0, 6, ..., 42
    auto matches = [&wanted](const uint8_t* q) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        return uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted))));
    };
    return (matches(p) | matches(p + 16) << 16 | matches(p + 32) << 32) & kSymbolPlaces;
}
#endif

// The index of `sym` in an array of `count` states, or `count` when it is
// absent. With kKnownPresent the caller vouches that the array holds it, and
// the last few states are searched without a bound check.
template <bool kKnownPresent = false>
inline uint32_t findSymbol(const uint8_t* array, uint32_t count, uint32_t sym) {
    uint32_t i = 0;
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(char(sym));
    for (; count - i >= kSearchBlockStates; i += kSearchBlockStates) {
        const uint64_t hits = symbolHitsInBlock(array + i * kStateBytes, wanted);
        if (hits != 0) return i + uint32_t(std::countr_zero(hits)) / kStateBytes;
    }
#endif
    while ((kKnownPresent || i != count) && array[i * kStateBytes] != sym) ++i;
    return i;
}

// The state of `sym` in a context that is known to hold it.
inline Ref findState(ArenaView arena, Ref c, uint32_t sym) {
    const uint32_t li = lastIndex(arena, c);
    if (li == 0) return inlineState(c);
    const Ref first = states(arena, c);
    return first + findSymbol<true>(at(arena, first), li + 1, sym) * kStateBytes;
}

// Asks for the state array of c's suffix ahead of time: the update after
// most symbols searches it, and the coding of the symbol in c overlaps the
// fetch. A hint only: it reads what the update reads anyway, writes nothing.
inline void prefetchSuffixStates(ArenaView arena, Ref c) {
    const Ref s = suffix(arena, c);
    if (s != kNone && lastIndex(arena, s) != 0) __builtin_prefetch(at(arena, states(arena, s)));
}

// Asks for what a state's successor names (the next symbol's context, or a
// text position the update reads) while the current symbol is still being
// coded. A hint only; it writes nothing.
inline void prefetchSuccessor(ArenaView arena, Ref s) { __builtin_prefetch(at(arena, successor(arena, s))); }

inline bool isContext(const Model& m, Ref r) { return r >= m.alloc.unitAreaStart; }

// --- model start and restart --------------------------------------------------

// Starts the model over an arena (fresh or reused): tree, allocator and
// estimation state in their start values. The arena's contents are not cleared.
void startModel(Model& m, uint8_t* arenaBase, uint32_t arenaSize);

// Restart on exhausted memory: the same start over the same arena, keeping
// lastBinaryProbability and maskedLastIndex.
void resetModel(Model& m);

// --- model update (after every coded byte) -----------------------------------

// Everything but the commonest case: the update proper, and the restart
// when it exhausts the model's memory.
void updateAfterSymbolInFull(Model& m);

// At full order with a built successor the update only moves on to it; that
// case, most bytes of redundant input, is handled inline.
inline void updateAfterSymbol(Model& m) {
    const Ref next = successor(m, m.codedState);
    if (m.orderDeficit == 0 && isContext(m, next)) {
        m.currentContext = next;
        return;
    }
    updateAfterSymbolInFull(m);
}
void rescaleContext(Model& m, Ref c);

// The frequency a context gets for a symbol it escaped, from the context where
// the symbol was found: `othersFreq` = its total less the symbol's frequency,
// `extraFreq` = the symbol's frequency less one. Raises `total` (the
// receiving context's) by the share the new symbol takes.
uint32_t newSymbolFreq(uint32_t othersFreq, uint32_t extraFreq, uint32_t& total);

// A one-symbol context's frequency when it becomes the first of two.
inline uint32_t promotedFreq(uint32_t f) { return f > 41 ? 109 : 2 * f - 1; }

}  // namespace qex
