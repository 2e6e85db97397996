// Switch scan and dispatch; see command_line.h.
#include "frontend/command_line.h"

#include <climits>
#include <cstring>

#include "frontend/banner.h"
#include "platform/text_conversion.h"

namespace qex {
namespace {

// Exit code of the list command, which exists only as a name.
constexpr int kListUnavailableExitCode = 1;

bool isCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

bool sameText(const ArgumentText& text, const char* word) {
    return std::strcmp(text.data(), word) == 0;
}

int printBannerAndStop(const FrontEnd& fe) {
    printBanner(fe.out, fe.buildStamp);
    return 0;
}

// Scans for switches, removing each one from `args`. Returns true when the
// scan ended normally (or at the stop switch), false after an unknown switch.
bool scanSwitches(std::vector<std::u16string>& args, const FrontEnd& fe) {
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
                return false;
        }
    }
    return true;
}

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
    ConsoleOutput ownConsole;
    ownConsole.stream = fe.out;
    ConsoleOutput& console = fe.console != nullptr ? *fe.console : ownConsole;
    if (!scanSwitches(args, fe)) return printBannerAndStop(fe);
    if (args.size() < 2) return printBannerAndStop(fe);
    const ArgumentText command = makeArgumentText(args[1]);
    args.erase(args.begin() + 1);
    const bool hasArchive = args.size() > 1;
    const bool hasOtherPath = args.size() > 2;

    if (sameText(command, "l")) {
        std::fputs("l command\n", fe.out);
        if (!hasArchive) return printBannerAndStop(fe);
        std::fputs("NOT IMPLEMENTED\n", fe.out);
        return kListUnavailableExitCode;
    }
    if (sameText(command, "x")) {
        std::fputs("x command\n", fe.out);
        if (!hasArchive) return printBannerAndStop(fe);
        std::fflush(fe.out);  // the command's own output follows from other threads
        return fe.extract(args[1], hasOtherPath ? args[2] : std::u16string(u"."), console);
    }
    if (sameText(command, "a")) {
        // An archive written to standard output has it to itself: all
        // console text goes to standard error instead.
        if (hasArchive && isStandardOutput(utf16ToNative(args[1]))) console.stream = stderr;
        writeConsole(console, "a command\n");
        if (!hasArchive || !hasOtherPath) return printBannerAndStop(fe);
        flushConsole(console);
        return fe.add(args[1], args[2], console);
    }
    return printBannerAndStop(fe);
}

}  // namespace qex
