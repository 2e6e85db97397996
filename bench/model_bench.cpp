// model_bench: speed, size and memory of the context model and range coder in
// memory, side by side with `xz -9 -T1` on the same bytes in the same run.
//
// Inputs: "text" (English documentation from /usr/share), "code" (programs
// and shared libraries), "big" (the 40 MB golden input, which makes the model
// restart twice), or any folder (--dir). Each input is compressed and
// decompressed with the in-memory codec; the round trip must be exact, the
// decoder must read exactly the bytes the encoder wrote and restart as often.
// Times are the best of --reps repetitions, wall clock and processor time
// (the machines are shared, so the figures that matter are the ratios
// measured in one run, judged on processor time). MB means 10^6
// bytes. The exit code is 1 when a round trip or a golden stream check fails.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_checks.h"
#include "bench_inputs.h"
#include "bench_process.h"
#include "coder/memory_codec.h"
#include "platform/arena_memory.h"

namespace {

using namespace qexbench;

constexpr double kMB = 1e6;
constexpr double kMiB = 1024.0 * 1024.0;
// What the model must reach, as ratios measured in one run.
constexpr double kMinSpeedOverXz = 3.0;
constexpr double kMinDecompressShare = 0.8;

struct Options {
    std::vector<std::string> inputs;  // "text", "code", "big"
    std::vector<std::string> dirs;    // --dir folders
    int reps = 1;
    bool xz = true;
    bool list = false;
    std::string bigFile;
    std::string goldenDir = QEX_SOURCE_DIR "/tests/data/golden";
};

void usage() {
    std::fprintf(stderr,
                 "usage: model_bench [--input text|code|big|all]... [--dir FOLDER]... [--reps N]\n"
                 "                   [--no-xz] [--big-file PATH] [--golden DIR] [--list]\n"
                 "  --input    which built-in input to run (repeatable; default all)\n"
                 "  --dir      also run the concatenation of every file under FOLDER, sorted\n"
                 "  --reps     repetitions of every timing; the best is reported (default 1)\n"
                 "  --no-xz    do not time xz -9 -T1 on the same bytes\n"
                 "  --big-file the golden big input (default: generated into the build folder)\n"
                 "  --golden   folder of expected.tsv and big.checkpoints.tsv\n"
                 "  --list     print the files each input is made of\n");
}

bool parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--input") {
            const char* v = value();
            if (!v) return false;
            const std::string s = v;
            if (s == "all") o.inputs.insert(o.inputs.end(), {"text", "code", "big"});
            else if (s == "text" || s == "code" || s == "big") o.inputs.push_back(s);
            else return false;
        } else if (a == "--dir") {
            const char* v = value();
            if (!v) return false;
            o.dirs.push_back(v);
        } else if (a == "--reps") {
            const char* v = value();
            o.reps = v ? std::atoi(v) : 0;
            if (o.reps < 1) return false;
        } else if (a == "--big-file") {
            const char* v = value();
            if (!v) return false;
            o.bigFile = v;
        } else if (a == "--golden") {
            const char* v = value();
            if (!v) return false;
            o.goldenDir = v;
        } else if (a == "--no-xz") {
            o.xz = false;
        } else if (a == "--list") {
            o.list = true;
        } else {
            return false;
        }
    }
    if (o.inputs.empty() && o.dirs.empty()) o.inputs = {"text", "code", "big"};
    return true;
}

// The golden big input is a pure function of the generator script; it is
// made once into the build folder and reused.
std::string bigInputPath(const Options& o) {
    if (!o.bigFile.empty()) return o.bigFile;
    const std::string dir = QEX_BENCH_DATA;
    const std::string path = dir + "/big.bin";
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) == 40'000'000 && !ec) return path;
    std::printf("generating the golden big input into %s ...\n", dir.c_str());
    std::fflush(stdout);
    const ToolRun gen = runTool({"python3", o.goldenDir + "/make-inputs.py", dir, "--big"}, "/dev/null");
    if (!gen.ok) std::fprintf(stderr, "model_bench: cannot generate \"%s\" with python3\n", path.c_str());
    return path;
}

// Best wall-clock and best processor time over the repetitions. Verdicts use
// processor time, which other people's load on a shared machine disturbs far
// less; both are printed.
struct Timing {
    double wall = 0;
    double cpu = 0;
    void add(double w, double c) {
        wall = wall == 0 ? w : std::min(wall, w);
        cpu = cpu == 0 ? c : std::min(cpu, c);
    }
    double wallMBps(uint64_t bytes) const { return wall > 0 ? bytes / kMB / wall : 0; }
    double cpuMBps(uint64_t bytes) const { return cpu > 0 ? bytes / kMB / cpu : 0; }
};

