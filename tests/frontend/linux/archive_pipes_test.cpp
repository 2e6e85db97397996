// Archive paths that cannot be read at offsets, through the executable: a
// FIFO and /dev/stdin on a pipe are spooled and read like files, the spool
// leaves nothing in TMPDIR, and a terminal on standard input is refused.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "frontend/archive_fixture.h"
#include "support/archive_builder.h"

namespace qex::test {
namespace {

using ::testing::HasSubstr;

TEST(ArchivePipes, NonSeekableArchivesAreSpooledAndTerminalsRefused) {
    const ScratchFolder scratch;
    const fs::path root = scratch.root();
    ArchiveBuilder b;
    b.folder(0, u"d").file(1, u"a.txt", "hello\n");
    writeFileBytes(root / "x.qex", b.text());
    fs::create_directory(root / "tmp");
    ASSERT_EQ(::mkfifo((root / "fifo").c_str(), 0600), 0);
    // The archive waits in the FIFO before qex opens it, its writer gone (a
    // reader kept open holds the bytes): qex reads them, then the end. The
    // spool goes to TMPDIR.
    const std::string script = "exec 3<>\"$1/fifo\" 4<\"$1/fifo\"; cat \"$1/x.qex\" >&3; exec 3>&-; "
                               "TMPDIR=\"$1/$2\" exec \"$0\" t \"$1/fifo\"";
    ProcessResult r = runProcess({"/bin/sh", "-c", script, QEX_EXE, root.string(), "tmp"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_empty(root / "tmp"));
    r = runProcess({"/bin/sh", "-c", script, QEX_EXE, root.string(), "missing"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.err, HasSubstr("cannot create a temporary file for archive"));
    r = runQex({"l", "/dev/stdin"}, {}, b.text());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("d/a.txt"));
    // A terminal: the master side of a new pseudo-terminal is one.
    r = runProcess({"/bin/sh", "-c", "exec \"$0\" l - </dev/ptmx", QEX_EXE});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.err, HasSubstr("refusing to read the archive from a terminal on standard input"));
}

// qex may open a FIFO before its writer does, and the system gives such a
// reader the end at once: qex waits for the writer instead.
TEST(ArchivePipes, FifoOpenedBeforeItsWriterIsWaitedFor) {
    const ScratchFolder scratch;
    const fs::path fifo = scratch.root() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int out = ::open((scratch.root() / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int none = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = startProcess({QEX_EXE, "l", fifo.string()}, none, out, out);
    // The writer comes only once qex sleeps (or has ended): a qex that read
    // the end at once has ended with nothing listed by then.
    const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    auto state = [&] {
        const std::string text = readFileBytes(stat);
        const size_t name = text.rfind(')');
        return name == std::string::npos || name + 2 >= text.size() ? 'Z' : text[name + 2];
    };
    while (state() != 'S' && state() != 'Z') std::this_thread::yield();
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    const std::string archive = ArchiveBuilder().folder(0, u"d").file(1, u"a.txt", "hello\n").text();
    EXPECT_EQ(::write(writer, archive.data(), archive.size()), ssize_t(archive.size()));  // fits the pipe
    ::close(writer);
    const ProcessEnd end = waitForProcess(pid, std::chrono::steady_clock::now() + std::chrono::minutes(1));
    ::close(out);
    ::close(none);
    const std::string printed = readFileBytes(scratch.root() / "out");
    EXPECT_EQ(end.exitCode, 0) << printed;
    EXPECT_THAT(printed, HasSubstr("d/a.txt"));
}

}  // namespace
}  // namespace qex::test
