// Faults on the add side, through the executable: sources that cannot be
// read or listed, items that change or are swapped while added, a file size
// limit, interrupts during add and extract, and console streams. An archive
// left behind must extract without error to exactly what was read; one that
// could not be finished must not be left at all.
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "frontend/add_command.h"
#include "frontend/archive_fixture.h"
#include "platform/text_conversion.h"
#include "support/archive_builder.h"
#include "support/pattern_bytes.h"

namespace qex::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

// Only guards against a hang; never a speed check.
constexpr std::chrono::seconds kRunLimit{300};

// Incompressible bytes, so that coding them takes a while.
std::string noise(size_t size, uint32_t seed) {
    const std::vector<uint8_t> bytes = patternBytes(size, seed);
    return std::string(bytes.begin(), bytes.end());
}

// The children's own set-up: SIGQUIT leaves no core file; and, as a shell
// starts a program, a broken pipe ends it unless it ignores the signal
// itself (this test process may ignore it, and children inherit that).
void leaveNoCore() {
    const struct rlimit noCore {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
}
void leaveNoCoreAndDieOfSigpipe() {
    leaveNoCore();
    ::signal(SIGPIPE, SIG_DFL);
}

// A child that a test can interrupt: standard output to `outputs`.out, or
// with `brokenPipe` to a pipe nobody reads from (every write fails with
// EPIPE); standard error to `outputs`.err.
pid_t start(const std::vector<std::string>& args, const fs::path& outputs, bool brokenPipe = false,
            void (*beforeExec)() = leaveNoCore) {
    const int out = ::open((outputs.string() + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = ::open((outputs.string() + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int ends[2] = {-1, -1};
    if (brokenPipe) {
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        ::close(ends[0]);
        beforeExec = leaveNoCoreAndDieOfSigpipe;
    }
    const pid_t pid = startProcess(args, 0, brokenPipe ? ends[1] : out, err, {}, beforeExec);
    for (const int fd : {out, err, ends[1]})
        if (fd >= 0) ::close(fd);
    EXPECT_GT(pid, 0);
    return pid;
}

ProcessEnd finish(pid_t pid) {
    const ProcessEnd end = waitForProcess(pid, Clock::now() + kRunLimit);
    EXPECT_FALSE(end.timedOut);
    return end;
}

// Polls until `condition` holds or the child has ended; false in the latter case.
template <typename Condition>
bool whileRunning(pid_t pid, Condition condition) {
    const auto deadline = Clock::now() + kRunLimit;
    while (!condition()) {
        siginfo_t info{};
        const int waited = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (waited == 0 && info.si_pid != 0) return false;
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The temporary an add is writing in `folder` (its name starts with a
// dot), once it holds bytes; empty before.
fs::path temporaryWithBytes(const fs::path& folder) {
    std::error_code error;
    for (const auto& item : fs::directory_iterator(folder, error)) {
        const uintmax_t size = item.file_size(error);
        if (item.path().filename().string()[0] == '.' && !error && size > 0) return item.path();
    }
    return {};
}

class AddFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.empty());
        // Open to the unprivileged user of the permission case.
        fs::permissions(scratch, fs::perms::all);
        fs::create_directories(scratch / "src");
        fs::create_directories(scratch / "out");
        fs::permissions(scratch / "src", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                             fs::perms::others_read | fs::perms::others_exec);
    }

    // Extracts `archive` into a new folder and returns what it holds.
    std::map<std::string, std::string> extracted(const fs::path& archive) {
        const fs::path target = scratch / ("extracted-" + std::to_string(extractions++));
        fs::create_directory(target);
        const ProcessResult r = runQex({"x", archive.string(), target.string()});
        EXPECT_EQ(r.exitCode, 0) << "the archive is not consistent: " << r.err;
        return treeItems(target);
    }

    test::ScratchFolder scratchFolder;
    const fs::path scratch = scratchFolder.root();
    int extractions = 0;
};

TEST_F(AddFaults, UnreadableFileAndUnlistableFolderAreWarnedAndLeftOut) {
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
    std::vector<std::string> args = ordinaryUserArgs();
    if (::geteuid() == 0 && args.empty()) GTEST_SKIP() << "running as root without setpriv";
    const fs::path archive = scratch / "out" / "a.qex";
    args.insert(args.end(), {QEX_EXE, "a", archive.string(), src.string()});
    const ProcessResult r = runProcess(args);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("qex: cannot read \"" + (src / "locked.txt").string() +
                                 "\": Permission denied (not stored)"));
    EXPECT_THAT(r.err, HasSubstr("qex: cannot list folder \"" + (src / "closed").string() +
                                 "\": Permission denied (not stored)"));
    // Neither is stored: restored as root, an empty file or folder would
    // take the place of what could not be read.
    EXPECT_EQ(extracted(archive), (std::map<std::string, std::string>{
                                      {"src", "folder"}, {"src/a.txt", "file readable"}, {"src/z.txt", "file last"}}));
}

TEST_F(AddFaults, FilesThatGrowOrShrinkWhileAddedKeepAtMostTheirListedSizeWithAWarning) {
    // More than the reader may read ahead of the coder (255 chunks of 64 KiB):
    // it is still busy with the zeros while the two files behind them change
    // (a very slow machine may have read them already; the checks allow it).
    constexpr size_t kZeroBytes = size_t{20} << 20;
    const fs::path src = scratch / "src";
    writeFileBytes(src / "0-zeros", std::string(kZeroBytes, '\0'));
    const std::string grownStart = noise(1000, 1);
    const std::string shrunkStart = noise(1 << 20, 2);
    writeFileBytes(src / "1-grows", grownStart);
    writeFileBytes(src / "2-shrinks", shrunkStart);
    const fs::path archive = scratch / "out" / "g.qex";
    const pid_t pid = start({QEX_EXE, "a", archive.string(), src.string()}, scratch / "add");
    whileRunning(pid, [&] { return !temporaryWithBytes(scratch / "out").empty(); });
    std::ofstream(src / "1-grows", std::ios::binary | std::ios::app) << noise(512 << 10, 3);
    fs::resize_file(src / "2-shrinks", 100000);
    const ProcessEnd end = finish(pid);
    const std::string err = withoutSanitizerNotes(readFileBytes(scratch / "add.err"));

    // The grown file never gives more than its listed size; the shrunk one
    // gives what was left of it, with a warning, unless it was read whole
    // before it shrank.
    const auto items = extracted(archive);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items.at("src/1-grows"), "file " + grownStart);
    const std::string shrunk = items.at("src/2-shrinks").substr(5);
    const bool shrunkWhileRead = shrunk.size() == 100000;
    EXPECT_EQ(shrunk, shrunkStart.substr(0, shrunkWhileRead ? 100000 : shrunkStart.size()));
    const std::string warning = "qex: file changed as it was read \"" + (src / "2-shrinks").string() +
                                "\": it shrank from the 1048576 bytes listed to 100000; those were stored\n";
    EXPECT_EQ(err.find(warning) != std::string::npos, shrunkWhileRead) << err;
    EXPECT_EQ(end.exitCode, err.empty() ? 0 : 1) << err;
    EXPECT_EQ(items.at("src/0-zeros"), "file " + std::string(kZeroBytes, '\0'));
}

TEST_F(AddFaults, ItemsSwappedAfterListingAreNeitherReadNorStored) {
    const fs::path src = scratch / "src";
    const fs::path secret = scratch / "secret";
    fs::create_directories(src / "d_folder");
    fs::create_directories(secret);
    writeFileBytes(secret / "key", "SECRET");
    for (const char* name : {"a_kept", "b_link", "c_fifo", "e_other"}) writeFileBytes(src / name, "plain");
    writeFileBytes(src / "d_folder" / "inner", "plain");
    AddWalkHooks hooks;
    hooks.afterListing = [&](const std::string& folder) {
        if (folder != src.string() + "/") return;
        fs::remove(src / "b_link");
        fs::create_symlink(secret / "key", src / "b_link");
        fs::remove(src / "c_fifo");
        ASSERT_EQ(::mkfifo((src / "c_fifo").c_str(), 0600), 0);  // no writer ever comes
        fs::remove_all(src / "d_folder");
        fs::create_directory_symlink(secret, src / "d_folder");
        writeFileBytes(scratch / "other", "SECRET");  // another file, renamed over it
        fs::rename(scratch / "other", src / "e_other");
    };
    const fs::path archive = scratch / "out" / "a.qex";
    ConsoleOutput console;
    console.stream = std::tmpfile();
    ::testing::internal::CaptureStderr();
    const int exitCode = runAddWithHooks(nativeToUtf16(archive.string()), {nativeToUtf16(src.string())},
                                         CommandOptions{}, console, hooks);
    const std::string err = ::testing::internal::GetCapturedStderr();
    std::fclose(console.stream);

    EXPECT_EQ(exitCode, 1) << err;
    for (const char* name : {"b_link", "c_fifo", "d_folder", "e_other"})
        EXPECT_THAT(err, HasSubstr("qex: \"" + (src / name).string() + "\" changed after it was listed: " +
                                   "it is no longer the same file (not stored)"));
    EXPECT_EQ(extracted(archive),
              (std::map<std::string, std::string>{{"src", "folder"}, {"src/a_kept", "file plain"}}));
}

TEST_F(AddFaults, FileSizeLimitFailsTheArchiveWriteAndKeepsTheOldArchive) {
    // Before: SIGXFSZ ended add (exit 153) without a word and left its
    // temporary. The limit stops the stream (1 MiB of noise, 128 KiB) or the
    // directory (200 empty files of long names, 1 KiB; the stream is 6 bytes).
    writeFileBytes(scratch / "src" / "noise.bin", noise(1 << 20, 8));
    fs::create_directory(scratch / "names");
    for (int k = 0; k < 200; ++k)
        writeFileBytes(scratch / "names" / std::string(60, 'n').append(std::to_string(k)), "");
    const fs::path archive = scratch / "out" / "limited.qex";
    writeFileBytes(archive, "the old archive");
    for (const auto& [source, blocks] : std::map<std::string, std::string>{{"src", "256"}, {"names", "2"}}) {
        SCOPED_TRACE(source);
        const std::string limited = "ulimit -f " + blocks + " && exec \"$0\" a -f \"$1\" \"$2\"";
        const ProcessResult r =
            runProcess({"/bin/sh", "-c", limited, QEX_EXE, archive.string(), (scratch / source).string()});
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_THAT(r.err, HasSubstr("cannot write archive \"" + archive.string() + "\": File too large"));
        EXPECT_EQ(readFileBytes(archive), "the old archive");
        EXPECT_EQ(namesIn(scratch / "out"), std::vector<std::string>{"limited.qex"});
    }
}

TEST_F(AddFaults, InterruptDuringAddRemovesOnlyTheTemporaryItMadeAndEndsBySignal) {
    const fs::path src = scratch / "src", out = scratch / "out";
    writeFileBytes(src / "noise.bin", noise(2 << 20, 5));
    const fs::path archive = out / "interrupted.qex";
    writeFileBytes(archive, "the old archive");
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(signalNumber);
        const pid_t pid = start({QEX_EXE, "a", "-f", archive.string(), src.string()}, scratch / "add");
        // Interrupt once the stream has begun to reach the temporary.
        fs::path temporary;
        ASSERT_TRUE(whileRunning(pid, [&] { return !(temporary = temporaryWithBytes(out)).empty(); }))
            << "add ended before it could be interrupted";
        // The last time somebody else's file has taken the temporary's name: it stays.
        const bool taken = signalNumber == SIGQUIT;
        if (taken) {
            fs::remove(temporary);
            writeFileBytes(temporary, "someone else's");
        }
        ::kill(pid, signalNumber);
        EXPECT_EQ(finish(pid).exitCode, 128 + signalNumber) << readFileBytes(scratch / "add.err");
        EXPECT_EQ(readFileBytes(archive), "the old archive");
        if (taken) {
            EXPECT_EQ(readFileBytes(temporary), "someone else's");
        } else {
            EXPECT_EQ(namesIn(out), std::vector<std::string>{"interrupted.qex"});
        }
    }
}

TEST_F(AddFaults, InterruptAtAnyMomentOfAnExtractionLeavesNoTemporaryNorPartialFile) {
    // Before: most interrupts left a `.part` or a link temporary. Interrupted
    // while a large file is written, among the small files and among the
    // links (which come last), nothing but whole items is left, all within.
    const std::string big = noise(1 << 20, 7);
    ArchiveBuilder builder;
    builder.folder(0, u"t").file(1, u"big.bin", big);
    for (char16_t k = 0; k < 1500; ++k) builder.file(1, std::u16string(u"f") + static_cast<char16_t>(u'A' + k), "x");
    for (char16_t k = 0; k < 1500; ++k) builder.link(1, std::u16string(u"l") + static_cast<char16_t>(u'A' + k), "f");
    const fs::path archive = scratch / "out" / "many.qex";
    const std::string bytes = builder.text();
    writeFileBytes(archive, bytes);
    const fs::path target = scratch / "out" / "target";
    // Files holding bytes (a temporary included), or links, made so far.
    const auto countOf = [&](bool links) {
        size_t count = 0;
        std::error_code error;
        for (const auto& item : fs::directory_iterator(target / "t", error)) {
            const bool link = item.is_symlink(error);
            const uintmax_t size = link ? 0 : item.file_size(error);
            count += (links ? link : size > 0 && !error) ? 1 : 0;
        }
        return count;
    };
    for (const auto& [links, atLeast] : std::vector<std::pair<bool, size_t>>{
             {false, 1}, {false, 10}, {false, 1000}, {true, 1}, {true, 700}}) {
        SCOPED_TRACE(std::to_string(links) + " " + std::to_string(atLeast));
        fs::remove_all(target);
        fs::create_directory(target);
        const pid_t pid = start({QEX_EXE, "x", archive.string(), target.string()}, scratch / "extract");
        if (!whileRunning(pid, [&] { return countOf(links) >= atLeast; })) {
            EXPECT_NE(atLeast, 1u) << "extract ended before it could be interrupted";
            finish(pid);
            continue;  // ended first: nothing to interrupt at this point
        }
        ::kill(pid, SIGINT);
        EXPECT_EQ(finish(pid).exitCode, 128 + SIGINT);
        for (const auto& item : fs::directory_iterator(target / "t"))
            EXPECT_NE(item.path().filename().string().rfind(".qex-", 0), 0u) << item.path();
        EXPECT_TRUE(!fs::exists(target / "t" / "big.bin") || readFileBytes(target / "t" / "big.bin") == big);
    }
    EXPECT_EQ(namesIn(scratch / "out"), (std::vector<std::string>{"many.qex", "target"}));
    EXPECT_TRUE(readFileBytes(archive) == bytes);
}

// A system-call filter, as some containers have, that refuses openat2.
void refuseOpenat2() {
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog filter{sizeof program / sizeof program[0], program};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) != 0)
        ::_exit(126);
}

