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

FileHandle openWith(const char* path, DWORD access, DWORD disposition, int& error) {
    const std::wstring systemForm = systemPath(path, error);
    if (systemForm.empty()) return kNoFile;
    const HANDLE handle =
        CreateFileW(systemForm.c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = lastError();
        return kNoFile;
    }
    return fileOf(handle);
}

// SetFilePointer with its 64-bit position split in two halves; its failure
// is told apart from a position whose low half is all ones by the error.
int64_t movePointer(FileHandle file, int64_t distance, DWORD method, int& error) {
    LONG high = static_cast<LONG>(distance >> 32);
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(handleOf(file), static_cast<LONG>(distance & 0xFFFFFFFF), &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        error = lastError();
        return -1;
    }
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | low);
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

FileHandle openForRead(const char* path, int& error) { return openWith(path, GENERIC_READ, OPEN_EXISTING, error); }

FileHandle createForWrite(const char* path, int& error) {
    return openWith(path, GENERIC_WRITE, CREATE_ALWAYS, error);
}

int64_t readFull(FileHandle file, uint8_t* buffer, size_t count, int& error) {
    size_t done = 0;
    while (done < count) {
        const DWORD want = static_cast<DWORD>(std::min(count - done, kMaxTransfer));
        DWORD got = 0;
        if (!ReadFile(handleOf(file), buffer + done, want, &got, nullptr)) {
            // A pipe whose writer has gone is its end, as on Linux.
            if (GetLastError() == ERROR_BROKEN_PIPE) break;
            error = lastError();
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return static_cast<int64_t>(done);
}

bool writeAll(FileHandle file, const uint8_t* data, size_t count, int& error) {
    size_t done = 0;
    do {
        const DWORD want = static_cast<DWORD>(std::min(count - done, kMaxTransfer));
        DWORD wrote = 0;
        if (!WriteFile(handleOf(file), data + done, want, &wrote, nullptr)) {
            error = lastError();
            return false;
        }
        if (wrote == 0 && want != 0) {
            error = ERROR_DISK_FULL;  // no progress: the device is full
            return false;
        }
        done += wrote;
    } while (done < count);
    return true;
}

int64_t seekTo(FileHandle file, int64_t offset, int& error) { return movePointer(file, offset, FILE_BEGIN, error); }

int64_t seekFromEnd(FileHandle file, int64_t offsetBack, int& error) {
    return movePointer(file, -offsetBack, FILE_END, error);
}

int64_t fileSize(FileHandle file, int& error) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handleOf(file), &size)) {
        error = lastError();
        return -1;
    }
    return size.QuadPart;
}

bool closeFile(FileHandle file, int& error) {
    if (!CloseHandle(handleOf(file))) {
        error = lastError();
        return false;
    }
    return true;
}

}  // namespace qex
