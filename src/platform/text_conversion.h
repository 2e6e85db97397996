// Conversion between native names (byte strings, usually UTF-8) and the
// UTF-16 units that the archive stores and the front end passes around, and
// the text the console is given.
//
// On Linux, names are the file system's bytes. Invariant: every byte string
// survives nativeToUtf16 followed by utf16ToNative unchanged. Bytes that are
// not part of a valid UTF-8 sequence (stray continuations, truncated
// sequences, overlong forms, encoded surrogates, bytes 0xF5 and above)
// become the lone units 0xDC80 to 0xDCFF, and only lone units of that range
// turn back into single bytes. Other lone surrogates, which names written on
// other systems may hold, become their three-byte form.
//
// On Windows, the file system's names are UTF-16 and native strings are
// only their carrier: every unit sequence survives utf16ToNative followed
// by nativeToUtf16 unchanged (a lone surrogate travels as its three-byte
// form, a pair as one four-byte character), so a name the listing reports
// always opens again.
#pragma once

#include <string>
#include <string_view>

namespace qex {

// First and last unit that stands for one undecodable native byte
// (0xDC00 + byte, for bytes 0x80 to 0xFF).
inline constexpr char16_t kEscapedByteFirst = 0xDC80;
inline constexpr char16_t kEscapedByteLast = 0xDCFF;

// Native name bytes to UTF-16 units; never fails.
std::u16string nativeToUtf16(std::string_view bytes);

// UTF-16 units to native name bytes; never fails. The inverse of
// nativeToUtf16 on everything that function produces.
std::string utf16ToNative(std::u16string_view units);

// UTF-16 units to strict UTF-8 for the console: a surrogate pair becomes one
// four-byte character, every lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view units);

// A name for the console, in UTF-8 on every system (console.h's writeText
// hands it to a Windows console as UTF-16, or converts it to the console's
// code page when the stream is redirected). Its units first pass through
// escapedForConsole, so that no name can move the cursor, clear the screen
// or fake a line of output.
std::string consoleText(std::u16string_view units);

// A native path for the console, converted the same way.
std::string nativeToConsole(std::string_view native);

// `units` with everything a terminal would act on, or could not show,
// written as a visible escape. On Linux: \t, \n and \r; other C0 controls
// and DEL as three octal digits (\033, \177); C1 controls as \u0080 to
// \u009f; a unit standing for an undecodable native byte as \x80 to \xff;
// any other lone surrogate as \ud800 to \udfff; "\" as "\\". On Windows,
// where "\" separates folders, the unit's code in hexadecimal between "<"
// and ">", which no Windows name can hold: <0A>, <1B>, <7F>, <85>, <D800>,
// and <5C> for a backslash inside a name. `keepSeparators`: the units are a
// native path, whose backslashes on Windows are separators and stay;
// otherwise (a name, or an archived path joined by "/") every backslash
// is part of a name. Either way every escape reads back to one name.
std::u16string escapedForConsole(std::u16string_view units, bool keepSeparators = true);

// An archived name or path (folders joined by "/") for the console, as
// consoleText converts it, every backslash in it escaped.
std::string archivedPathText(std::u16string_view units);

// Appends the strict UTF-8 form of one code point (below 0x110000).
void appendUtf8(std::string& out, char32_t codePoint);

}  // namespace qex
