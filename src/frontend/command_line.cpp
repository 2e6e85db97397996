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

// One line saying what is wrong and one pointing to the help, on standard
// error.
int usageError(const FrontEnd& fe, const std::string& problem) {
    std::fflush(fe.out);
    std::fprintf(fe.err, "qex: %s\nTry 'qex --help'.\n", problem.c_str());
    std::fflush(fe.err);
    return kExitUsage;
}

std::string quotedText(const ArgumentText& text) { return std::string("\"") + text.data() + "\""; }

// "--" alone or followed by a number the value rule reads whole (blanks, a
// sign, digits): the stop switch. Any other "--word" is a long switch.
bool isStopSwitch(const char* text) {
    if (text[0] != '-' || text[1] != '-') return false;
    const char* p = text + 2;
    if (*p == 0) return true;
    while (isCSpace(*p)) ++p;
    if (*p == '+' || *p == '-') ++p;
    if (*p < '0' || *p > '9') return false;
    while (*p >= '0' && *p <= '9') ++p;
    return *p == 0;
}

enum class ScanEnd { normal, help, version, usageError };

struct SwitchScan {
    CommandOptions options;
    bool quiet = false;
    std::string echoes;        // what -m, -o, -r and the stop switch print
    std::string addOnly;       // the first switch only add takes, for its message
    std::string problem;       // after a usage error
};

// The value of a switch that takes one: the rest of the argument after
// `prefixUnits` UTF-16 units ("-xPATTERN", "--exclude=PATTERN"), else the
// next argument, which is then removed too. False when there is none.
bool takeValue(std::vector<std::u16string>& args, size_t i, const std::u16string& argument, size_t prefixUnits,
               std::u16string& value) {
    if (argument.size() > prefixUnits) {
        value = argument.substr(prefixUnits);
        return true;
    }
    if (i >= args.size()) return false;
    value = args[i];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
}

// The switches that take a value: short form, long form, and what the value is.
struct ValueSwitch {
    char letter;  // 0: long form only
    const char* word;
    const char* valueName;
    std::vector<std::u16string> CommandOptions::*list;
};

const ValueSwitch kValueSwitches[] = {
    {'x', "--exclude", "a pattern", &CommandOptions::excludes},
    {0, "--exclude-from", "a file name", &CommandOptions::excludeFiles},
    {'T', "--files-from", "a file name", &CommandOptions::fileLists},
};

// Scans for switches, removing each one from `args`, up to the stop switch.
ScanEnd scanSwitches(std::vector<std::u16string>& args, SwitchScan& scan) {
    size_t i = 1;
    while (i < args.size()) {
        const ArgumentText text = makeArgumentText(args[i]);
        if (text[0] != '-') {
            ++i;
            continue;
        }
        // The argument that moves into slot i is inspected next.
        const std::u16string argument = std::move(args[i]);
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
        const char* word = text.data();
        char line[64];
        if (isStopSwitch(word)) {
            std::snprintf(line, sizeof line, "stop switch: %i\n", switchValue(word + 2));
            scan.echoes += line;
            return ScanEnd::normal;
        }
        if (std::strcmp(word, "-h") == 0 || std::strcmp(word, "--help") == 0) return ScanEnd::help;
        if (std::strcmp(word, "-V") == 0 || std::strcmp(word, "--version") == 0) return ScanEnd::version;
        if (std::strcmp(word, "-q") == 0 || std::strcmp(word, "--quiet") == 0) {
            scan.quiet = true;
            continue;
        }
        bool addSwitch = true;
        bool known = false;
        if (std::strcmp(word, "-f") == 0 || std::strcmp(word, "--force") == 0) {
            scan.options.force = known = true;
        } else if (std::strcmp(word, "--exclude-vcs") == 0) {
            scan.options.excludeVcs = known = true;
        } else if (std::strcmp(word, "--null") == 0) {
            scan.options.nullSeparated = known = true;
        } else if (word[1] == 'm' || word[1] == 'o' || word[1] == 'r') {
            static constexpr const char* kEchoes[] = {"memory switch: %i\n", "order switch: %i\n",
                                                      "restore switch: %i\n"};
            std::snprintf(line, sizeof line, kEchoes[word[1] == 'm' ? 0 : word[1] == 'o' ? 1 : 2],
                          switchValue(word + 2));
            scan.echoes += line;
            addSwitch = false;
            known = true;
        }
        for (const ValueSwitch& candidate : kValueSwitches) {
            if (known) break;
            const size_t wordLength = std::strlen(candidate.word);
            size_t prefix = 0;
            if (candidate.letter != 0 && word[1] == candidate.letter) {
                prefix = 2;
            } else if (std::strcmp(word, candidate.word) == 0) {
                prefix = wordLength;
            } else if (std::strncmp(word, candidate.word, wordLength) == 0 && word[wordLength] == '=') {
                prefix = wordLength + 1;
                if (argument.size() == prefix) {  // "--exclude=" with nothing after it
                    scan.problem = std::string("the switch \"") + candidate.word + "\" needs " + candidate.valueName;
                    return ScanEnd::usageError;
                }
            } else {
                continue;
            }
            std::u16string value;
            if (!takeValue(args, i, argument, prefix, value)) {
                scan.problem = std::string("the switch ") + quotedText(text) + " needs " + candidate.valueName;
                return ScanEnd::usageError;
            }
            (scan.options.*candidate.list).push_back(std::move(value));
            known = true;
        }
        if (!known) {
            scan.problem = "unknown switch " + quotedText(text);
            return ScanEnd::usageError;
        }
        if (addSwitch && scan.addOnly.empty()) {
            // The name alone, without a value joined to it.
            std::string name(word);
            const size_t equals = name.find('=');
            if (name.compare(0, 2, "--") == 0 && equals != std::string::npos) name.resize(equals);
            if (name.compare(0, 2, "--") != 0) name.resize(2);
            scan.addOnly = name;
        }
    }
    return ScanEnd::normal;
}

