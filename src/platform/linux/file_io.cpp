// Linux side of the plain file access: POSIX descriptors, EINTR retried.
#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qex {

// Largest single read or write request; the kernel caps one call near 2 GiB.
constexpr size_t kMaxTransfer = size_t{1} << 30;

std::string systemReason(int error) {
    char buffer[256];
    // The GNU variant may return a static string instead of filling buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return text;
}

SystemResult<FileHandle> openForRead(const char* path) {
    // Without O_NONBLOCK, opening a named pipe that took a file's place
    // would wait for a writer forever; reads block again as usual.
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return {kNoFile, errno};
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        const int error = errno;
        ::close(fd);
        return {kNoFile, error};
    }
    return {fd, 0};
}

SystemResult<FileHandle> createForWrite(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return {kNoFile, errno};
    return {fd, 0};
}

SystemResult<size_t> readFull(FileHandle file, uint8_t* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        size_t want = count - done < kMaxTransfer ? count - done : kMaxTransfer;
        ssize_t got = ::read(file, buffer + done, want);
        if (got < 0) {
            if (errno == EINTR) continue;
            return {done, errno};
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return {done, 0};
}

SystemStatus writeAll(FileHandle file, const uint8_t* data, size_t count) {
    size_t done = 0;
    while (done < count) {
        size_t want = count - done < kMaxTransfer ? count - done : kMaxTransfer;
        ssize_t put = ::write(file, data + done, want);
        if (put < 0) {
            if (errno == EINTR) continue;
            return {errno};
        }
        if (put == 0) return {ENOSPC};
        done += static_cast<size_t>(put);
    }
    return {};
}

SystemResult<int64_t> seekTo(FileHandle file, int64_t offset) {
    const off_t at = ::lseek(file, offset, SEEK_SET);
    if (at < 0) return {-1, errno};
    return {at, 0};
}

SystemResult<int64_t> fileSize(FileHandle file) {
    struct stat info;
    if (::fstat(file, &info) != 0) return {-1, errno};
    return {info.st_size, 0};
}

SystemStatus closeFile(FileHandle file) {
    // Linux releases the descriptor even when close reports EINTR, so it is
    // never retried: a retry could close a descriptor another thread just got.
    if (::close(file) != 0 && errno != EINTR) return {errno};
    return {};
}

}  // namespace qex
