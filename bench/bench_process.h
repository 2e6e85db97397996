// Process-level measurements for the benchmarks: wall-clock time, this
// process's peak resident memory, and timed runs of another compressor as a
// child process over the same bytes (stdin from a file, stdout to a file or
// counted and dropped).
#pragma once

#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace qexbench {

inline double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Processor time of this process, all threads: on a shared machine it moves
// far less with other people's load than the wall clock does.
inline double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

inline double toSeconds(const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

// Starts a new peak-memory measurement: the kernel's high-water mark is set
// back to the current resident size. Where that is not possible the peak
// stays the process's lifetime peak (getrusage), which only overstates.
inline void resetPeakRss() {
#ifdef __GLIBC__
    malloc_trim(0);  // hand freed heap back first, so it does not count
#endif
    std::ofstream f("/proc/self/clear_refs");
    f << "5";
}

// A "Vm...:" field of /proc/self/status in KiB, 0 when it is not there.
inline uint64_t statusKiB(const char* field) {
    std::ifstream f("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(f, line))
        if (line.compare(0, n, field) == 0) return std::stoull(line.substr(n));
    return 0;
}

inline uint64_t currentRssKiB() { return statusKiB("VmRSS:"); }

inline uint64_t peakRssKiB() {
    if (uint64_t hwm = statusKiB("VmHWM:")) return hwm;
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<uint64_t>(ru.ru_maxrss);
}

struct ToolRun {
    bool ok = false;
    double seconds = 0;     // wall clock
    double cpuSeconds = 0;  // user + system time of the child
    uint64_t outputBytes = 0;
    uint64_t peakKiB = 0;
};

// Runs `argv` with stdin from `inputPath`. Its stdout goes to `outputPath`,
// or, when that is empty, through a pipe that is counted and dropped.
inline ToolRun runTool(const std::vector<std::string>& argv, const std::string& inputPath,
                       const std::string& outputPath = {}) {
    ToolRun run;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inputPath.c_str(), O_RDONLY, 0);
    if (outputPath.empty()) {
        if (pipe(pipeFds) != 0) return run;
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }

    const double start = nowSeconds();
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (pipeFds[1] >= 0) close(pipeFds[1]);
    if (spawned != 0) {
        if (pipeFds[0] >= 0) close(pipeFds[0]);
        return run;
    }
    if (pipeFds[0] >= 0) {
        std::vector<char> buf(1 << 16);
        ssize_t n;
        while ((n = read(pipeFds[0], buf.data(), buf.size())) != 0) {
            if (n > 0) run.outputBytes += static_cast<uint64_t>(n);
            else if (errno != EINTR) break;
        }
        close(pipeFds[0]);
    }
    int status = 0;
    rusage ru{};
    while (wait4(pid, &status, 0, &ru) < 0 && errno == EINTR) {
    }
    run.seconds = nowSeconds() - start;
    run.cpuSeconds = toSeconds(ru.ru_utime) + toSeconds(ru.ru_stime);
    run.peakKiB = static_cast<uint64_t>(ru.ru_maxrss);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!outputPath.empty()) {
        std::ifstream out(outputPath, std::ios::binary | std::ios::ate);
        run.outputBytes = out ? static_cast<uint64_t>(out.tellg()) : 0;
    }
    return run;
}

inline bool toolExists(const std::string& name) {
    ToolRun probe = runTool({name, "--version"}, "/dev/null");
    return probe.ok;
}

inline bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// A private temporary folder, removed by the destructor.
struct TempDir {
    std::string path;
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/qex-bench-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) path = buf.data();
    }
    ~TempDir() {
        if (path.empty()) return;
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

}  // namespace qexbench
