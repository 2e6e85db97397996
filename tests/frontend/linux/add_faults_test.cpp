// Faults on the add side, through the executable: sources that cannot be
// read or listed, files that change while they are read, a full file
// system, and interrupts during add and extract.
//
// Whatever happens, an archive that is left behind must be consistent: it
// extracts without error to exactly what was read. An archive that could
// not be finished must not be left behind at all.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/archive_builder.h"
#include "support/file_bytes.h"
#include "support/run_process.h"
#include "support/scratch_folder.h"

namespace qex::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

// Only guards against a hang; never a speed check.
constexpr std::chrono::seconds kRunLimit{300};
// An unprivileged user and group for the permission cases (tests run as root).
constexpr const char* kNobody = "65534";

// Incompressible bytes, so that coding them takes a while.
std::string noise(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<char>(x);
    }
    return bytes;
}

// Every item below `root` by relative path: "folder" or "file <content>".
std::map<std::string, std::string> treeOf(const fs::path& root) {
    std::map<std::string, std::string> items;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const fs::file_status status = fs::symlink_status(item.path());
        items[fs::relative(item.path(), root).string()] =
            fs::is_directory(status) ? "folder" : fs::is_regular_file(status) ? "file " + readFileBytes(item.path()) : "other";
    }
    return items;
}

// A child process that a test can interrupt: its output goes to files.
struct Child {
    pid_t pid = -1;
    int exitCode = -1;      // set by finish(); 128 + signal when killed by one
    bool timedOut = false;  // set by finish()
};

