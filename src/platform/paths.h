// Paths in the native form: bytes with "/" as the separator on Linux, UTF-8
// carrying UTF-16 (text_conversion.h) with a backslash on Windows.
//
// On Linux a full path is made lexically: the current folder joined with a
// relative path, "." and ".." components and repeated separators resolved,
// symbolic links left alone. On Windows the system makes it
// (GetFullPathNameW) and it is given the long-path prefix (backslash,
// backslash, question mark, backslash), unless it already begins with two
// backslashes (a network path, or one that carries the prefix); the prefix
// lifts the 260-character limit. Either way
// a trailing separator is kept, because it means "the folder's contents" to
// the add command. Joining never doubles a separator, so a root ("/", or
// a drive's root) can be a target like any other folder.
#pragma once

#include <string>
#include <string_view>

#include "platform/system_result.h"
#include "system/system_facts.h"

namespace qex {

// kPathSeparator, kNamesIgnoreCase and kNameBreakingUnits (the units a
// stored name must not hold) come with the system's facts.

// Why this system cannot hold `name` (a valid archived name) as a file or
// folder it creates: empty when it can. Linux holds every such name.
// Windows refuses a backslash (a second component), the characters its
// file systems forbid (< > : " | ? * and units 1 to 31; a colon would name
// a drive or another file's stream), a trailing dot or space (which the
// system strips, so the item would be made under another name that its
// own tools cannot open) and the device names (CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, COM0 to COM9, LPT0 to LPT9, with or without an
// extension, in any case).
std::string unfitNameReason(std::u16string_view name);

// Resolves `path` against the process's current folder. Fails when the
// current folder cannot be determined or the system refuses the path.
SystemResult<std::string> fullPath(std::string_view path);

// The prefix that lifts Windows' 260-character limit on a full path.
inline constexpr std::string_view kLongPathPrefix = "\\\\?\\";

// `path` without a leading long-path prefix, as the user is shown it: a
// network path behind it (\\?\UNC\server\share) as it is typed
// (\\server\share).
std::string withoutLongPathPrefix(std::string_view path);

// `folder` + "/" + `name`, without a second separator when `folder` already
// ends with one.
std::string joinPath(std::string_view folder, std::string_view name);

// The index just after the last separator of `path` (0 when there is none):
// where the last component starts.
size_t lastComponentStart(std::string_view path);

// True when `component` holds a wildcard ("*" or "?").
bool hasWildcards(std::string_view component);

}  // namespace qex
