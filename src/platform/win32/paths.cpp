// Windows side of full paths: the system resolves them (GetFullPathNameW)
// and every one is given the long-path prefix, unless it already begins
// with two backslashes (see paths.h).
#include "platform/paths.h"

#include "platform/win32/system_paths.h"

namespace qex {

namespace win32 {

namespace {

constexpr std::wstring_view kWideLongPathPrefix = L"\\\\?\\";

bool beginsWithTwoBackslashes(std::wstring_view path) {
    return path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
}

}  // namespace

SystemResult<std::wstring> systemFullPath(const std::wstring& path) {
    if (path.empty()) return {{}, ERROR_INVALID_NAME};
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) return {{}, lastError()};
        if (length < buffer.size()) {
            buffer.resize(length);
            return {std::move(buffer), 0};
        }
        buffer.assign(length, L'\0');  // the size asked for includes the terminator
    }
}

SystemResult<std::wstring> systemPath(std::wstring wideForm) {
    if (beginsWithTwoBackslashes(wideForm)) return {std::move(wideForm), 0};
    SystemResult<std::wstring> full = systemFullPath(wideForm);
    if (!full.ok() || beginsWithTwoBackslashes(full.value)) return full;
    return {std::wstring(kWideLongPathPrefix) + full.value, 0};
}

SystemResult<std::wstring> systemPath(std::string_view native) { return systemPath(wide(native)); }

}  // namespace win32

SystemResult<std::string> fullPath(std::string_view path) {
    const SystemResult<std::wstring> full = win32::systemPath(win32::wide(path));
    if (!full.ok()) return {{}, full.error};
    return {utf16ToNative(win32::units(full.value)), 0};
}

}  // namespace qex
