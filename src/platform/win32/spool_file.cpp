// Windows side of spool_file.h: a temporary file deleted when it closes.
#include "platform/spool_file.h"

#include "platform/win32/system_paths.h"

namespace qex {

using namespace win32;

bool readsAtOffsets(FileHandle file) { return GetFileType(handleOf(file)) == FILE_TYPE_DISK; }

SystemResult<FileHandle> createSpoolFile() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return {kNoFile, lastError()};
    wchar_t name[MAX_PATH];
    if (GetTempFileNameW(folder, L"qex", 0, name) == 0) return {kNoFile, lastError()};
    const HANDLE handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const int error = lastError();
        DeleteFileW(name);
        return {kNoFile, error};
    }
    return {fileOf(handle), 0};
}

namespace {

SystemResult<FileHandle> duplicate(DWORD which) {
    const HANDLE stream = GetStdHandle(which);
    if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return {kNoFile, ERROR_INVALID_HANDLE};
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), stream, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return {kNoFile, lastError()};
    return {fileOf(copy), 0};
}

}  // namespace

SystemResult<FileHandle> duplicateStandardInput() { return duplicate(STD_INPUT_HANDLE); }
SystemResult<FileHandle> duplicateStandardOutput() { return duplicate(STD_OUTPUT_HANDLE); }

bool standardInputIsTerminal() {
    DWORD mode = 0;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    return GetFileType(input) == FILE_TYPE_CHAR && GetConsoleMode(input, &mode) != 0;
}

}  // namespace qex