// One line: the version the package and the manual page carry, and the
// banner's build stamp.
void printVersion(const FrontEnd& fe) {
    std::fprintf(fe.out, "qex %s (built %s)\n", fe.version, fe.buildStamp);
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
    SwitchScan scan;
    switch (scanSwitches(args, scan)) {
        case ScanEnd::help:
            printBanner(fe.out, fe.buildStamp);
            return 0;
        case ScanEnd::version:
            printVersion(fe);
            return 0;
        case ScanEnd::usageError:
            return usageError(fe, scan.problem);
        case ScanEnd::normal:
            break;
    }
    if (!scan.quiet) std::fputs(scan.echoes.c_str(), fe.out);
    if (args.size() < 2) return usageError(fe, "no command given");
    const ArgumentText word = makeArgumentText(args[1]);
    const CommandShape* shape = nullptr;
    for (const CommandShape& candidate : kCommands)
        if (sameText(word, candidate.word)) shape = &candidate;
    if (shape == nullptr) return usageError(fe, "unknown command " + quotedText(word));
    const std::string name = quotedText(word);
    const bool add = shape->function == &FrontEnd::add;
    if (!add && !scan.addOnly.empty())
        return usageError(fe, "the switch \"" + scan.addOnly + "\" is for the \"a\" command only");
    if (args.size() < 3) return usageError(fe, "the command " + name + " needs an archive path");
    if (args[2] == u"-")
        return usageError(fe, "the archive path \"-\" is not supported (name a file)");
    // An empty path (an unset shell variable, say) names nothing: taken as
    // the current folder it would archive or fill the wrong place.
    if (args[2].empty()) return usageError(fe, "the archive path is empty");
    const std::vector<std::u16string> paths(args.begin() + 3, args.end());
    for (const std::u16string& path : paths)
        if (path.empty()) return usageError(fe, "the command " + name + " was given an empty path");
    // A list of files stands in for the sources.
    const size_t minPaths = add && !scan.options.fileLists.empty() ? 0 : shape->minPaths;
    if (paths.size() < minPaths)
        return usageError(fe, "the command " + name + " needs a source path after the archive");
    if (paths.size() > shape->maxPaths)
        return usageError(fe, "the command " + name + " takes no path after the archive");
    ConsoleOutput ownConsole;
    ownConsole.stream = fe.out;
    ConsoleOutput& console = fe.console != nullptr ? *fe.console : ownConsole;
    console.quiet = scan.quiet;
    // An archive written to standard output has it to itself: all console
    // text goes to standard error instead.
    if (add && isStandardOutput(utf16ToNative(args[2]))) console.stream = fe.err;
    if (!console.quiet) writeConsole(console, std::string(shape->word).append(" command\n"));
    flushConsole(console);  // the command's own output follows, partly from other threads
    return (fe.*(shape->function))(args[2], paths, scan.options, console);
}

}  // namespace qex
