// Windows side of the plain file access: CreateFileW, ReadFile, WriteFile,
// SetFilePointer and CloseHandle on full paths behind the long-path prefix.
// Files are shared for reading, writing and deleting, so qex never locks
// anyone else out of them.
#include "platform/file_io.h"

#include <algorithm>

#include "platform/win32/system_paths.h"

namespace qex {

using namespace win32;

namespace {

// Largest single read or write request: what one call's DWORD count holds,
// rounded down to a power of two.
constexpr size_t kMaxTransfer = size_t{1} << 30;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

SystemResult<FileHandle> openWith(const char* path, DWORD access, DWORD disposition) {
    const SystemResult<std::wstring> systemForm = systemPath(path);
    if (!systemForm.ok()) return {kNoFile, systemForm.error};
    const HANDLE handle =
        CreateFileW(systemForm.value.c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {kNoFile, lastError()};
    return {fileOf(handle), 0};
}

// SetFilePointer with its 64-bit position split in two halves; its failure
// is told apart from a position whose low half is all ones by the error.
SystemResult<int64_t> movePointer(FileHandle file, int64_t distance, DWORD method) {
    LONG high = static_cast<LONG>(distance >> 32);
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(handleOf(file), static_cast<LONG>(distance & 0xFFFFFFFF), &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return {-1, lastError()};
    return {static_cast<int64_t>((static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | low), 0};
}

}  // namespace

std::string systemReason(int error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) return "system error " + std::to_string(error);
    std::u16string reason = units(std::wstring_view(text, length));
    LocalFree(text);
    // The system ends its messages with a full stop and a line end; the
    // front end puts its own punctuation around them.
    while (!reason.empty() && (reason.back() == u'\n' || reason.back() == u'\r' || reason.back() == u' ' ||
                               reason.back() == u'.'))
        reason.pop_back();
    return consoleText(reason);
}

SystemResult<FileHandle> openForRead(const char* path) { return openWith(path, GENERIC_READ, OPEN_EXISTING); }

// A pipe's client end opens only once its server is there: no writer to wait for.
SystemResult<FileHandle> openNamedForRead(const char* path) { return openForRead(path); }

SystemResult<FileHandle> createForWrite(const char* path) { return openWith(path, GENERIC_WRITE, CREATE_ALWAYS); }

SystemResult<size_t> readFull(FileHandle file, uint8_t* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        const DWORD want = static_cast<DWORD>(std::min(count - done, kMaxTransfer));
        DWORD got = 0;
        if (!ReadFile(handleOf(file), buffer + done, want, &got, nullptr)) {
            // A pipe whose writer has gone is its end, as on Linux.
            if (GetLastError() == ERROR_BROKEN_PIPE) break;
            return {done, lastError()};
        }
        if (got == 0) break;
        done += got;
    }
    return {done, 0};
}

SystemStatus writeAll(FileHandle file, const uint8_t* data, size_t count) {
    size_t done = 0;
    do {
        const DWORD want = static_cast<DWORD>(std::min(count - done, kMaxTransfer));
        DWORD wrote = 0;
        if (!WriteFile(handleOf(file), data + done, want, &wrote, nullptr)) return {lastError()};
        if (wrote == 0 && want != 0) return {ERROR_DISK_FULL};  // no progress: the device is full
        done += wrote;
    } while (done < count);
    return {};
}

SystemResult<int64_t> seekTo(FileHandle file, int64_t offset) { return movePointer(file, offset, FILE_BEGIN); }

SystemResult<int64_t> fileSize(FileHandle file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handleOf(file), &size)) return {-1, lastError()};
    return {size.QuadPart, 0};
}

SystemStatus closeFile(FileHandle file) {
    if (!CloseHandle(handleOf(file))) return {lastError()};
    return {};
}

}  // namespace qex
