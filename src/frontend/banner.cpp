// Banner and usage text. The usage examples keep their backslashed paths
// exactly as users of earlier releases know them.
#include "frontend/banner.h"

#include <cstring>

namespace qex {

const char* const kUsageText =
    "\"a\" command:\n"
    "  qex a 1.qex Z:\\Common7 -- create an archive with Common7 folder and all its contents\n"
    "  qex a 1.qex Z:\\Common7\\ -- create an archive not include the base folder\n"
    "  qex a 1.qex Z:\\Com*n? -- all folders and files from Z:\\, matching the mask, would be added\n"
    "\n"
    "\"x\" command:\n"
    "  qex x 1.qex -- extract the archived stuff to the current directory\n"
    "  qex x 1.qex Q:\\xxx -- extract it as Q:\\xxx\\... [QUIRK: xxx path presumed to exist]\n"
    "\n"
    "\"l\" command:\n"
    "  qex l 1.qex -- list the archive contents [NOT IMPLEMENTED]\n"
    "\n";

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

void printBanner(std::FILE* out, const char* buildStamp) {
    std::fprintf(out, "QEX version 03-alpha [%s]\nqex authors, free software\n\n%s\n", buildStamp,
                 kUsageText);
}

}  // namespace qex
