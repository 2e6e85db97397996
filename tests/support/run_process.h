// Runs a program as a child process for tests: arguments as given (no shell),
// an optional working folder and standard input, standard output and
// standard error captured separately, and a timeout after which the child is
// killed so that a hanging program fails its test instead of the whole run.
// Linux: fork and exec (startProcess and waitForProcess also serve tests
// that act on a child while it runs). Windows: CreateProcessW with the arguments quoted
// so that the child's CommandLineToArgvW gives them back unchanged.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include "platform/text_conversion.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

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

#ifdef _WIN32
// A native (UTF-8) path or argument as the system's wide functions take it.
inline std::wstring wideOf(const std::string& native) {
    const std::u16string units = qex::nativeToUtf16(native);
    return std::wstring(units.begin(), units.end());
}

namespace detail {

// One argument quoted the way CommandLineToArgvW splits it again:
// backslashes are literal except before a quote, where they are doubled.
inline std::wstring quotedArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

inline void drain(HANDLE pipe, std::string& into) {
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) into.append(buffer, got);
}

}  // namespace detail

// args[0] is the program's path; the others are passed as they are (UTF-8,
// handed over as UTF-16).
inline ProcessResult runProcess(const std::vector<std::string>& args, const ProcessOptions& options = {}) {
    ProcessResult result;
    if (args.empty()) return result;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite, inRead, inWrite;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&errRead, &errWrite, &inherit, 0) ||
        !CreatePipe(&inRead, &inWrite, &inherit, 0))
        return result;
    for (HANDLE own : {outRead, errRead, inWrite}) SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine;
    for (const std::string& a : args) {
        if (!commandLine.empty()) commandLine.push_back(L' ');
        commandLine += detail::quotedArgument(wideOf(a));
    }
    const std::wstring program = wideOf(args[0]);
    const std::wstring folder = wideOf(options.workingDir);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION child{};
    const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        folder.empty() ? nullptr : folder.c_str(), &startup, &child);
    for (HANDLE theirs : {outWrite, errWrite, inRead}) CloseHandle(theirs);
    if (!started) {
        for (HANDLE own : {outRead, errRead, inWrite}) CloseHandle(own);
        return result;
    }
    result.started = true;
    std::thread outReader([&] { detail::drain(outRead, result.out); });
    std::thread errReader([&] { detail::drain(errRead, result.err); });
    std::thread inWriter([&] {
        DWORD wrote = 0;
        if (!options.input.empty())
            WriteFile(inWrite, options.input.data(), static_cast<DWORD>(options.input.size()), &wrote, nullptr);
        CloseHandle(inWrite);
    });
    const DWORD waited = WaitForSingleObject(child.hProcess, static_cast<DWORD>(options.timeout.count()));
    if (waited != WAIT_OBJECT_0) {
        result.timedOut = true;
        TerminateProcess(child.hProcess, 1);
        WaitForSingleObject(child.hProcess, INFINITE);
    }
    inWriter.join();
    outReader.join();
    errReader.join();
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    result.exitCode = static_cast<int>(code);
    for (HANDLE h : {outRead, errRead, child.hProcess, child.hThread}) CloseHandle(h);
    return result;
}

#else
namespace detail {

inline void closeIfOpen(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace detail

// Starts args[0] on `in`, `out` and `err` (still the caller's to close), in
// `workingDir` unless empty, after `beforeExec` ran in the child; -1 when no
// child could be made. The caller waits for it (waitForProcess).
inline pid_t startProcess(const std::vector<std::string>& args, int in, int out, int err,
                          const std::string& workingDir = {}, void (*beforeExec)() = nullptr) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (!workingDir.empty() && ::chdir(workingDir.c_str()) != 0) ::_exit(126);
        if (beforeExec != nullptr) beforeExec();
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

struct ProcessEnd {
    int exitCode = -1;  // exit status; 128 + signal number when killed by a signal; -1 if unknown
    bool timedOut = false;
};

// Waits for a started child; at `deadline` it is killed and waited for.
inline ProcessEnd waitForProcess(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    ProcessEnd end;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return end;
        if (!end.timedOut && std::chrono::steady_clock::now() >= deadline) {
            end.timedOut = true;
            ::kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(status)) end.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) end.exitCode = 128 + WTERMSIG(status);
    return end;
}

// args[0] is the program's path; the others are passed as they are.
inline ProcessResult runProcess(const std::vector<std::string>& args,
                                const ProcessOptions& options = {}) {
    ProcessResult result;
    if (args.empty()) return result;
    int pipes[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};  // standard output, error and input
    bool piped = true;
    for (int* ends : pipes) piped = piped && ::pipe2(ends, O_CLOEXEC) == 0;
    const pid_t pid =
        piped ? startProcess(args, pipes[2][0], pipes[0][1], pipes[1][1], options.workingDir) : -1;
    int outRead = pipes[0][0], errRead = pipes[1][0], inWrite = pipes[2][1];
    for (int* theirs : {&pipes[0][1], &pipes[1][1], &pipes[2][0]}) detail::closeIfOpen(*theirs);
    if (pid < 0) {
        for (int* own : {&outRead, &errRead, &inWrite}) detail::closeIfOpen(*own);
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
        if (left.count() <= 0) break;  // waitForProcess kills it
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
    for (int* own : {&outRead, &errRead, &inWrite}) detail::closeIfOpen(*own);
    // The child may close its outputs and still run: wait for it until the deadline.
    const ProcessEnd end = waitForProcess(pid, deadline);
    result.exitCode = end.exitCode;
    result.timedOut = end.timedOut;
    return result;
}

#endif

// Output of a console program with its line ends as on Linux. A Windows
// console program ends its lines with "\r\n"; every line feed it wrote
// must come so, and the carriage return before it is dropped here, so the
// same expected text serves both systems.
inline std::string withLinuxLineEnds(const std::string& out) {
#ifdef _WIN32
    std::string lines;
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') {
            lines.push_back('\n');
            ++i;
            continue;
        }
        if (out[i] == '\n') ADD_FAILURE() << "a line feed without a carriage return at " << i;
        lines.push_back(out[i]);
    }
    return lines;
#else
    return out;
#endif
}

}  // namespace qex::test