struct QexResult {
    bool ok = true;
    Timing compress, decompress;
    std::vector<uint8_t> stream;
    uint32_t restarts = 0;
    std::vector<uint64_t> restartAfter;  // input bytes after which the model restarted
    uint64_t peakKiB = 0;
    uint64_t baseKiB = 0;
};

struct XzResult {
    bool ok = false;
    Timing compress, decompress;
    uint64_t bytes = 0;
    uint64_t peakKiB = 0;
};

size_t firstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return i;
    return n;
}

std::string positions(const std::vector<uint64_t>& list) {
    if (list.empty()) return " none";
    std::string s;
    for (uint64_t p : list) {
        s += ' ';
        s += std::to_string(p);
    }
    return s;
}

std::string restartNote(const QexResult& q) {
    std::string s = ", restarts ";
    s += std::to_string(q.restarts);
    if (q.restarts) {
        s += " after input bytes";
        s += positions(q.restartAfter);
    }
    return s;
}

// The model's arena as the program reserves it (large pages where the system
// gives them), so the timings are the program's.
const qex::ArenaSource kSystemArena{qex::reserveArena, qex::releaseArena};

// One compress and decompress; checks everything a round trip must keep.
bool qexRoundTrip(const BenchInput& in, QexResult& r, std::vector<uint8_t>& out) {
    qex::CodecStats cs, ds;
    r.stream.clear();
    r.stream.reserve(in.bytes.size() + in.bytes.size() / 8 + 4096);
    double t0 = nowSeconds(), c0 = cpuSeconds();
    if (!qex::compressBuffer(in.bytes.data(), in.bytes.size(), r.stream, &cs, qex::kArenaBytes, kSystemArena)) {
        std::fprintf(stderr, "model_bench: %s: the model's arena cannot be obtained\n", in.name.c_str());
        return false;
    }
    r.compress.add(nowSeconds() - t0, cpuSeconds() - c0);
    out.clear();
    out.reserve(in.bytes.size() + 1);  // the output cap below, so the buffer never moves
    t0 = nowSeconds();
    c0 = cpuSeconds();
    const bool decoded = qex::decompressBuffer(r.stream.data(), r.stream.size(), out, &ds, qex::kArenaBytes,
                                               in.bytes.size() + 1, kSystemArena);
    r.decompress.add(nowSeconds() - t0, cpuSeconds() - c0);
    r.restarts = cs.restarts;
    r.restartAfter = cs.restartAfter;
    bool ok = decoded;
    if (!decoded) std::fprintf(stderr, "model_bench: %s: decompression failed\n", in.name.c_str());
    if (out != in.bytes) {
        std::fprintf(stderr, "model_bench: %s: round trip differs: %zu bytes back of %zu, first difference at %zu\n",
                     in.name.c_str(), out.size(), in.bytes.size(), firstDifference(out, in.bytes));
        ok = false;
    }
    if (!ds.sawEndSymbol || ds.streamBytes != r.stream.size() || cs.streamBytes != r.stream.size()) {
        std::fprintf(stderr, "model_bench: %s: decoder read %llu of %zu stream bytes (end symbol %s)\n",
                     in.name.c_str(), static_cast<unsigned long long>(ds.streamBytes), r.stream.size(),
                     ds.sawEndSymbol ? "seen" : "not seen");
        ok = false;
    }
    if (ds.restarts != cs.restarts || ds.restartAfter != cs.restartAfter) {
        std::fprintf(stderr, "model_bench: %s: encoder restarted after%s, decoder after%s\n", in.name.c_str(),
                     positions(cs.restartAfter).c_str(), positions(ds.restartAfter).c_str());
        ok = false;
    }
    return ok;
}

bool xzRound(const std::string& inputPath, const std::string& packedPath, XzResult& r) {
    const ToolRun c = runTool({"xz", "-9", "-T1", "-c"}, inputPath, packedPath);
    if (!c.ok) return false;
    const ToolRun d = runTool({"xz", "-d", "-c"}, packedPath);
    if (!d.ok) return false;
    r.compress.add(c.seconds, c.cpuSeconds);
    r.decompress.add(d.seconds, d.cpuSeconds);
    r.bytes = c.outputBytes;
    r.peakKiB = std::max({r.peakKiB, c.peakKiB, d.peakKiB});
    return true;
}

void printLine(const char* tool, const Timing& c, const Timing& d, uint64_t inBytes, uint64_t outBytes,
               const std::string& extra) {
    std::printf("  %-4s compress %7.2f MB/s (%.2f s), cpu %7.2f MB/s | decompress %7.2f MB/s (%.2f s), cpu %7.2f MB/s\n"
                "       %llu bytes, %.3f bits/byte%s\n",
                tool, c.wallMBps(inBytes), c.wall, c.cpuMBps(inBytes), d.wallMBps(inBytes), d.wall,
                d.cpuMBps(inBytes), static_cast<unsigned long long>(outBytes),
                inBytes ? 8.0 * static_cast<double>(outBytes) / static_cast<double>(inBytes) : 0.0, extra.c_str());
}

