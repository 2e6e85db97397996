// Win32 helpers shared by the platform's Windows files: native strings as
// wide strings, and the form in which every path is handed to the system
// (a full path behind the long-path prefix, unless it already begins with
// two backslashes).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/file_io.h"
#include "platform/text_conversion.h"

namespace qex::win32 {

inline std::wstring wide(std::u16string_view units) { return std::wstring(units.begin(), units.end()); }
inline std::wstring wide(std::string_view native) { return wide(nativeToUtf16(native)); }
inline std::u16string units(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

inline HANDLE handleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
inline FileHandle fileOf(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }

inline int lastError() { return static_cast<int>(GetLastError()); }

// GetFullPathNameW into a buffer that grows as the system asks.
SystemResult<std::wstring> systemFullPath(const std::wstring& path);

// `path` as the system should be given it: a full path behind the
// long-path prefix, or unchanged when it begins with two backslashes. Fails
// when the path cannot be made full.
SystemResult<std::wstring> systemPath(std::string_view native);
SystemResult<std::wstring> systemPath(std::wstring wideForm);

// FILETIME as the archive's 64-bit count.
inline uint64_t fromFileTime(const FILETIME& time) {
    return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}
inline FILETIME toFileTime(uint64_t time) {
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(time);
    result.dwHighDateTime = static_cast<DWORD>(time >> 32);
    return result;
}

}  // namespace qex::win32
