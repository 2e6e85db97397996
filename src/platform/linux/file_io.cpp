// Linux side of the plain file access: POSIX descriptors, EINTR retried.
#include "platform/file_io.h"

#include <fcntl.h>
#include <poll.h>
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

namespace {

// Opens with O_NONBLOCK, so that a named pipe that took a file's place never
// holds the open waiting for a writer. With `waitForWriter` a named pipe is
// then held until its first writer comes: a reader ahead of every writer
// would read the end at once, and poll reports nothing on a pipe that never
// had a writer. Reads block again as usual.
SystemResult<FileHandle> openReading(const char* path, bool waitForWriter) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return {kNoFile, errno};
    struct stat st;
    int ready = 0;
    if (waitForWriter && ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) {
        pollfd writerCame{fd, POLLIN, 0};
        do {
            ready = ::poll(&writerCame, 1, -1);
        } while (ready < 0 && errno == EINTR);
    }
    if (ready >= 0) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) return {fd, 0};
    }
    const int error = errno;
    ::close(fd);
    return {kNoFile, error};
}

}  // namespace

SystemResult<FileHandle> openForRead(const char* path) { return openReading(path, false); }

SystemResult<FileHandle> openNamedForRead(const char* path) { return openReading(path, true); }

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
