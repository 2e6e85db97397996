// The command line: switch scan, command word and dispatch.
//
// Switches stand anywhere up to the stop switch ("--" alone, or "--" and a
// number) and are removed from the argument list in place; the first
// argument left is the command ("a", "x", "t" or "l", lower case, alone),
// the next the archive path, and the rest the command's other paths (add:
// sources; extract: the target, then the items to extract). Switches and
// commands are recognised from the argument text: the UTF-8 form of an
// argument's first 255 UTF-16 units in a zeroed 256-byte buffer. Paths and
// switch values (a pattern, a list file) go on whole, as UTF-16.
//
// The switches -m, -o and -r (and the stop switch) have no effect but are
// echoed, once the scan is over and unless -q is given. -h/--help and
// -V/--version print and end the run, exit 0. No arguments at all: the
// banner and usage on standard output, exit 0. A usage error (an unknown
// switch or command, a switch without its value or given to a command it
// is not for, missing or surplus paths, "-" as the archive): one line
// saying what is wrong and one pointing to --help on standard error, exit
// 2, and no command runs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/console_output.h"

namespace qex {

inline constexpr size_t kArgumentTextBytes = 256;
inline constexpr size_t kArgumentTextUnits = 255;
using ArgumentText = std::array<char, kArgumentTextBytes>;

// The argument text of one argument. Characters are taken whole: when the
// UTF-8 form would not fit in 255 bytes the text ends before the first
// character that does not fit, so it always keeps a terminating zero. Lone
// surrogates appear as U+FFFD.
ArgumentText makeArgumentText(std::u16string_view argument);

// The value of a switch, read like atoi (leading white space, optional sign,
// decimal digits, no digits gives 0); values beyond the int range are
// clamped to it.
int switchValue(const char* text);

// What the switches ask of the add command beyond its paths. (-q is the
// console's: ConsoleOutput::quiet.)
struct CommandOptions {
    bool force = false;  // -f: a file that is not an archive may be replaced
    std::vector<std::u16string> excludes;      // -x/--exclude patterns, in order
    std::vector<std::u16string> excludeFiles;  // --exclude-from: files of patterns
    bool excludeVcs = false;                   // --exclude-vcs
    std::vector<std::u16string> fileLists;     // -T/--files-from: files of paths ("-": standard input)
    bool nullSeparated = false;                // --null: the lists end their entries with NUL
};

// A command: the archive path, the paths after it as given, the switches'
// requests and the console it prints to.
using CommandFunction = int (*)(const std::u16string& archivePath, const std::vector<std::u16string>& paths,
                                const CommandOptions& options, ConsoleOutput& console);

// Exit code of a usage error.
inline constexpr int kExitUsage = 2;

// What the command line works with: handed down by main, so that tests can
// supply their own commands and output.
struct FrontEnd {
    const char* buildStamp = "";
    const char* version = "";  // the project's version, "0.3"
    CommandFunction add = nullptr;
    CommandFunction extract = nullptr;
    CommandFunction test = nullptr;
    CommandFunction list = nullptr;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    // The console the commands print to; when null, one on `out` is made
    // for the run. The add command turns it to `err` when the archive is
    // standard output itself.
    ConsoleOutput* console = nullptr;
};

// Parses and runs one command; returns the process's exit code. Argument 0
// (the program) is never looked at. `arguments` is changed in place.
int runCommandLine(std::vector<std::u16string>& arguments, const FrontEnd& frontEnd);

}  // namespace qex
