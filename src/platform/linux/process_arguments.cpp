// Linux side of the command line: the argv bytes as native names.
#include "platform/process_arguments.h"

#include "platform/text_conversion.h"

namespace qex {

std::vector<std::u16string> processArguments(int argc, char** argv) {
    std::vector<std::u16string> args;
    args.reserve(argc > 0 ? static_cast<size_t>(argc) : 0);
    for (int i = 0; i < argc; ++i) args.push_back(nativeToUtf16(argv[i]));
    return args;
}

}  // namespace qex
