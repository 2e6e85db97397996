// Linux side of the sparse write (see sparse_write.h): whole blocks of zeros
// are sought past, the file's length is set at the end.
#include "platform/sparse_write.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qex {
namespace {

bool allZero(const uint8_t* data, size_t count) {
    return count == 0 || (data[0] == 0 && std::memcmp(data, data + 1, count - 1) == 0);
}

// Moves the file position past the zeros skipped so far.
SystemStatus seekPastSkipped(SparseWrite& write) {
    if (write.pendingSkip == 0) return {};
    if (::lseek(write.file, static_cast<off_t>(write.pendingSkip), SEEK_CUR) < 0) return {errno};
    write.pendingSkip = 0;
    return {};
}

SystemStatus writeAfterSkipped(SparseWrite& write, const uint8_t* data, size_t count) {
    const SystemStatus sought = seekPastSkipped(write);
    if (!sought.ok()) return sought;
    return writeAll(write.file, data, count);
}

// Whole blocks: runs of written blocks go out in one call, runs of zero
// blocks become one seek.
SystemStatus writeBlocks(SparseWrite& write, const uint8_t* data, size_t count) {
    if (count == 0) return {};
    const size_t block = write.blockBytes;
    size_t runStart = 0;  // the first block of the current run to be written
    for (size_t at = 0; at < count; at += block) {
        if (!allZero(data + at, block)) continue;
        if (at > runStart) {
            const SystemStatus written = writeAfterSkipped(write, data + runStart, at - runStart);
            if (!written.ok()) return written;
        }
        write.pendingSkip += block;
        runStart = at + block;
    }
    write.lastBlockSkipped = runStart == count;
    if (runStart == count) return {};
    return writeAfterSkipped(write, data + runStart, count - runStart);
}

}  // namespace

void startSparseWrite(SparseWrite& write, FileHandle file) {
    write.file = file;
    write.total = 0;
    write.pendingSkip = 0;
    write.lastBlockSkipped = false;
    write.carry.clear();
    struct stat info {};
    write.blockBytes = ::fstat(file, &info) == 0 && info.st_blksize > 0 ? static_cast<size_t>(info.st_blksize) : 0;
    write.carry.reserve(write.blockBytes);
}

SystemStatus writeSparse(SparseWrite& write, const uint8_t* data, size_t count) {
    write.total += count;
    const size_t block = write.blockBytes;
    if (block == 0) return writeAll(write.file, data, count);
    if (!write.carry.empty()) {
        const size_t take = std::min(count, block - write.carry.size());
        write.carry.insert(write.carry.end(), data, data + take);
        data += take;
        count -= take;
        if (write.carry.size() < block) return {};
        const SystemStatus written = writeBlocks(write, write.carry.data(), block);
        write.carry.clear();
        if (!written.ok()) return written;
    }
    const size_t whole = count - count % block;
    const SystemStatus written = writeBlocks(write, data, whole);
    if (!written.ok()) return written;
    write.carry.assign(data + whole, data + count);
    return {};
}

SystemStatus finishSparseWrite(SparseWrite& write) {
    if (!write.carry.empty()) {
        if (write.lastBlockSkipped && allZero(write.carry.data(), write.carry.size())) {
            write.pendingSkip += write.carry.size();
        } else {
            const SystemStatus written = writeAfterSkipped(write, write.carry.data(), write.carry.size());
            if (!written.ok()) return written;
        }
        write.carry.clear();
    }
    if (write.pendingSkip == 0) return {};
    // A hole at the end: only the length makes the file whole.
    if (::ftruncate(write.file, static_cast<off_t>(write.total)) != 0) return {errno};
    write.pendingSkip = 0;
    return {};
}

}  // namespace qex
