// QEX_ASSERT(condition): an invariant of the model that its comments state.
//
// Checked in Debug builds (NDEBUG not defined) and in sanitizer and fuzz
// builds, whose CMake options define QEX_CHECK_INVARIANTS; compiled out of
// Release builds, where the condition is not evaluated, so the per-byte code
// is the same as without it. A broken invariant prints the condition and its
// place on standard error and aborts: the model's state is no longer sound,
// and going on could only write a damaged stream.
#pragma once

#if !defined(NDEBUG) || defined(QEX_CHECK_INVARIANTS)

#include <cstdio>
#include <cstdlib>

namespace qex {

[[noreturn]] inline void modelInvariantBroken(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: model invariant broken: %s\n", file, line, condition);
    std::abort();
}

}  // namespace qex

#define QEX_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : ::qex::modelInvariantBroken(#condition, __FILE__, __LINE__))

#else

// Not evaluated; sizeof keeps names used only here from counting as unused.
#define QEX_ASSERT(condition) static_cast<void>(sizeof(!(condition)))

#endif