Child start(const std::vector<std::string>& args, const fs::path& outputs) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Child child;
    child.pid = ::fork();
    if (child.pid == 0) {
        const int out = ::open((outputs.string() + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open((outputs.string() + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return child;
}

void finish(Child& child) {
    const auto deadline = Clock::now() + kRunLimit;
    int status = 0;
    while (::waitpid(child.pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            child.timedOut = true;
            ::kill(child.pid, SIGKILL);
            ::waitpid(child.pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    child.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Polls until `condition` holds or the child has ended; false in the latter case.
template <typename Condition>
bool whileRunning(const Child& child, Condition condition) {
    const auto deadline = Clock::now() + kRunLimit;
    while (!condition()) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0)
            return false;
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

uint64_t sizeOrZero(const fs::path& path) {
    std::error_code error;
    const uint64_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

class AddFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.empty());
        // Open to the unprivileged user of the permission cases.
        fs::permissions(scratch, fs::perms::all);
        fs::create_directories(scratch / "src");
        fs::create_directories(scratch / "out");
        fs::permissions(scratch / "src", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                             fs::perms::others_read | fs::perms::others_exec);
    }

    ProcessResult qex(const std::vector<std::string>& args) {
        std::vector<std::string> all{QEX_EXE};
        all.insert(all.end(), args.begin(), args.end());
        ProcessOptions options;
        options.timeout = kRunLimit;
        ProcessResult r = runProcess(all, options);
        EXPECT_FALSE(r.timedOut);
        return r;
    }

    // Extracts `archive` into a new folder and returns what it holds.
    std::map<std::string, std::string> extracted(const fs::path& archive) {
        const fs::path target = scratch / ("extracted-" + std::to_string(extractions++));
        fs::create_directory(target);
        const ProcessResult r = qex({"x", archive.string(), target.string()});
        EXPECT_EQ(r.exitCode, 0) << "the archive is not consistent: " << r.err;
        return treeOf(target);
    }

    test::ScratchFolder scratchFolder;
    const fs::path scratch = scratchFolder.root();
    int extractions = 0;
};

TEST_F(AddFaults, UnreadableFileAndUnlistableFolderAreWarnedAndArchivedEmpty) {
    const fs::path src = scratch / "src";
    writeFileBytes(src / "a.txt", "readable");
    writeFileBytes(src / "locked.txt", "secret");
    fs::create_directory(src / "closed");
    writeFileBytes(src / "closed" / "inner", "hidden");
    writeFileBytes(src / "z.txt", "last");
    fs::permissions(src / "locked.txt", fs::perms::none);
    fs::permissions(src / "closed", fs::perms::none);
    fs::permissions(scratch / "out", fs::perms::all);

    // Root reads everything; the permissions only bite for another user.
    std::vector<std::string> args;
    if (::geteuid() == 0) {
        if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "running as root without setpriv to drop privileges";
        args = {"/usr/bin/setpriv", std::string("--reuid=") + kNobody, std::string("--regid=") + kNobody,
                "--clear-groups"};
    }
    const fs::path archive = scratch / "out" / "a.qex";
    args.insert(args.end(), {QEX_EXE, "a", archive.string(), src.string()});
    ProcessOptions options;
    options.timeout = kRunLimit;
    const ProcessResult r = runProcess(args, options);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("qex: cannot read \"" + (src / "locked.txt").string() + "\": Permission denied"));
    EXPECT_THAT(r.err, HasSubstr("qex: cannot list folder \"" + (src / "closed").string() + "\": Permission denied"));

    // The unreadable file keeps its entry with what was read of it (nothing);
    // the unlistable folder keeps its entry without contents.
    EXPECT_EQ(extracted(archive), (std::map<std::string, std::string>{{"src", "folder"},
                                                                      {"src/a.txt", "file readable"},
                                                                      {"src/closed", "folder"},
                                                                      {"src/locked.txt", "file "},
                                                                      {"src/z.txt", "file last"}}));
}

TEST_F(AddFaults, TreeWithALoopAFifoAndTheArchiveInsideArchivesConsistently) {
    const fs::path src = scratch / "src";
    fs::create_directories(src / "sub");
    writeFileBytes(src / "sub" / "f", "f");
    fs::create_directory_symlink("..", src / "sub" / "up");
    ASSERT_EQ(::mkfifo((src / "fifo").c_str(), 0644), 0);
    const fs::path archive = src / "self.qex";
    const ProcessResult r = qex({"a", archive.string(), src.string()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("qex: skipping special file (FIFO, socket or device) \"" + (src / "fifo").string() + "\""));
    EXPECT_THAT(r.err, HasSubstr("qex: not entering folder (it leads back to a folder above it) \"" +
                                 (src / "sub" / "up").string() + "\""));
    EXPECT_EQ(extracted(archive), (std::map<std::string, std::string>{
                                      {"src", "folder"}, {"src/sub", "folder"}, {"src/sub/f", "file f"}, {"src/sub/up", "folder"}}));
}

TEST_F(AddFaults, FilesThatGrowOrShrinkWhileAddedArchiveWhatWasRead) {
    // More than the reader may read ahead of the coder (255 chunks of 64 KiB).
    constexpr size_t kZeroBytes = size_t{20} << 20;
    // A long run of zeros first keeps the reader busy while the test changes
    // the two files behind it; the walk has listed them by then, unless the
    // machine is very slow, in which case the changes come first and the
    // checks below hold all the same.
    const fs::path src = scratch / "src";
    writeFileBytes(src / "0-zeros", std::string(kZeroBytes, '\0'));
    const std::string grownStart = noise(1000, 1);
    const std::string shrunkStart = noise(1 << 20, 2);
    writeFileBytes(src / "1-grows", grownStart);
    writeFileBytes(src / "2-shrinks", shrunkStart);
    const fs::path archive = scratch / "out" / "g.qex";
    Child child = start({QEX_EXE, "a", archive.string(), src.string()}, scratch / "add");

    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string grownEnd = grownStart + noise(512 << 10, 3);
    {
        std::ofstream grow(src / "1-grows", std::ios::binary | std::ios::app);
        for (size_t at = grownStart.size(); at < grownEnd.size(); at += 4096)
            grow.write(grownEnd.data() + at, static_cast<std::streamsize>(std::min<size_t>(4096, grownEnd.size() - at)));
    }
    fs::resize_file(src / "2-shrinks", 100000);
    finish(child);
    ASSERT_FALSE(child.timedOut);
    EXPECT_EQ(child.exitCode, 0) << readFileBytes(scratch / "add.err");

    // Each file comes back as a prefix of what it held at some moment: all of
    // the grown file up to where the reader stopped, the shrunk one up to at
    // most its length when the walk listed it.
    const auto items = extracted(archive);
    ASSERT_EQ(items.size(), 4u);
    const std::string grown = items.at("src/1-grows").substr(5);
    const std::string shrunk = items.at("src/2-shrinks").substr(5);
    EXPECT_GE(grown.size(), grownStart.size());
    EXPECT_EQ(grown, grownEnd.substr(0, grown.size()));
    EXPECT_GE(shrunk.size(), 100000u);
    EXPECT_EQ(shrunk, shrunkStart.substr(0, shrunk.size()));
    EXPECT_EQ(items.at("src/0-zeros"), "file " + std::string(kZeroBytes, '\0'));
}

TEST_F(AddFaults, FullFileSystemIsFatalAndLeavesNoArchive) {
    // A 256 KiB file system of its own, in a mount namespace of the child's,
    // filled by an incompressible source four times its size.
    if (runProcess({"/usr/bin/unshare", "-m", "/bin/true"}).exitCode != 0)
        GTEST_SKIP() << "no mount namespace can be made here (not privileged); /dev/full covers the write error";
    writeFileBytes(scratch / "src" / "noise.bin", noise(1 << 20, 4));
    const fs::path mountPoint = scratch / "small";
    fs::create_directory(mountPoint);
    const std::string script =
        "mount -t tmpfs -o size=256k tmpfs \"$1\" || exit 99; \"$2\" a \"$1/full.qex\" \"$3\"; code=$?; "
        "echo \"left:$(ls -A \"$1\")\"; exit $code";
    ProcessOptions options;
    options.timeout = kRunLimit;
    const ProcessResult r = runProcess({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script, "sh", mountPoint.string(),
                                        QEX_EXE, (scratch / "src").string()},
                                       options);
    ASSERT_NE(r.exitCode, 99) << "tmpfs could not be mounted: " << r.err;
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_THAT(r.err, HasSubstr("qex: cannot write archive \"" + (mountPoint / "full.qex").string() +
                                 "\": No space left on device"));
    EXPECT_THAT(r.out, HasSubstr("left:\n"));  // the incomplete archive was removed
}

TEST_F(AddFaults, InterruptDuringAddRemovesTheArchiveAndEndsBySignal) {
    writeFileBytes(scratch / "src" / "noise.bin", noise(2 << 20, 5));
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signalNumber == SIGINT ? "SIGINT" : "SIGTERM");
        const fs::path archive = scratch / "out" / "interrupted.qex";
        Child child = start({QEX_EXE, "a", archive.string(), (scratch / "src").string()}, scratch / "add");
        // Interrupt once the stream has begun to reach the archive.
        ASSERT_TRUE(whileRunning(child, [&] { return sizeOrZero(archive) > 0; })) << "add ended before it could be interrupted";
        ::kill(child.pid, signalNumber);
        finish(child);
        ASSERT_FALSE(child.timedOut);
        EXPECT_EQ(child.exitCode, 128 + signalNumber) << readFileBytes(scratch / "add.err");
        EXPECT_FALSE(fs::exists(fs::symlink_status(archive))) << "the incomplete archive was left behind";
    }
}

TEST_F(AddFaults, InterruptedAddLeavesAFileThatTookTheArchivesNameAlone) {
    // Somebody replaces the archive while it is being written: the interrupt
    // removes only the file this run created.
    writeFileBytes(scratch / "src" / "noise.bin", noise(2 << 20, 6));
    const fs::path archive = scratch / "out" / "taken.qex";
    Child child = start({QEX_EXE, "a", archive.string(), (scratch / "src").string()}, scratch / "add");
    ASSERT_TRUE(whileRunning(child, [&] { return sizeOrZero(archive) > 0; })) << "add ended before it could be interrupted";
    fs::remove(archive);
    writeFileBytes(archive, "someone else's");
    ::kill(child.pid, SIGINT);
    finish(child);
    EXPECT_EQ(child.exitCode, 128 + SIGINT);
    EXPECT_EQ(readFileBytes(archive), "someone else's");
}

TEST_F(AddFaults, InterruptDuringExtractStopsPromptlyWithinTheTarget) {
    ArchiveBuilder builder;
    builder.folder(0, u"t").file(1, u"big.bin", noise(1 << 20, 7)).file(1, u"after.txt", "after");
    const fs::path archive = scratch / "out" / "big.qex";
    const std::vector<uint8_t> bytes = builder.bytes();
    writeFileBytes(archive, std::string(bytes.begin(), bytes.end()));
    const fs::path target = scratch / "out" / "target";
    fs::create_directory(target);

    // The file is written under a temporary name beside its final one:
    // interrupted, that temporary goes and the final name stays unused.
    Child child = start({QEX_EXE, "x", archive.string(), target.string()}, scratch / "extract");
    const auto writing = [&] {
        std::error_code ignored;
        for (const auto& item : fs::directory_iterator(target / "t", ignored))
            if (item.file_size(ignored) > 0) return true;
        return false;
    };
    ASSERT_TRUE(whileRunning(child, writing))
        << "extract ended before it could be interrupted";
    ::kill(child.pid, SIGINT);
    finish(child);
    ASSERT_FALSE(child.timedOut);
    EXPECT_EQ(child.exitCode, 128 + SIGINT);
    EXPECT_TRUE(fs::is_empty(target / "t"));
    // Nothing but the archive, the target and what is below it.
    std::vector<std::string> beside;
    for (const auto& item : fs::directory_iterator(scratch / "out")) beside.push_back(item.path().filename().string());
    std::sort(beside.begin(), beside.end());
    EXPECT_EQ(beside, (std::vector<std::string>{"big.qex", "target"}));
    EXPECT_EQ(readFileBytes(archive), std::string(bytes.begin(), bytes.end()));
}

}  // namespace
}  // namespace qex::test
