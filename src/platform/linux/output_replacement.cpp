// Linux side of replacing an output file: stat, realpath, open with O_EXCL,
// fchmod, fsync and rename (see output_replacement.h).
#include "platform/output_replacement.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>

#include "platform/temporary_names.h"

namespace qex {
namespace {

// Names tried before giving up: each collides only with a file that took
// the same six random characters.
constexpr int kNameAttempts = 100;
// A name's limit when the system cannot say (that of every common Linux
// file system).
constexpr size_t kDefaultNameLimit = 255;

uint64_t nameEntropy() {
    static std::atomic<uint64_t> calls{0};
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 30) ^
           (static_cast<uint64_t>(::getpid()) << 16) ^ (calls.fetch_add(1) * 0x9E3779B97F4A7C15u);
}

// The longest name the folder of `finalPath` takes, in bytes.
size_t nameLimitBeside(const std::string& finalPath) {
    const size_t slash = finalPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : finalPath.substr(0, slash);
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<size_t>(limit) : kDefaultNameLimit;
}

}  // namespace

SystemResult<OutputPlace> examineOutputPlace(const std::string& path) {
    OutputPlace place;
    place.finalPath = path;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) return {place, errno};
        // Nothing there, or a link that leads nowhere: following it would
        // create a file wherever the link says, and replacing it would
        // break the rule that a link at the archive's path stays.
        struct stat own {};
        place.danglingLink = ::lstat(path.c_str(), &own) == 0 && S_ISLNK(own.st_mode);
        return {place, 0};
    }
    place.existing.known = true;
    place.existing.regular = S_ISREG(info.st_mode);
    place.existing.device = info.st_dev;
    place.existing.inode = info.st_ino;
    place.direct = !S_ISREG(info.st_mode);
    struct stat linkInfo {};
    if (!place.direct && ::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        std::unique_ptr<char, decltype(&::free)> resolved(::realpath(path.c_str(), nullptr), &::free);
        if (!resolved) return {place, errno};
        place.finalPath = resolved.get();
    }
    return {place, 0};
}

SystemResult<TemporaryFile> createTemporaryBeside(const std::string& finalPath) {
    const size_t nameLimit = nameLimitBeside(finalPath);
    struct stat replaced {};
    const bool replacing = ::stat(finalPath.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode);
    int error = EEXIST;
    for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
        TemporaryFile temporary;
        temporary.path = temporaryNameBeside(finalPath, nameEntropy(), nameLimit);
        int fd;
        do {
            fd = ::open(temporary.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            error = errno;
            continue;
        }
        // Best effort: a file system without permission bits keeps its own.
        if (replacing) (void)::fchmod(fd, replaced.st_mode & 07777);
        temporary.file = fd;
        return {temporary, 0};
    }
    return {{}, error};
}

SystemStatus flushToStorage(FileHandle file) {
    int result;
    do {
        result = ::fsync(file);
    } while (result != 0 && errno == EINTR);
    // A pipe, socket or device that cannot be synchronised has nothing to lose.
    if (result != 0 && errno != EINVAL && errno != EROFS) return {errno};
    return {};
}

SystemStatus replaceWithTemporary(const std::string& temporaryPath, const std::string& finalPath) {
    return ::rename(temporaryPath.c_str(), finalPath.c_str()) == 0 ? SystemStatus{} : SystemStatus{errno};
}

}  // namespace qex
