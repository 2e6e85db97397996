// Windows side of full paths: the system resolves them (GetFullPathNameW)
// and every one is given the long-path prefix, unless it already begins
// with two backslashes (see paths.h).
#include "platform/paths.h"

#include <cerrno>

#include "platform/win32/system_paths.h"

namespace qex {

namespace win32 {

namespace {

constexpr std::wstring_view kWideLongPathPrefix = L"\\\\?\\";

bool beginsWithTwoBackslashes(std::wstring_view path) {
    return path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
}

}  // namespace

bool systemFullPath(const std::wstring& path, std::wstring& full, int& error) {
    if (path.empty()) {
        error = ERROR_INVALID_NAME;
        return false;
    }
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) {
            error = lastError();
            return false;
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            full = std::move(buffer);
            return true;
        }
        buffer.assign(length, L'\0');  // the size asked for includes the terminator
    }
}

std::wstring systemPath(std::wstring wideForm, int& error) {
    if (beginsWithTwoBackslashes(wideForm)) return wideForm;
    std::wstring full;
    if (!systemFullPath(wideForm, full, error)) return {};
    if (beginsWithTwoBackslashes(full)) return full;
    return std::wstring(kWideLongPathPrefix) + full;
}

std::wstring systemPath(std::string_view native, int& error) { return systemPath(wide(native), error); }

}  // namespace win32

bool fullPath(std::string_view path, std::string& result) {
    int error = 0;
    const std::wstring full = win32::systemPath(win32::wide(path), error);
    if (full.empty()) {
        errno = error;  // the front end shows it with systemReason
        return false;
    }
    result = utf16ToNative(win32::units(full));
    return true;
}

}  // namespace qex
