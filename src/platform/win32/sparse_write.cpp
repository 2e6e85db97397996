// Windows side of the sparse write: every byte is written as it comes.
#include "platform/sparse_write.h"

namespace qex {

void startSparseWrite(SparseWrite& write, FileHandle file) {
    write.file = file;
    write.total = 0;
}

SystemStatus writeSparse(SparseWrite& write, const uint8_t* data, size_t count) {
    write.total += count;
    return writeAll(write.file, data, count);
}

SystemStatus finishSparseWrite(SparseWrite&) { return {}; }

}  // namespace qex
