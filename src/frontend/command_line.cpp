// Switch scan and dispatch; see command_line.h.
#include "frontend/command_line.h"

#include <climits>
#include <cstring>
#include <string>

#include "frontend/banner.h"
#include "platform/text_conversion.h"

namespace qex {
namespace {

bool isCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

bool sameText(const ArgumentText& text, const char* word) {
    return std::strcmp(text.data(), word) == 0;
}

// One line saying what is wrong, then the banner, all on standard error.
int usageError(const FrontEnd& fe, const std::string& problem) {
    std::fflush(fe.out);  // earlier switch echoes come first
    std::fprintf(fe.err, "qex: %s\n\n", problem.c_str());
    printBanner(fe.err, fe.buildStamp);
    std::fflush(fe.err);
    return kExitUsage;
}

std::string quotedText(const ArgumentText& text) { return std::string("\"") + text.data() + "\""; }

// Scans for switches, removing each one from `args`. Returns true when the
// scan ended normally (or at the stop switch); false after an unknown
// switch, whose text is left in `unknown`.
bool scanSwitches(std::vector<std::u16string>& args, const FrontEnd& fe, ArgumentText& unknown) {
    size_t i = 1;
    while (i < args.size()) {
        const ArgumentText text = makeArgumentText(args[i]);
        if (text[0] != '-') {
            ++i;
            continue;
        }
        // The argument that moves into slot i is inspected next.
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
        const int value = switchValue(text.data() + 2);
        switch (text[1]) {
            case '-':
                std::fprintf(fe.out, "stop switch: %i\n", value);
                return true;
            case 'm':
                std::fprintf(fe.out, "memory switch: %i\n", value);
                break;
            case 'o':
                std::fprintf(fe.out, "order switch: %i\n", value);
                break;
            case 'r':
                std::fprintf(fe.out, "restore switch: %i\n", value);
                break;
            default:
                unknown = text;
                return false;
        }
    }
    return true;
}

struct CommandShape {
    const char* word;
    size_t minPaths;  // after the archive
    size_t maxPaths;
    CommandFunction FrontEnd::*function;
};

constexpr size_t kAnyNumber = static_cast<size_t>(-1);

constexpr CommandShape kCommands[] = {
    {"a", 1, kAnyNumber, &FrontEnd::add},
    {"x", 0, kAnyNumber, &FrontEnd::extract},
    {"t", 0, 0, &FrontEnd::test},
    {"l", 0, 0, &FrontEnd::list},
};

}  // namespace

ArgumentText makeArgumentText(std::u16string_view argument) {
    ArgumentText text{};
    const std::string utf8 = utf16ToUtf8(argument.substr(0, kArgumentTextUnits));
    size_t length = utf8.size();
    if (length > kArgumentTextBytes - 1) {
        length = kArgumentTextBytes - 1;
        while (length > 0 && isContinuationByte(utf8[length])) --length;
    }
    std::memcpy(text.data(), utf8.data(), length);
    return text;
}

int switchValue(const char* text) {
    while (isCSpace(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

int runCommandLine(std::vector<std::u16string>& args, const FrontEnd& fe) {
    if (args.size() < 2) {
        printBanner(fe.out, fe.buildStamp);
        return 0;
    }
    ArgumentText unknown{};
    if (!scanSwitches(args, fe, unknown)) return usageError(fe, "unknown switch " + quotedText(unknown));
    if (args.size() < 2) return usageError(fe, "no command given");
    const ArgumentText word = makeArgumentText(args[1]);
    const CommandShape* shape = nullptr;
    for (const CommandShape& candidate : kCommands)
        if (sameText(word, candidate.word)) shape = &candidate;
    if (shape == nullptr) return usageError(fe, "unknown command " + quotedText(word));
    const std::string name = quotedText(word);
    if (args.size() < 3) return usageError(fe, "the command " + name + " needs an archive path");
    if (args[2] == u"-")
        return usageError(fe, "the archive path \"-\" is not supported (name a file)");
    // An empty path (an unset shell variable, say) names nothing: taken as
    // the current folder it would archive or fill the wrong place.
    if (args[2].empty()) return usageError(fe, "the archive path is empty");
    const std::vector<std::u16string> paths(args.begin() + 3, args.end());
    for (const std::u16string& path : paths)
        if (path.empty()) return usageError(fe, "the command " + name + " was given an empty path");
    if (paths.size() < shape->minPaths)
        return usageError(fe, "the command " + name + " needs a source path after the archive");
    if (paths.size() > shape->maxPaths)
        return usageError(fe, "the command " + name + " takes no path after the archive");
    ConsoleOutput ownConsole;
    ownConsole.stream = fe.out;
    ConsoleOutput& console = fe.console != nullptr ? *fe.console : ownConsole;
    // An archive written to standard output has it to itself: all console
    // text goes to standard error instead.
    if (shape->function == &FrontEnd::add && isStandardOutput(utf16ToNative(args[2]))) console.stream = fe.err;
    writeConsole(console, std::string(shape->word).append(" command\n"));
    flushConsole(console);  // the command's own output follows, partly from other threads
    return (fe.*(shape->function))(args[2], paths, console);
}

}  // namespace qex
