// QEX_ASSERT(condition): an invariant that the surrounding comments state,
// checked where breaking it would corrupt data or the stream. Every layer
// may include this header; it depends on nothing of the project.
//
// Checked in Debug builds (NDEBUG not defined) and in sanitizer and fuzz
// builds, whose CMake options define QEX_CHECK_INVARIANTS; compiled out of
// Release builds, where the condition is not evaluated, so the per-byte code
// is the same as without it. A broken invariant prints the condition and its
// place on standard error and aborts: the state is no longer sound, and
// going on could only write a damaged stream or damaged files.
#pragma once

#if !defined(NDEBUG) || defined(QEX_CHECK_INVARIANTS)

#include <cstdio>
#include <cstdlib>

namespace qex {

[[noreturn]] inline void invariantBroken(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

}  // namespace qex

#define QEX_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : ::qex::invariantBroken(#condition, __FILE__, __LINE__))

#else

// Not evaluated; sizeof keeps names used only here from counting as unused.
#define QEX_ASSERT(condition) static_cast<void>(sizeof(!(condition)))

#endif
