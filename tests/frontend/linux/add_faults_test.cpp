// Faults on the add side, through the executable: sources that cannot be
// read or listed, files that change while they are read, a full file
// system, and interrupts during add and extract.
//
// Whatever happens, an archive that is left behind must be consistent: it
// extracts without error to exactly what was read. An archive that could
// not be finished must not be left behind at all.
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

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "frontend/archive_fixture.h"
#include "support/archive_builder.h"
#include "support/pattern_bytes.h"

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
    const std::vector<uint8_t> bytes = patternBytes(size, seed);
    return std::string(bytes.begin(), bytes.end());
}

// A child process that a test can interrupt: its output goes to files.
struct Child {
    pid_t pid = -1;
    int exitCode = -1;      // set by finish(); 128 + signal when killed by one
    bool timedOut = false;  // set by finish()
};

// Standard output of a started child: a file, or a pipe nobody reads from
// (every write to it fails with EPIPE).
enum class Output { file, brokenPipe };

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

// Standard output to `outputs`.out (or a broken pipe), standard error to
// `outputs`.err.
Child start(const std::vector<std::string>& args, const fs::path& outputs, Output output = Output::file,
            void (*beforeExec)() = leaveNoCore) {
    const int out = ::open((outputs.string() + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = ::open((outputs.string() + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int ends[2] = {-1, -1};
    if (output == Output::brokenPipe) {
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        ::close(ends[0]);
        beforeExec = leaveNoCoreAndDieOfSigpipe;
    }
    Child child;
    child.pid = startProcess(args, 0, output == Output::brokenPipe ? ends[1] : out, err, {}, beforeExec);
    for (const int fd : {out, err, ends[1]})
        if (fd >= 0) ::close(fd);
    EXPECT_GT(child.pid, 0);
    return child;
}

void finish(Child& child) {
    const ProcessEnd end = waitForProcess(child.pid, Clock::now() + kRunLimit);
    child.exitCode = end.exitCode;
    child.timedOut = end.timedOut;
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

// The temporary an add is writing in `folder` (its name starts with a
// dot), once it holds bytes; empty before.
fs::path temporaryWithBytes(const fs::path& folder) {
    std::error_code error;
    for (const auto& item : fs::directory_iterator(folder, error)) {
        const std::string name = item.path().filename().string();
        if (name[0] == '.' && sizeOrZero(item.path()) > 0) return item.path();
    }
    return {};
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
    EXPECT_THAT(r.err, HasSubstr("qex: cannot read \"" + (src / "locked.txt").string() +
                                 "\": Permission denied (not stored)"));
    EXPECT_THAT(r.err, HasSubstr("qex: cannot list folder \"" + (src / "closed").string() +
                                 "\": Permission denied (not stored)"));

    // Neither is stored: restored as root, an empty file or folder would
    // take the place of what could not be read.
    EXPECT_EQ(extracted(archive), (std::map<std::string, std::string>{
                                      {"src", "folder"}, {"src/a.txt", "file readable"}, {"src/z.txt", "file last"}}));
}

TEST_F(AddFaults, TreeWithALoopAFifoAndTheArchiveInsideArchivesConsistently) {
    const fs::path src = scratch / "src";
    fs::create_directories(src / "sub");
    writeFileBytes(src / "sub" / "f", "f");
    fs::create_directory_symlink("..", src / "sub" / "up");
    ASSERT_EQ(::mkfifo((src / "fifo").c_str(), 0644), 0);
    const fs::path archive = src / "self.qex";
    const ProcessResult r = runQex({"a", archive.string(), src.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // The link back up is stored as a link, never entered; the FIFO as a FIFO.
    EXPECT_EQ(extracted(archive), (std::map<std::string, std::string>{{"src", "folder"},
                                                                      {"src/fifo", "other"},
                                                                      {"src/sub", "folder"},
                                                                      {"src/sub/f", "file f"},
                                                                      {"src/sub/up", "link to .."}}));
}

TEST_F(AddFaults, FilesThatGrowOrShrinkWhileAddedKeepAtMostTheirListedSizeWithAWarning) {
    // More than the reader may read ahead of the coder (255 chunks of 64 KiB).
    constexpr size_t kZeroBytes = size_t{20} << 20;
    // The stream reaches the archive only once the walk has listed the
    // folder; the long run of zeros first then keeps the reader busy while
    // the test changes the two files behind it (unless the machine is very
    // slow, in which case the reader may have read them already: the checks
    // below allow for that).
    const fs::path src = scratch / "src";
    writeFileBytes(src / "0-zeros", std::string(kZeroBytes, '\0'));
    const std::string grownStart = noise(1000, 1);
    const std::string shrunkStart = noise(1 << 20, 2);
    writeFileBytes(src / "1-grows", grownStart);
    writeFileBytes(src / "2-shrinks", shrunkStart);
    const fs::path archive = scratch / "out" / "g.qex";
    Child child = start({QEX_EXE, "a", archive.string(), src.string()}, scratch / "add");
    whileRunning(child, [&] { return !temporaryWithBytes(scratch / "out").empty(); });
    {
        std::ofstream grow(src / "1-grows", std::ios::binary | std::ios::app);
        grow << noise(512 << 10, 3);
    }
    fs::resize_file(src / "2-shrinks", 100000);
    finish(child);
    ASSERT_FALSE(child.timedOut);
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
    EXPECT_EQ(child.exitCode, err.empty() ? 0 : 1) << err;
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

TEST_F(AddFaults, InterruptDuringAddRemovesOnlyTheTemporaryAndEndsBySignal) {
    writeFileBytes(scratch / "src" / "noise.bin", noise(2 << 20, 5));
    const fs::path archive = scratch / "out" / "interrupted.qex";
    writeFileBytes(archive, "the old archive");
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(signalNumber);
        Child child = start({QEX_EXE, "a", "-f", archive.string(), (scratch / "src").string()}, scratch / "add");
        // Interrupt once the stream has begun to reach the temporary.
        ASSERT_TRUE(whileRunning(child, [&] { return !temporaryWithBytes(scratch / "out").empty(); }))
            << "add ended before it could be interrupted";
        ::kill(child.pid, signalNumber);
        finish(child);
        ASSERT_FALSE(child.timedOut);
        EXPECT_EQ(child.exitCode, 128 + signalNumber) << readFileBytes(scratch / "add.err");
        EXPECT_EQ(readFileBytes(archive), "the old archive");
        EXPECT_EQ(namesIn(scratch / "out"), std::vector<std::string>{"interrupted.qex"});
    }
}

TEST_F(AddFaults, InterruptedAddLeavesAFileThatTookTheTemporarysNameAlone) {
    // Somebody replaces the temporary while it is being written: the
    // interrupt removes only the file this run created.
    writeFileBytes(scratch / "src" / "noise.bin", noise(2 << 20, 6));
    const fs::path archive = scratch / "out" / "taken.qex";
    Child child = start({QEX_EXE, "a", archive.string(), (scratch / "src").string()}, scratch / "add");
    fs::path temporary;
    ASSERT_TRUE(whileRunning(child, [&] { return !(temporary = temporaryWithBytes(scratch / "out")).empty(); }))
        << "add ended before it could be interrupted";
    fs::remove(temporary);
    writeFileBytes(temporary, "someone else's");
    ::kill(child.pid, SIGINT);
    finish(child);
    EXPECT_EQ(child.exitCode, 128 + SIGINT);
    EXPECT_EQ(readFileBytes(temporary), "someone else's");
    EXPECT_FALSE(fs::exists(archive));
}

TEST_F(AddFaults, InterruptDuringExtractStopsPromptlyWithinTheTarget) {
    ArchiveBuilder builder;
    builder.folder(0, u"t").file(1, u"big.bin", noise(1 << 20, 7)).file(1, u"after.txt", "after");
    const fs::path archive = scratch / "out" / "big.qex";
    const std::string bytes = builder.text();
    writeFileBytes(archive, bytes);
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
    EXPECT_EQ(namesIn(scratch / "out"), (std::vector<std::string>{"big.qex", "target"}));
    EXPECT_EQ(readFileBytes(archive), bytes);
}

TEST_F(AddFaults, InterruptAtAnyMomentOfAnExtractionLeavesNoTemporary) {
    // Before: handlers were installed and removed around every file, and a
    // temporary was armed only after it existed, so most interrupts left a
    // `.part` or a link temporary. Interrupted at several points (among
    // the files, and among the links, which come last), nothing is left.
    ArchiveBuilder builder;
    builder.folder(0, u"t");
    for (char16_t k = 0; k < 1500; ++k) builder.file(1, std::u16string(u"f") + static_cast<char16_t>(u'A' + k), "x");
    for (char16_t k = 0; k < 1500; ++k) builder.link(1, std::u16string(u"l") + static_cast<char16_t>(u'A' + k), "f");
    const fs::path archive = scratch / "out" / "many.qex";
    writeFileBytes(archive, builder.text());
    const auto countOf = [](const fs::path& folder, bool links) {
        size_t count = 0;
        std::error_code ignored;
        for (const auto& item : fs::directory_iterator(folder, ignored))
            count += fs::is_symlink(item.symlink_status(ignored)) == links ? 1 : 0;
        return count;
    };
    for (const auto& [links, atLeast] : std::vector<std::pair<bool, size_t>>{{false, 10}, {false, 1000}, {true, 1}, {true, 700}}) {
        SCOPED_TRACE(std::to_string(links) + " " + std::to_string(atLeast));
        const fs::path target = scratch / "out" / "target";
        fs::remove_all(target);
        fs::create_directory(target);
        Child child = start({QEX_EXE, "x", archive.string(), target.string()}, scratch / "extract");
        if (!whileRunning(child, [&] { return countOf(target / "t", links) >= atLeast; })) {
            finish(child);
            continue;  // ended first: nothing to interrupt at this point
        }
        ::kill(child.pid, SIGINT);
        finish(child);
        EXPECT_EQ(child.exitCode, 128 + SIGINT);
        for (const auto& item : fs::directory_iterator(target / "t"))
            EXPECT_NE(item.path().filename().string().rfind(".qex-", 0), 0u) << item.path();
    }
}

TEST_F(AddFaults, FileSizeLimitFailsTheWriteInsteadOfKillingTheProcess) {
    // Before: SIGXFSZ ended add and extract (exit 153) without a word and
    // left their temporaries.
    writeFileBytes(scratch / "src" / "noise.bin", noise(1 << 20, 8));
    ASSERT_EQ(runQex({"a", (scratch / "big.qex").string(), (scratch / "src").string()}).exitCode, 0);
    const fs::path archive = scratch / "out" / "limited.qex";
    writeFileBytes(archive, "the old archive");
    const fs::path target = scratch / "out" / "target";
    fs::create_directory(target);
    const std::string limited = "ulimit -f 256 && exec \"$0\" \"$@\"";  // 128 KiB
    ProcessResult r = runProcess({"/bin/sh", "-c", limited, QEX_EXE, "a", "-f", archive.string(), (scratch / "src").string()});
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_THAT(r.err, HasSubstr("File too large"));
    EXPECT_EQ(readFileBytes(archive), "the old archive");
    r = runProcess({"/bin/sh", "-c", limited, QEX_EXE, "x", (scratch / "big.qex").string(), target.string()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("qex: cannot write file \"" + (target / "src" / "noise.bin").string() + "\": File too large"));
    EXPECT_EQ(namesIn(scratch / "out"), (std::vector<std::string>{"limited.qex", "target"}));
    EXPECT_TRUE(fs::is_empty(target / "src"));
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
    Child child = start({QEX_EXE, "x", archive.string(), target.string()}, scratch / "filtered", Output::file,
                        refuseOpenat2);
    finish(child);
    EXPECT_EQ(child.exitCode, 0) << readFileBytes(scratch / "filtered.err");
    EXPECT_EQ(treeItems(target / "src"), treeItems(scratch / "src"));
}

// Console streams: closed at start, the archive itself, a reader that has gone.

TEST_F(AddFaults, ClosedStandardStreamsNeverTakeTheArchivesPlace) {
    // Before: the archive took descriptor 1 (or 2) and the console text
    // landed inside it.
    writeFileBytes(scratch / "src" / "a.txt", "hello");
    const std::map<std::string, std::string> tree{{"src", "folder"}, {"src/a.txt", "file hello"}};
    for (const std::string closing : {"<&-", ">&-", "2>&-", "<&- >&- 2>&-"}) {
        SCOPED_TRACE(closing);
        const fs::path archive = scratch / "out" / "closed.qex";
        const ProcessResult r = runProcess({"/bin/sh", "-c", "exec \"$0\" a \"$1\" \"$2\" " + closing, QEX_EXE,
                                            archive.string(), (scratch / "src").string()});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(extracted(archive), tree);
    }
}

TEST_F(AddFaults, ArchiveOnStandardOutputGetsItToItself) {
    writeFileBytes(scratch / "src" / "a.txt", "hello");
    const std::map<std::string, std::string> tree{{"src", "folder"}, {"src/a.txt", "file hello"}};
    // Standard output a pipe, named as /dev/stdout: the console text goes to
    // standard error.
    const ProcessResult piped = runQex({"a", "/dev/stdout", (scratch / "src").string()});
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    const fs::path received = scratch / "out" / "received.qex";
    writeFileBytes(received, piped.out);
    EXPECT_EQ(extracted(received), tree);
    const std::string consoleStart = std::string("a command\n<").append((scratch / "src").string()).append(">\n");
    EXPECT_EQ(piped.err.rfind(consoleStart, 0), 0u) << piped.err;
    // Standard output the very file named as the archive.
    const fs::path archive = scratch / "out" / "redirected.qex";
    const ProcessResult redirected = runProcess({"/bin/sh", "-c", "exec \"$0\" a \"$1\" \"$2\" >\"$1\"", QEX_EXE,
                                                 archive.string(), (scratch / "src").string()});
    EXPECT_EQ(redirected.exitCode, 0) << redirected.err;
    EXPECT_EQ(extracted(archive), tree);
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
        Child child = start(command, scratch / "run", Output::brokenPipe);
        finish(child);
        ASSERT_FALSE(child.timedOut);
        EXPECT_EQ(child.exitCode, 1);
        // Once, last; contents to standard output leave the console text there.
        const std::string err = withoutSanitizerNotes(readFileBytes(scratch / "run.err"));
        const std::string line = "qex: cannot write to standard output: Broken pipe\n";
        EXPECT_EQ(err.find(line), err.size() - line.size()) << err;
        if (command.back() != "-") {
            EXPECT_EQ(err, line);
        }
    }
    EXPECT_EQ(treeItems(target / "src"), treeItems(scratch / "src"));
}

}  // namespace
}  // namespace qex::test
