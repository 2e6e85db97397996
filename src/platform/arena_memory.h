// The one large allocation of the context model: its arena.
//
// Pages are reserved up front and committed by the system on first touch, so a
// small input costs little memory. Fresh pages read as zero; the model relies
// on nothing else about them. Failure is reported as null, never thrown.
#pragma once

#include <cstddef>

namespace qex {

void* reserveArena(size_t bytes);
void releaseArena(void* arena, size_t bytes);

}  // namespace qex
