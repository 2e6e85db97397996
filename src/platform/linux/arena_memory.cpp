// Linux arena memory: an anonymous private mapping, committed lazily.
#include "platform/arena_memory.h"

#include <sys/mman.h>

namespace qex {

void* reserveArena(size_t bytes) {
    if (bytes == 0) return nullptr;
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                   -1, 0);
    if (p == MAP_FAILED) return nullptr;
    // The model touches its arena all over: large pages spare most of the
    // address-translation misses. Only advice; pages still come on first touch.
    madvise(p, bytes, MADV_HUGEPAGE);
    return p;
}

void releaseArena(void* arena, size_t bytes) {
    if (arena != nullptr) munmap(arena, bytes);
}

}  // namespace qex
