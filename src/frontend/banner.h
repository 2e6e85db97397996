// The banner: program name and version with the build stamp, the maker, and
// the usage text. Printed for no command, an unknown command or switch, and
// a command without the paths it needs.
#pragma once

#include <array>
#include <cstdio>

namespace qex {

// "dd.mm.yyyy hh:mm" plus its terminating zero.
using BuildStamp = std::array<char, 17>;

// The stamp from the compiler's __DATE__ ("Mmm dd yyyy", day padded with a
// space) and __TIME__ ("hh:mm:ss"). An unreadable month gives "00".
BuildStamp makeBuildStamp(const char* date, const char* time);

// The usage text, line ends included.
extern const char* const kUsageText;

// The whole banner in one formatted print.
void printBanner(std::FILE* out, const char* buildStamp);

}  // namespace qex
