// Banner and usage text. The examples use the paths of the system the
// program was built for.
#include "frontend/banner.h"

#include <cstring>

// QEX_HOME, QEX_DOCS, QEX_RESTORE and QEX_SEP: the examples' paths.
#include "system/example_paths.h"

namespace qex {

const char* const kUsageText =
    "Usage: qex COMMAND ARCHIVE [PATH...]\n"
    "\n"
    "\"a\" command: add (makes a new ARCHIVE; each source at the top level, in order)\n"
    "  qex a home.qex " QEX_HOME " -- the folder alice and everything in it\n"
    "  qex a home.qex " QEX_HOME QEX_SEP " -- only what is inside alice\n"
    "  qex a docs.qex " QEX_DOCS " -- the matching items of that folder\n"
    "  qex a all.qex " QEX_HOME " " QEX_DOCS " -- several sources\n"
    "\n"
    "\"x\" command: extract (into an existing folder, by default the current one)\n"
    "  qex x home.qex -- everything, into the current folder\n"
    "  qex x home.qex " QEX_RESTORE " -- everything, into " QEX_RESTORE "\n"
    "  qex x home.qex " QEX_RESTORE " alice/.bashrc \"alice/*.txt\" -- only these items:\n"
    "      paths as \"l\" shows them, or masks (* and ? within one folder);\n"
    "      a folder brings everything below it\n"
    "\n"
    "\"t\" command: test (decodes everything, checks every file, writes nothing)\n"
    "  qex t home.qex\n"
    "\n"
    "\"l\" command: list (type, size, time, CRC-32 and path of every item)\n"
    "  qex l home.qex\n"
    "\n"
    "Switches (anywhere before \"--\"; -x, --exclude*, -T, --null and -f for \"a\" only):\n"
    "  -x PATTERN, --exclude=PATTERN  leave out matching items (a pattern without\n"
    "      / matches a name at any depth, one with / a path below the source;\n"
    "      * ? [...] as wildcards; an excluded folder takes everything below it)\n"
    "  --exclude-from=FILE  patterns from FILE, one a line\n"
    "  --exclude-vcs        leave out .git, .hg, .svn and other version control data\n"
    "  -T FILE, --files-from=FILE  add the paths listed in FILE (- for standard\n"
    "      input), one a line, each with its folders\n"
    "  --null               the lists of -T end their paths with NUL, not a line end\n"
    "  -f, --force          replace a file at ARCHIVE that is not a qex archive\n"
    "  -q, --quiet          print no command name, file lines or status line\n"
    "  -h, --help           print this text;  -V, --version  print the version\n"
    "  --                   what follows is never a switch\n"
    "  -mN, -oN, -rN        accepted and echoed; no effect\n"
    "\n"
    "Exit codes: 0 success; 1 done, but some items were skipped (see the\n"
    "messages); 2 failure, a damaged archive, or a usage error.\n";

#undef QEX_HOME
#undef QEX_DOCS
#undef QEX_RESTORE
#undef QEX_SEP

BuildStamp makeBuildStamp(const char* date, const char* time) {
    static constexpr const char* kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    BuildStamp stamp{};
    std::memcpy(stamp.data(), "00.00.0000 00:00", stamp.size());
    // date: "Mmm dd yyyy"; the day's tens place is a space below 10.
    stamp[0] = date[4] == ' ' ? '0' : date[4];
    stamp[1] = date[5];
    for (int m = 0; m < 12; ++m) {
        if (std::strncmp(date, kMonths + 3 * m, 3) == 0) {
            stamp[3] = static_cast<char>('0' + (m + 1) / 10);
            stamp[4] = static_cast<char>('0' + (m + 1) % 10);
        }
    }
    std::memcpy(&stamp[6], date + 7, 4);
    // time: "hh:mm:ss"
    std::memcpy(&stamp[11], time, 2);
    std::memcpy(&stamp[14], time + 3, 2);
    return stamp;
}

BuildStamp makeBuildStampFromEpoch(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    const int64_t days = seconds / 86400;
    const int64_t ofDay = seconds % 86400;
    // Civil date from days since 1970-01-01 in the proleptic Gregorian
    // calendar, counted in 400-year eras that start on 0000-03-01.
    const int64_t z = days + 719468;
    const int64_t era = z / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // 0 = March
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    BuildStamp stamp{};
    const auto put = [&stamp](size_t at, int64_t value, int digits) {
        for (int k = digits - 1; k >= 0; --k, value /= 10) stamp[at + static_cast<size_t>(k)] = static_cast<char>('0' + value % 10);
    };
    std::memcpy(stamp.data(), "00.00.0000 00:00", stamp.size());
    put(0, day, 2);
    put(3, month, 2);
    put(6, year % 10000, 4);
    put(11, ofDay / 3600, 2);
    put(14, ofDay / 60 % 60, 2);
    return stamp;
}

void printBanner(std::FILE* out, const char* buildStamp) {
    std::fprintf(out, "QEX version 03-alpha [%s]\nqex authors, free software\n\n%s\n", buildStamp,
                 kUsageText);
}

}  // namespace qex
