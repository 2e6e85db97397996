// Windows side of the time stamps: SetFileTime with all three times; a time
// of 0 is handed on as "leave it".
#include "platform/file_times.h"

#include "platform/win32/system_paths.h"

namespace qex {

using namespace win32;

namespace {

struct TimeArguments {
    FILETIME values[3];
    const FILETIME* pointers[3];
};

TimeArguments argumentsOf(uint64_t creationTime, uint64_t lastAccessTime, uint64_t lastWriteTime) {
    TimeArguments args{};
    const uint64_t times[3] = {creationTime, lastAccessTime, lastWriteTime};
    for (int k = 0; k < 3; ++k) {
        args.values[k] = toFileTime(times[k]);
        args.pointers[k] = times[k] != 0 ? &args.values[k] : nullptr;
    }
    return args;
}

}  // namespace

SystemResult<std::tm> localTimeOf(uint64_t fileTime) {
    const time_t seconds = fileTimeToTimespec(fileTime).tv_sec;
    SystemResult<std::tm> result;
    if (::localtime_s(&result.value, &seconds) != 0) result.error = ERROR_INVALID_PARAMETER;
    return result;
}

SystemStatus setFileTimes(FileHandle file, uint64_t creationTime, uint64_t lastAccessTime, uint64_t lastWriteTime) {
    const TimeArguments args = argumentsOf(creationTime, lastAccessTime, lastWriteTime);
    return SetFileTime(handleOf(file), args.pointers[0], args.pointers[1], args.pointers[2]) ? SystemStatus{} : SystemStatus{lastError()};
}

}  // namespace qex
