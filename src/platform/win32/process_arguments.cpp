// Windows side of the command line: GetCommandLineW split by
// CommandLineToArgvW, the shell's own rule.
#include "platform/process_arguments.h"

#include <windows.h>
#include <shellapi.h>

namespace qex {

std::vector<std::u16string> processArguments(int /*argc*/, char** /*argv*/) {
    std::vector<std::u16string> args;
    int count = 0;
    wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (list == nullptr) return args;
    for (int i = 0; i < count; ++i) {
        const std::wstring_view argument(list[i]);
        args.emplace_back(argument.begin(), argument.end());
    }
    LocalFree(list);
    return args;
}

}  // namespace qex
