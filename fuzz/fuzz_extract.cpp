// Fuzzes a whole extraction in-process: the input is written as an archive
// file, extracted with the extract command into an empty target inside a
// fresh temporary folder, and the folder is inspected and removed.
//
// Whatever the archive holds, extraction must end, and afterwards the
// temporary folder holds nothing but the archive (unchanged) and the target;
// below the target are only folders, files and symbolic links (which may
// lead anywhere: nothing is made through them). Exit codes other than 0, 1
// and 2 are a fault.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frontend/commands.h"
#include "fuzz_check.h"
#include "platform/text_conversion.h"

namespace fs = std::filesystem;

namespace {

fs::path makeScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/qex-fuzz-XXXXXX";
    QEX_FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
    return pattern;
}

std::vector<uint8_t> readBack(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void checkOnlyOrdinaryItemsBelow(const fs::path& target) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(target, error), end; it != end; it.increment(error)) {
        QEX_FUZZ_CHECK(!error);
        const fs::file_status status = it->symlink_status();
        QEX_FUZZ_CHECK(fs::is_directory(status) || fs::is_regular_file(status) || fs::is_symlink(status));
    }
    QEX_FUZZ_CHECK(!error);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The progress display is of no use here; problems still go to stderr.
    QEX_FUZZ_CHECK(std::freopen("/dev/null", "w", stdout) != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path scratch = makeScratchFolder();
    const fs::path archive = scratch / "input.qex";
    const fs::path target = scratch / "target";
    {
        std::ofstream out(archive, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        QEX_FUZZ_CHECK(out.good());
    }
    QEX_FUZZ_CHECK(fs::create_directory(target));

    qex::ConsoleOutput console;
    const int exitCode =
        qex::runExtract(qex::nativeToUtf16(archive.native()), {qex::nativeToUtf16(target.native())}, qex::CommandOptions{},
                        console);
    QEX_FUZZ_CHECK(exitCode == 0 || exitCode == 1 || exitCode == 2);

    size_t itemsBeside = 0;
    for (const fs::directory_entry& item : fs::directory_iterator(scratch)) {
        ++itemsBeside;
        QEX_FUZZ_CHECK(item.path() == archive || item.path() == target);
    }
    QEX_FUZZ_CHECK(itemsBeside == 2);
    QEX_FUZZ_CHECK(fs::is_directory(fs::symlink_status(target)));
    const std::vector<uint8_t> archiveAfter = readBack(archive);
    QEX_FUZZ_CHECK(archiveAfter.size() == size && std::equal(archiveAfter.begin(), archiveAfter.end(), data));
    checkOnlyOrdinaryItemsBelow(target);

    std::error_code error;
    fs::remove_all(scratch, error);
    QEX_FUZZ_CHECK(!error);
    return 0;
}
