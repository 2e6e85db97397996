// Linux side of spool_file.h: O_TMPFILE, else mkstemp and an immediate unlink.
#include "platform/spool_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace qex {

bool readsAtOffsets(FileHandle file) {
    struct stat st {};
    return ::fstat(file, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

SystemResult<FileHandle> createSpoolFile() {
    const char* folder = std::getenv("TMPDIR");
    const std::string dir = folder != nullptr && *folder != '\0' ? folder : "/tmp";
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) return {fd, 0};
    // Not every file system has O_TMPFILE: a named file, gone at once.
    std::string name = dir + "/.qex-spool-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);  // created 0600
    if (fd < 0) return {kNoFile, errno};
    if (::unlink(name.c_str()) != 0) {
        const int error = errno;
        ::close(fd);
        return {kNoFile, error};
    }
    return {fd, 0};
}

namespace {

SystemResult<FileHandle> duplicate(int fd) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) return {kNoFile, errno};
    return {copy, 0};
}

}  // namespace

SystemResult<FileHandle> duplicateStandardInput() { return duplicate(STDIN_FILENO); }
SystemResult<FileHandle> duplicateStandardOutput() { return duplicate(STDOUT_FILENO); }

bool standardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

}  // namespace qex
