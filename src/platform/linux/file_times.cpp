// Linux side of the time stamps: futimens on an open file.
#include "platform/file_times.h"

#include <sys/stat.h>

#include <cerrno>

namespace qex {

namespace {

void fillTimes(timespec (&times)[2], uint64_t lastAccessTime, uint64_t lastWriteTime) {
    times[0] = fileTimeToTimespec(lastAccessTime);
    times[1] = fileTimeToTimespec(lastWriteTime);
    if (lastAccessTime == 0) times[0].tv_nsec = UTIME_OMIT;
    if (lastWriteTime == 0) times[1].tv_nsec = UTIME_OMIT;
}

}  // namespace

SystemResult<std::tm> localTimeOf(uint64_t fileTime) {
    const time_t seconds = fileTimeToTimespec(fileTime).tv_sec;
    SystemResult<std::tm> result;
    if (::localtime_r(&seconds, &result.value) == nullptr) result.error = errno;
    return result;
}

SystemStatus setFileTimes(FileHandle file, uint64_t /*creationTime*/, uint64_t lastAccessTime, uint64_t lastWriteTime) {
    timespec times[2];
    fillTimes(times, lastAccessTime, lastWriteTime);
    return ::futimens(file, times) == 0 ? SystemStatus{} : SystemStatus{errno};
}

}  // namespace qex
