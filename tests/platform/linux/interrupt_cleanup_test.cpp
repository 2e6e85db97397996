// The interrupt cleanup slot: an interrupt removes the item armed for it and
// ends the process by that signal, also while another thread creates the
// item. Each case runs in a child process, which the signal ends.
#include "platform/interrupt_cleanup.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/within_folder.h"
#include "support/scratch_folder.h"

namespace qex {
namespace {

namespace fs = std::filesystem;

// Runs `body` in a child with the run's handlers installed; its end as a
// shell reports it (128 + signal when a signal ended it).
int inChild(const std::function<void()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        installInterruptHandlers();
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

class InterruptCleanup : public ::testing::Test {
protected:
    test::ScratchFolder scratch;
    const fs::path root = scratch.root();
};

TEST_F(InterruptCleanup, ArmedFileIsRemovedUnlessItsNameWasTakenAndTheSignalEndsTheProcess) {
    const int end = inChild([&] {
        FolderCursor target(openTargetFolder(root.c_str()).value);
        SystemResult<PendingFile> pending = createPendingFile(target, "file");
        if (!pending.ok() || ::write(pending.value.file, "half", 4) != 4) ::_exit(3);
        ::raise(SIGTERM);
        ::_exit(4);
    });
    EXPECT_EQ(end, 128 + SIGTERM);
    EXPECT_TRUE(fs::is_empty(root));
    // An item that took the armed name since is somebody else's: it stays.
    const fs::path file = root / "taken";
    const int otherEnd = inChild([&] {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (!armRemovalOnInterrupt(file.c_str(), fd)) ::_exit(3);
        ::unlink(file.c_str());
        ::close(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));  // somebody else's now
        ::raise(SIGHUP);
    });
    EXPECT_EQ(otherEnd, 128 + SIGHUP);
    EXPECT_TRUE(fs::exists(file));
}

TEST_F(InterruptCleanup, InterruptDuringACreationOnAnotherThreadRemovesWhatItCreated) {
    // The creator holds interrupts off, so the main thread's handler takes the
    // signal mid-creation; it waits for the creation to end, then removes the file.
    const fs::path file = root / "created";
    const int end = inChild([&] {
        sigset_t interrupt;
        sigemptyset(&interrupt);
        sigaddset(&interrupt, SIGINT);
        ::pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);  // pending until main lets it in
        std::atomic<int> step{0};
        std::thread creator([&] {
            if (armBeforeCreating(kNoFile, file.c_str()) != Arming::armed) ::_exit(3);
            step = 1;
            while (step != 2) {}
            // Once the signal is no longer pending, main's handler has it.
            sigset_t pending;
            do ::sigpending(&pending);
            while (sigismember(&pending, SIGINT));
            const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            armedCreationDone(fd >= 0, fd);
            for (;;) ::pause();
        });
        while (step != 1) {}
        ::kill(::getpid(), SIGINT);
        step = 2;
        ::pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
        creator.join();
    });
    EXPECT_EQ(end, 128 + SIGINT);
    EXPECT_TRUE(fs::is_empty(root));
}

}  // namespace
}  // namespace qex
