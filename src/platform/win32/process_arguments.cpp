// Windows side of the command line: GetCommandLineW split by
// CommandLineToArgvW, the shell's own rule, with one repair. In that rule
// a backslash before a quote makes the quote literal, so the quoted form
// of a folder with a trailing separator, "C:\dir with space\" (the way to
// name a folder's contents when its path holds a space), arrives as
// C:\dir with space" and swallows what follows up to the next quote. No
// Windows name holds a quote: an odd run of backslashes followed, inside
// quotes, by a quote and then a blank or the end of the line is read as
// the user typed it, the backslashes kept and the quote closing.
#include "platform/process_arguments.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace qex {

namespace {

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The command line with one more backslash before each quote the repair
// above applies to, so that the shell's rule closes the quotes there.
std::wstring repairedCommandLine(std::wstring_view line) {
    std::wstring out;
    size_t i = 0;
    // The program's name: quotes only group, backslashes are plain.
    if (!line.empty() && line[0] == L'"') {
        const size_t close = line.find(L'"', 1);
        i = close == std::wstring_view::npos ? line.size() : close + 1;
    }
    while (i < line.size() && !isBlank(line[i])) ++i;
    out.assign(line.substr(0, i));
    bool quoted = false;
    while (i < line.size()) {
        size_t backslashes = 0;
        while (i + backslashes < line.size() && line[i + backslashes] == L'\\') ++backslashes;
        out.append(line.substr(i, backslashes));
        i += backslashes;
        if (i == line.size()) break;
        if (line[i] != L'"') {
            out.push_back(line[i++]);
            continue;
        }
        const bool endsArgument = i + 1 == line.size() || isBlank(line[i + 1]);
        if (backslashes % 2 == 1 && quoted && endsArgument) {
            out.push_back(L'\\');
            quoted = false;
        } else if (backslashes % 2 == 0) {
            quoted = !quoted;
        }
        out.push_back(line[i++]);
    }
    return out;
}

}  // namespace

std::vector<std::u16string> processArguments(int /*argc*/, char** /*argv*/) {
    std::vector<std::u16string> args;
    int count = 0;
    const std::wstring line = repairedCommandLine(GetCommandLineW());
    wchar_t** list = CommandLineToArgvW(line.c_str(), &count);
    if (list == nullptr) return args;
    for (int i = 0; i < count; ++i) {
        const std::wstring_view argument(list[i]);
        args.emplace_back(argument.begin(), argument.end());
    }
    LocalFree(list);
    return args;
}

}  // namespace qex
