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

namespace {

// Device names: the whole name, or the part before its first dot less
// trailing spaces, in any case ("nul.txt", "Com1 .log").
bool isDeviceName(std::u16string_view name) {
    static constexpr std::u16string_view kDevices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
    std::u16string base(name.substr(0, name.find(u'.')));
    while (!base.empty() && base.back() == u' ') base.pop_back();
    for (char16_t& unit : base)
        if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
    for (const std::u16string_view device : kDevices)
        if (base == device) return true;
    // COM0 to COM9 and LPT0 to LPT9, and with the superscript digits 1 to 3.
    if (base.size() != 4 || (base.compare(0, 3, u"COM") != 0 && base.compare(0, 3, u"LPT") != 0)) return false;
    const char16_t digit = base[3];
    return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' || digit == u'\u00B3';
}

}  // namespace

std::string unfitNameReason(std::u16string_view name) {
    if (name.find(u'\\') != std::u16string_view::npos)
        return "the name holds a backslash, which Windows reads as a folder separator";
    for (const char16_t unit : name)
        if (unit < 0x20 || std::u16string_view(u"<>:\"|?*").find(unit) != std::u16string_view::npos)
            return "the name holds a character Windows does not allow in names";
    if (!name.empty() && (name.back() == u'.' || name.back() == u' '))
        return "the name ends with a dot or a space, which Windows would drop";
    if (isDeviceName(name)) return "the name is a device name on Windows";
    return {};
}

}  // namespace qex
