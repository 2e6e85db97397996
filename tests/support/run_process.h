// Runs a program as a child process for tests: arguments as given (no shell),
// an optional working folder and standard input, standard output and
// standard error captured separately, and a timeout after which the child is
// killed so that a hanging program fails its test instead of the whole run.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <chrono>
#include <string>
#include <vector>

namespace qex::test {

struct ProcessResult {
    std::string out;     // everything written to standard output
    std::string err;     // everything written to standard error
    int exitCode = -1;   // exit status; 128 + signal number when killed by a signal
    bool timedOut = false;
    bool started = false;
};

struct ProcessOptions {
    std::string workingDir;  // empty: the test's own
    std::string input;       // written to the child's standard input, which is then closed
    std::chrono::milliseconds timeout{std::chrono::minutes(5)};
};

namespace detail {

inline void closeIfOpen(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace detail

// args[0] is the program's path; the others are passed as they are.
inline ProcessResult runProcess(const std::vector<std::string>& args,
                                const ProcessOptions& options = {}) {
    ProcessResult result;
    if (args.empty()) return result;
    int outPipe[2], errPipe[2], inPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return result;
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return result;
    }
    if (::pipe2(inPipe, O_CLOEXEC) != 0) {
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) ::close(fd);
        return result;
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(inPipe[0], 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        if (!options.workingDir.empty() && ::chdir(options.workingDir.c_str()) != 0) ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int outRead = outPipe[0], errRead = errPipe[0], inWrite = inPipe[1];
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ::close(inPipe[0]);
    if (pid < 0) {
        detail::closeIfOpen(outRead);
        detail::closeIfOpen(errRead);
        detail::closeIfOpen(inWrite);
        return result;
    }
    result.started = true;
    ::signal(SIGPIPE, SIG_IGN);  // a child that ignores its input must not kill the test
    ::fcntl(inWrite, F_SETFL, O_NONBLOCK);
    size_t inputSent = 0;
    if (options.input.empty()) detail::closeIfOpen(inWrite);

    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    char buffer[65536];
    while (outRead >= 0 || errRead >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd fds[3];
        int count = 0;
        for (int fd : {outRead, errRead}) {
            if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
        }
        if (inWrite >= 0) fds[count++] = {inWrite, POLLOUT, 0};
        const int ready = ::poll(fds, static_cast<nfds_t>(count), static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) break;
        for (int k = 0; k < count; ++k) {
            if (fds[k].revents == 0) continue;
            if (fds[k].fd == inWrite) {
                const ssize_t n = ::write(inWrite, options.input.data() + inputSent, options.input.size() - inputSent);
                if (n > 0) inputSent += static_cast<size_t>(n);
                if (n < 0 || inputSent == options.input.size()) detail::closeIfOpen(inWrite);
                continue;
            }
            const ssize_t n = ::read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                (fds[k].fd == outRead ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                detail::closeIfOpen(fds[k].fd == outRead ? outRead : errRead);
            }
        }
    }
    detail::closeIfOpen(outRead);
    detail::closeIfOpen(errRead);
    detail::closeIfOpen(inWrite);
    // The child may close its outputs and still run: wait for it until the deadline.
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) break;
        if (std::chrono::steady_clock::now() >= deadline && !result.timedOut) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) result.exitCode = 128 + WTERMSIG(status);
    return result;
}

}  // namespace qex::test
