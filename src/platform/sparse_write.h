// Writing an extracted file so that runs of zero bytes become holes.
//
// The bytes are looked at in blocks of the file system's preferred size,
// aligned to the file's start. A whole block of zeros is not written: the
// file position moves past it, so nothing is allocated there (as
// `cp --sparse=auto` and `tar -S` do). Every other block is written, and so
// is a last partial block, unless it is zeros ending a run of skipped
// blocks. A block split between two calls is gathered first, so the 64 KiB
// chunks of the stream never break a run. finishSparseWrite gives the file
// its full size, which a hole at its end would otherwise leave short.
//
// The file must be new: its unwritten parts read as zeros. Windows writes
// every byte (its files are not sparse unless asked to be).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/file_io.h"
#include "platform/system_result.h"

namespace qex {

struct SparseWrite {
    FileHandle file = kNoFile;
    size_t blockBytes = 0;        // 0: every byte is written
    uint64_t total = 0;           // bytes handed in so far
    uint64_t pendingSkip = 0;     // zero bytes passed over, not yet sought past
    bool lastBlockSkipped = false;
    std::vector<uint8_t> carry;   // the start of a block whose rest has not come yet
};

// Starts writing the new, empty file `file` from its start. Reuses the
// memory of an earlier write through `write`.
void startSparseWrite(SparseWrite& write, FileHandle file);

// Hands the next `count` bytes of the file over; they reach the file now or
// at the latest in finishSparseWrite.
SystemStatus writeSparse(SparseWrite& write, const uint8_t* data, size_t count);

// Writes what is still gathered and gives the file its full size.
SystemStatus finishSparseWrite(SparseWrite& write);

}  // namespace qex
