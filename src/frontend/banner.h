// The banner: program name and version with the build stamp, the maker, and
// the usage text. Printed on standard output when qex is run without
// arguments or with -h/--help.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

namespace qex {

// "dd.mm.yyyy hh:mm" plus its terminating zero.
using BuildStamp = std::array<char, 17>;

// The stamp from the compiler's __DATE__ ("Mmm dd yyyy", day padded with a
// space) and __TIME__ ("hh:mm:ss"). An unreadable month gives "00".
BuildStamp makeBuildStamp(const char* date, const char* time);

// The stamp of a reproducible build: `seconds` since 1970-01-01 00:00 UTC
// (the SOURCE_DATE_EPOCH the build was given), as a UTC date and time.
BuildStamp makeBuildStampFromEpoch(int64_t seconds);

// The usage text, line ends included.
extern const char* const kUsageText;

// The whole banner in one formatted print.
void printBanner(std::FILE* out, const char* buildStamp);

}  // namespace qex
