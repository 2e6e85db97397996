// Windows side of replacing an output file: CreateFileW with CREATE_NEW,
// FlushFileBuffers and MoveFileExW with MOVEFILE_REPLACE_EXISTING (see
// output_replacement.h). The temporary takes the folder's inherited
// security like any new file.
#include "platform/output_replacement.h"

#include <atomic>
#include <cstdint>

#include "platform/temporary_names.h"
#include "platform/win32/system_paths.h"

namespace qex {

using namespace win32;

namespace {

// Names tried before giving up: each collides only with a file that took
// the same six random characters.
constexpr int kNameAttempts = 100;
// A name holds at most 255 UTF-16 units. The temporary's name is measured
// in bytes of its native (UTF-8) form, never fewer than its units, so
// keeping those within 255 keeps the units within it too.
constexpr size_t kNameLimitBytes = 255;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

uint64_t nameEntropy() {
    static std::atomic<uint64_t> calls{0};
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return static_cast<uint64_t>(counter.QuadPart) ^ (uint64_t{GetCurrentProcessId()} << 40) ^
           (calls.fetch_add(1) * 0x9E3779B97F4A7C15u);
}

}  // namespace

SystemResult<OutputPlace> examineOutputPlace(const std::string& path) {
    OutputPlace place;
    place.finalPath = path;
    const SystemResult<std::wstring> systemForm = systemPath(path);
    if (!systemForm.ok()) return {place, systemForm.error};
    const HANDLE handle = CreateFileW(systemForm.value.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            // Nothing there, or a link that leads nowhere (refused, as on Linux).
            const DWORD own = GetFileAttributesW(systemForm.value.c_str());
            place.danglingLink = own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            return {place, 0};
        }
        return {place, static_cast<int>(error)};
    }
    place.existing = identityOfFile(fileOf(handle));
    CloseHandle(handle);
    // Something is there (a device such as NUL, a pipe): written in place.
    place.direct = !place.existing.known || !place.existing.regular;
    return {place, 0};
}

SystemResult<TemporaryFile> createTemporaryBeside(const std::string& finalPath) {
    int error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < kNameAttempts && error == ERROR_FILE_EXISTS; ++attempt) {
        TemporaryFile temporary;
        temporary.path = temporaryNameBeside(finalPath, nameEntropy(), kNameLimitBytes);
        const SystemResult<std::wstring> systemForm = systemPath(temporary.path);
        if (!systemForm.ok()) return {{}, systemForm.error};
        const HANDLE handle = CreateFileW(systemForm.value.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error = lastError();
            continue;
        }
        temporary.file = fileOf(handle);
        return {temporary, 0};
    }
    return {{}, error};
}

SystemStatus flushToStorage(FileHandle file) {
    if (GetFileType(handleOf(file)) != FILE_TYPE_DISK) return {};
    return FlushFileBuffers(handleOf(file)) ? SystemStatus{} : SystemStatus{lastError()};
}

SystemStatus replaceWithTemporary(const std::string& temporaryPath, const std::string& finalPath) {
    const SystemResult<std::wstring> from = systemPath(temporaryPath);
    if (!from.ok()) return {from.error};
    const SystemResult<std::wstring> to = systemPath(finalPath);
    if (!to.ok()) return {to.error};
    return MoveFileExW(from.value.c_str(), to.value.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? SystemStatus{}
               : SystemStatus{lastError()};
}

}  // namespace qex