TEST_F(AddFaults, ExtractionUnderAFilterThatRefusesOpenat2MakesTheWholeTree) {
    // Before: EPERM from openat2 was taken for a refusal, and nothing below
    // the top level was created.
    fs::create_directories(scratch / "src" / "a" / "b");
    writeFileBytes(scratch / "src" / "a" / "b" / "deep", "deep");
    writeFileBytes(scratch / "src" / "top", "top");
    const fs::path archive = scratch / "out" / "tree.qex";
    ASSERT_EQ(runQex({"a", archive.string(), (scratch / "src").string()}).exitCode, 0);
    const fs::path target = scratch / "out" / "target";
    fs::create_directory(target);
    const pid_t pid = start({QEX_EXE, "x", archive.string(), target.string()}, scratch / "filtered",
                            /*brokenPipe=*/false, refuseOpenat2);
    EXPECT_EQ(finish(pid).exitCode, 0) << readFileBytes(scratch / "filtered.err");
    EXPECT_EQ(treeItems(target / "src"), treeItems(scratch / "src"));
}

TEST_F(AddFaults, ConsoleTextNeverLandsInTheArchive) {
    // Before: with standard output or error closed at start, the archive
    // took descriptor 1 (or 2) and the console text landed inside it.
    writeFileBytes(scratch / "src" / "a.txt", "hello");
    const std::map<std::string, std::string> tree{{"src", "folder"}, {"src/a.txt", "file hello"}};
    const fs::path archive = scratch / "out" / "a.qex";
    // Streams closed at start, or standard output the very file named as the archive.
    for (const std::string streams : {"<&-", ">&-", "2>&-", "<&- >&- 2>&-", ">\"$1\""}) {
        SCOPED_TRACE(streams);
        const std::string command = "exec \"$0\" a \"$1\" \"$2\" " + streams;
        const ProcessResult r =
            runProcess({"/bin/sh", "-c", command, QEX_EXE, archive.string(), (scratch / "src").string()});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(extracted(archive), tree);
    }
    // Standard output a pipe named as /dev/stdout: the console text goes to
    // standard error.
    const ProcessResult piped = runQex({"a", "/dev/stdout", (scratch / "src").string()});
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    writeFileBytes(archive, piped.out);
    EXPECT_EQ(extracted(archive), tree);
    EXPECT_EQ(piped.err.rfind("a command\n<" + (scratch / "src").string() + ">\n", 0), 0u) << piped.err;
}

