// Windows side of console.h: a console handle answers GetConsoleMode; a
// file, a pipe or the NUL device does not. A console gets text as UTF-16;
// anything else gets it in the console's output code page.
#include "platform/console.h"

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace qex {

namespace {

// Units per WriteConsoleW call: older consoles refuse very long writes.
constexpr size_t kConsoleWriteUnits = 8192;

HANDLE handleOf(std::FILE* stream) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))); }

std::wstring wideOf(std::string_view utf8) {
    const int size = static_cast<int>(utf8.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring text(static_cast<size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), units);
    return text;
}

bool writeToConsole(HANDLE console, const std::wstring& text) {
    for (size_t at = 0; at < text.size();) {
        size_t count = std::min(kConsoleWriteUnits, text.size() - at);
        // A surrogate pair stays in one call.
        if (at + count < text.size() && text[at + count - 1] >= 0xD800 && text[at + count - 1] < 0xDC00) --count;
        DWORD written = 0;
        if (!WriteConsoleW(console, text.data() + at, static_cast<DWORD>(count), &written, nullptr) || written == 0) {
            errno = EIO;
            return false;
        }
        at += written;
    }
    return true;
}

// The text in the console's output code page; characters it lacks as the
// system renders them.
std::string inCodePage(std::string_view utf8) {
    const UINT codePage = GetConsoleOutputCP() != 0 ? GetConsoleOutputCP() : GetOEMCP();
    if (codePage == CP_UTF8) return std::string(utf8);
    const std::wstring text = wideOf(utf8);
    const int size = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string(text.size(), '?');
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), size, out.data(), bytes, nullptr, nullptr);
    return out;
}

}  // namespace

bool isTerminal(std::FILE* stream) {
    const HANDLE handle = handleOf(stream);
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

bool writeText(std::FILE* stream, std::string_view utf8) {
    if (utf8.empty()) return true;
    if (isTerminal(stream)) return std::fflush(stream) == 0 && writeToConsole(handleOf(stream), wideOf(utf8));
    const std::string bytes = inCodePage(utf8);
    return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

}  // namespace qex
