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

FileHandle openForRead(const char* path, int& error) {
    // Without O_NONBLOCK, opening a named pipe that took a file's place
    // would wait for a writer forever; reads block again as usual.
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = errno;
        return kNoFile;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        error = errno;
        ::close(fd);
        return kNoFile;
    }
    return fd;
}

FileHandle createForWrite(const char* path, int& error) {
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) error = errno;
    return fd < 0 ? kNoFile : fd;
}

int64_t readFull(FileHandle file, uint8_t* buffer, size_t count, int& error) {
    size_t done = 0;
    while (done < count) {
        size_t want = count - done < kMaxTransfer ? count - done : kMaxTransfer;
        ssize_t got = ::read(file, buffer + done, want);
        if (got < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

bool writeAll(FileHandle file, const uint8_t* data, size_t count, int& error) {
    size_t done = 0;
    while (done < count) {
        size_t want = count - done < kMaxTransfer ? count - done : kMaxTransfer;
        ssize_t put = ::write(file, data + done, want);
        if (put < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        if (put == 0) {
            error = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

int64_t seekTo(FileHandle file, int64_t offset, int& error) {
    off_t at = ::lseek(file, offset, SEEK_SET);
    if (at < 0) error = errno;
    return at;
}

int64_t seekFromEnd(FileHandle file, int64_t offsetBack, int& error) {
    off_t at = ::lseek(file, -offsetBack, SEEK_END);
    if (at < 0) error = errno;
    return at;
}

int64_t fileSize(FileHandle file, int& error) {
    struct stat info;
    if (::fstat(file, &info) != 0) {
        error = errno;
        return -1;
    }
    return info.st_size;
}

bool closeFile(FileHandle file, int& error) {
    // Linux releases the descriptor even when close reports EINTR, so it is
    // never retried: a retry could close a descriptor another thread just got.
    if (::close(file) != 0 && errno != EINTR) {
        error = errno;
        return false;
    }
    return true;
}

}  // namespace qex
