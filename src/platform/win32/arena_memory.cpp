// Windows arena memory: VirtualAlloc. Committed pages cost nothing until
// they are touched, and then read as zero.
#include "platform/arena_memory.h"

#include <windows.h>

namespace qex {

void* reserveArena(size_t bytes) {
    if (bytes == 0) return nullptr;
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void releaseArena(void* arena, size_t /*bytes*/) {
    if (arena != nullptr) VirtualFree(arena, 0, MEM_RELEASE);
}

}  // namespace qex