TEST_F(AddFaults, ReaderOfStandardOutputGoneEndsEveryCommandAlikeWithExitOne) {
    // Before: the first console write killed qex by SIGPIPE (exit 141),
    // leaving a cut archive and an extraction that had not begun.
    for (int k = 0; k < 300; ++k) {
        const std::string number = std::to_string(k);
        writeFileBytes(scratch / "src" / std::string("f").append(number), std::string("file ").append(number));
    }
    const fs::path archive = scratch / "out" / "p.qex";
    const fs::path target = scratch / "out" / "target";
    fs::create_directory(target);
    // Add, extract and test go on to their end; the listing and contents
    // sent to standard output stop at once, since nobody takes them.
    const std::vector<std::vector<std::string>> commands{{QEX_EXE, "a", archive.string(), (scratch / "src").string()},
                                                         {QEX_EXE, "x", archive.string(), target.string()},
                                                         {QEX_EXE, "t", archive.string()},
                                                         {QEX_EXE, "l", archive.string()},
                                                         {QEX_EXE, "x", archive.string(), "-"}};
    for (const auto& command : commands) {
        SCOPED_TRACE(command[1] + " " + command.back());
        EXPECT_EQ(finish(start(command, scratch / "run", /*brokenPipe=*/true)).exitCode, 1);
        // Once, last; contents to standard output leave the console text there.
        const std::string err = withoutSanitizerNotes(readFileBytes(scratch / "run.err"));
        const std::string line = "qex: cannot write to standard output: Broken pipe\n";
        EXPECT_EQ(err.find(line), err.size() - line.size()) << err;
        EXPECT_TRUE(command.back() == "-" || err == line) << err;
    }
    EXPECT_EQ(treeItems(target / "src"), treeItems(scratch / "src"));
}

}  // namespace
}  // namespace qex::test