const char* verdict(bool met) { return met ? "met" : "NOT met"; }

void printTargets(const BenchInput& in, const QexResult& q, const XzResult& x, bool withXz) {
    const uint64_t n = in.bytes.size();
    if (withXz && x.ok) {
        const double ratio = q.compress.cpuMBps(n) / x.compress.cpuMBps(n);
        std::printf("  compression speed qex/xz: cpu %.2fx, wall %.2fx (target >= %.0fx: %s)\n", ratio,
                    q.compress.wallMBps(n) / x.compress.wallMBps(n), kMinSpeedOverXz,
                    verdict(ratio >= kMinSpeedOverXz));
    }
    const double share = q.decompress.cpuMBps(n) / q.compress.cpuMBps(n);
    std::printf("  decompression/compression speed: cpu %.2f, wall %.2f (target >= %.2f: %s)\n", share,
                q.decompress.wallMBps(n) / q.compress.wallMBps(n), kMinDecompressShare,
                verdict(share >= kMinDecompressShare));
    // Budget: the arena plus the input, stream and output buffers, on top of
    // what the program itself held before the round trip (code, libraries).
    const double program = std::max(0.0, q.baseKiB / 1024.0 - n / kMiB);
    const double budget = program + (static_cast<double>(qex::kArenaBytes) + 2.0 * n + q.stream.size()) / kMiB;
    const double peak = q.peakKiB / 1024.0;
    std::printf("  peak RSS %.1f MiB; budget program %.1f + arena %.0f + input %.1f + stream %.1f + output %.1f"
                " = %.1f MiB: %s\n",
                peak, program, qex::kArenaBytes / kMiB, n / kMiB, q.stream.size() / kMiB, n / kMiB, budget,
                verdict(peak <= budget));
}

bool runInput(const BenchInput& in, const Options& o) {
    const uint64_t n = in.bytes.size();
    std::printf("%s: %llu bytes from %zu files, crc32 %08x\n", in.name.c_str(), static_cast<unsigned long long>(n),
                in.files.size(), crc32(in.bytes.data(), n));
    if (o.list)
        for (const std::string& f : in.files) std::printf("    %s\n", f.c_str());
    std::fflush(stdout);

    TempDir tmp;
    const bool withXz = o.xz && !tmp.path.empty() && writeFile(tmp.path + "/input", in.bytes);
    QexResult q;
    XzResult x;
    x.ok = withXz;
    std::vector<uint8_t> out;
    resetPeakRss();
    q.baseKiB = currentRssKiB();
    for (int rep = 0; rep < o.reps; ++rep) {
        if (!qexRoundTrip(in, q, out)) return false;
        q.peakKiB = std::max(q.peakKiB, peakRssKiB());
        if (x.ok && !xzRound(tmp.path + "/input", tmp.path + "/input.xz", x)) {
            std::fprintf(stderr, "model_bench: xz -9 -T1 failed or is not installed; timing qex alone\n");
            x.ok = false;
        }
    }
    printLine("qex", q.compress, q.decompress, n, q.stream.size(), restartNote(q));
    if (x.ok)
        printLine("xz", x.compress, x.decompress, n, x.bytes,
                  ", peak RSS " + std::to_string(x.peakKiB / 1024) + " MiB");
    printTargets(in, q, x, x.ok);
    const bool golden = checkAgainstGolden(o.goldenDir, n, crc32(in.bytes.data(), n), q.stream, q.restartAfter);
    std::fflush(stdout);
    return golden;
}

BenchInput makeInput(const std::string& which, const Options& o) {
    if (which == "text") return textInput();
    if (which == "code") return codeInput();
    BenchInput big = singleFileInput("big", bigInputPath(o));
    if (big.files.empty()) std::fprintf(stderr, "model_bench: cannot read the big input\n");
    return big;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parseOptions(argc, argv, o)) {
        usage();
        return 2;
    }
    bool ok = true;
    auto run = [&](const BenchInput& in) {
        if (in.bytes.empty()) {
            std::fprintf(stderr, "model_bench: input %s is empty on this machine; skipped\n", in.name.c_str());
            ok = false;
            return;
        }
        ok = runInput(in, o) && ok;
    };
    for (const std::string& which : o.inputs) run(makeInput(which, o));
    for (const std::string& dir : o.dirs) run(folderInput(dir));
    return ok ? 0 : 1;
}
