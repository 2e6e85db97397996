// Pipeline benchmark: what the threads, rings and coroutine cost around the
// coder. Not run by CI.
//
//   pipeline_bench [MEGABYTES] [FILE]
//
// 1. A copy coder (output = input) through reader -> worker -> writer over
//    MEGABYTES (default 256) of generated data in 1 MiB files, into
//    /dev/null: the pipeline's own throughput.
// 2. The stream encoder through the pipeline and in memory (compressBuffer)
//    on FILE (default: the golden prose input): the pipeline's overhead on
//    a real run, and a check that both give the same stream.
// Prints MB/s of wall and processor time and the peak resident memory.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "coder/memory_codec.h"
#include "pipeline/pipeline_run.h"
#include "platform/arena_memory.h"
#include "platform/text_conversion.h"

namespace {

using namespace qex;

constexpr size_t kFileBytes = size_t{1} << 20;

struct Timer {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock();
    double wallSeconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    }
    double cpuSeconds() const { return double(std::clock() - cpu) / CLOCKS_PER_SEC; }
};

void* createCopy(size_t) { return new CoderIo; }
CoderIo& copyIo(void* coder) { return *static_cast<CoderIo*>(coder); }
void runCopy(void* coder) {
    CoderIo& io = *static_cast<CoderIo*>(coder);
    for (;;) {
        const uint8_t b = getByte(io);
        if (io.endOfInput != 0) break;
        putByte(io, b);
    }
}
void destroyCopy(void* coder) { delete static_cast<CoderIo*>(coder); }

std::vector<uint8_t> readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One add run of `files` into `archive`; false on any failure.
bool addRun(const std::vector<std::filesystem::path>& files, const char* archive, const CoderBody& body) {
    auto pipeline = createPipeline();
    const SystemResult<FileHandle> created = createForWrite(archive);
    if (!created.ok()) return false;
    const FileHandle out = created.value;
    std::deque<FileEntry> entries(files.size());
    PipelineRun run;
    bool ok = startAddRun(run, *pipeline, out, archive, body);
    for (size_t i = 0; ok && i < files.size(); ++i) {
        const auto size = static_cast<uint64_t>(std::filesystem::file_size(files[i]));
        ok = queueFile(run, nativeToUtf16(files[i].native()), size, &entries[i]) == QueueResult::queued;
    }
    const std::vector<PipelineFailure> failures = finishRun(run);
    ignoreFailure(closeFile(out));
    for (const auto& failure : failures) {
        std::fprintf(stderr, "pipeline_bench: %s: %s\n", failure.path.c_str(), failure.reason.c_str());
        ok = false;
    }
    return ok;
}

void printRate(const char* what, double bytes, const Timer& timer) {
    std::printf("%-34s %8.1f MB  %7.2f s wall %8.2f MB/s  %7.2f s cpu\n", what, bytes / 1e6, timer.wallSeconds(),
                bytes / 1e6 / timer.wallSeconds(), timer.cpuSeconds());
}

}  // namespace

int main(int argc, char** argv) {
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const std::filesystem::path realInput =
        argc > 2 ? std::filesystem::path(argv[2])
                 : std::filesystem::path(QEX_SOURCE_DIR) / "build/tests/golden-inputs/prose.txt";

    std::string pattern = (std::filesystem::temp_directory_path() / "qex-pipeline-bench-XXXXXX").native();
    const std::filesystem::path folder = ::mkdtemp(pattern.data());
    std::vector<std::filesystem::path> files;
    std::vector<uint8_t> block(kFileBytes);
    uint32_t x = 12345;
    for (size_t i = 0; i < megabytes; ++i) {
        for (auto& b : block) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
        files.push_back(folder / std::string("f").append(std::to_string(i)));
        std::ofstream(files.back(), std::ios::binary).write(reinterpret_cast<const char*>(block.data()), block.size());
    }
    int status = 0;
    Timer copyTimer;
    if (!addRun(files, "/dev/null", CoderBody{&createCopy, &copyIo, &runCopy, &destroyCopy})) status = 1;
    printRate("copy coder through the pipeline", double(megabytes * kFileBytes), copyTimer);

    const std::vector<uint8_t> input = readAll(realInput);
    if (input.empty()) {
        std::fprintf(stderr, "pipeline_bench: cannot read %s\n", realInput.c_str());
        status = 1;
    } else {
        const std::string streamPath = (folder / "stream").native();
        Timer pipelineTimer;
        if (!addRun({realInput}, streamPath.c_str(), encoderBody())) status = 1;
        printRate("encoder through the pipeline", double(input.size()), pipelineTimer);
        std::vector<uint8_t> stream;
        Timer memoryTimer;
        const ArenaSource systemArena{reserveArena, releaseArena};  // as the pipeline's
        if (!compressBuffer(input.data(), input.size(), stream, nullptr, kArenaBytes, systemArena)) status = 1;
        printRate("encoder in memory", double(input.size()), memoryTimer);
        const bool same = stream == readAll(streamPath);
        std::printf("same stream both ways: %s (%zu bytes)\n", same ? "yes" : "NO", stream.size());
        if (!same) status = 1;
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory: %ld MiB\n", usage.ru_maxrss / 1024);
    std::filesystem::remove_all(folder);
    return status;
}
