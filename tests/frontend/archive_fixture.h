// Shared helpers for the tests that run the qex executable on real trees: a
// scratch folder removed afterwards, file and tree helpers, the archive's
// directory read back, and a comparison of two trees (names, contents,
// modification times to the archive's 100 ns, read-only bits).
#pragma once

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archive/archive_layout.h"
#include "archive/directory_reader.h"
#include "platform/text_conversion.h"
#include "support/run_process.h"
#include "support/sanitized_build.h"
#include "support/file_bytes.h"
#include "support/scratch_folder.h"
#include "support/tree_snapshot.h"

namespace qex::test {

namespace fs = std::filesystem;

inline ProcessResult runQex(const std::vector<std::string>& args, const std::string& dir = {},
                            const std::string& input = {}) {
    std::vector<std::string> all{QEX_EXE};
    all.insert(all.end(), args.begin(), args.end());
    ProcessOptions options;
    options.workingDir = dir;
    options.input = input;
    ProcessResult result = runProcess(all, options);
    result.out = withLinuxLineEnds(result.out);
    result.err = withLinuxLineEnds(withoutSanitizerNotes(result.err));
    return result;
}

#ifndef _WIN32
// Sets the modification and access times of a path (not following a link).
inline void setTimes(const std::string& path, int64_t seconds, long nanoseconds = 0) {
    const timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                               {static_cast<time_t>(seconds), nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// Modification time in the archive's 100 ns units (what survives a trip).
inline int64_t mtimeTicks(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 10000000 + st.st_mtim.tv_nsec / 100;
}

// Every item below `root` as treeItems describes it, led by what a trip
// through an archive also keeps: its modification time and, for a file,
// the lack of its owner's write bit.
inline std::map<std::string, std::string> keptItems(const std::string& root) {
    std::map<std::string, std::string> items = treeItems(root);
    for (auto& [name, what] : items) {
        const std::string path = root + "/" + name;
        struct stat st {};
        lstat(path.c_str(), &st);
        const bool readOnly = S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
        what = "at " + std::to_string(mtimeTicks(path)) + (readOnly ? " read-only " : " ") + what;
    }
    return items;
}

// Reports the first few items that differ between two trees: each name
// with the start of what it is on either side (time, bit, kind, bytes).
inline ::testing::AssertionResult sameTrees(const std::string& expected, const std::string& actual) {
    const auto a = keptItems(expected);
    const auto b = keptItems(actual);
    std::vector<std::pair<std::string, std::string>> differing;
    std::set_symmetric_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(differing));
    if (differing.empty()) return ::testing::AssertionSuccess() << a.size() << " items alike";
    ::testing::AssertionResult failure = ::testing::AssertionFailure() << "in " << a.size() << " items:\n";
    for (size_t k = 0; k < differing.size() && k < 10; ++k) {
        const auto& [name, what] = differing[k];
        const auto found = a.find(name);
        failure << (found != a.end() && found->second == what ? "expected " : "actual ") << name << ": "
                << what.substr(0, 60) << "\n";
    }
    return failure;
}

// A shell command's output and exit code.
inline ProcessResult runShell(const std::string& command) { return runProcess({"/bin/sh", "-c", command}); }

// The words that run a program as an ordinary user: setpriv to nobody
// (65534) when the tests run as root, nothing otherwise; and nothing either
// when root has no setpriv (a test that needs the drop skips then).
inline std::vector<std::string> ordinaryUserArgs() {
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) return {};
    return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
}
#endif

// The directory of an archive file, through the same gate extraction uses.
inline bool readArchiveDirectory(const std::string& archive, Directory& directory) {
    const std::string bytes = readFileBytes(archive);
    std::string problem;
    const ArchiveSource source =
        memoryArchiveSource(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const bool ok = readDirectory(source, directory, problem);
    EXPECT_TRUE(ok) << problem;
    return ok;
}

// Each entry of an archive's directory as "depth:name", in order.
inline std::vector<std::string> archivedNames(const std::string& archive) {
    Directory directory;
    std::vector<std::string> names;
    if (!readArchiveDirectory(archive, directory)) return names;
    for (size_t k = 0; k < directory.entries.size(); ++k)
        names.push_back(std::to_string(directory.entries[k].depth) + ":" + utf16ToNative(directory.names[k]));
    return names;
}

// A gtest fixture around a scratch folder (support/scratch_folder.h) with
// helpers that make items in it.
class ScratchFolderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(root.empty()); }
    std::string at(const std::string& relative) const { return root + "/" + relative; }
    void folder(const std::string& relative) { fs::create_directories(at(relative)); }
    void file(const std::string& relative, const std::string& content = "") {
        writeFileBytes(at(relative), content);
    }

    ScratchFolder scratch;
    const std::string root = scratch.root().string();
};

}  // namespace qex::test
