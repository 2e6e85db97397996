// Shared pieces of the pipeline tests: a scratch folder, file helpers, test
// coder bodies (a copy coder and a generator) and a whole add or extract
// run with the real threads.
#pragma once

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "coder/coder_io.h"
#include "pipeline/check_values.h"
#include "pipeline/pipeline_run.h"
#include "platform/file_times.h"
#include "platform/text_conversion.h"
#include "support/file_bytes.h"
#include "support/pattern_bytes.h"
#include "support/scratch_folder.h"

namespace qex::testing {

using test::patternBytes;
using test::readWholeFile;
using test::writeWholeFile;


// A path as the platform layer takes it.
inline std::string nativeOf(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::wstring& units = path.native();
    return utf16ToNative(std::u16string(units.begin(), units.end()));
#else
    return path.native();
#endif
}

inline std::u16string u16(const std::filesystem::path& path) { return nativeToUtf16(nativeOf(path)); }

struct StoredTimes {
    uint64_t lastWrite = 0;
    uint64_t lastAccess = 0;
};

// A file's write and access times as FILETIME, from the system itself.
inline StoredTimes storedTimesOf(const std::filesystem::path& path) {
    StoredTimes times;
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return times;
    times.lastWrite = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    times.lastAccess = (uint64_t{data.ftLastAccessTime.dwHighDateTime} << 32) | data.ftLastAccessTime.dwLowDateTime;
#else
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return times;
    times.lastWrite = timespecToFileTime(info.st_mtim);
    times.lastAccess = timespecToFileTime(info.st_atim);
#endif
    return times;
}

struct CheckPair {
    uint32_t crc = 0;
    uint32_t crcPlusOne = 0;
};

inline CheckPair checkValuesOf(const std::vector<uint8_t>& bytes) {
    CheckPair pair;
    updateCheckValues(pair.crc, pair.crcPlusOne, bytes.data(), bytes.size());
    return pair;
}

using test::ScratchFolder;

// Copy coder: its output is its input, the way a codec's stream would be;
// it ends when the input ends.
inline void* createCopyCoder(size_t) { return new CoderIo; }
inline CoderIo& copyCoderIo(void* coder) { return *static_cast<CoderIo*>(coder); }
inline void runCopyCoder(void* coder) {
    CoderIo& io = *static_cast<CoderIo*>(coder);
    for (;;) {
        const uint8_t b = getByte(io);
        if (io.endOfInput != 0) break;
        putByte(io, b);
    }
}
inline void destroyCopyCoder(void* coder) { delete static_cast<CoderIo*>(coder); }
inline CoderBody copyBody() { return CoderBody{&createCopyCoder, &copyCoderIo, &runCopyCoder, &destroyCopyCoder}; }

// Generator coder: ignores its input and writes patternBytes(kGeneratedBytes,
// 7): more chunks than the output ring has slots, and a short last one.
inline constexpr size_t kGeneratedBytes = 300 * size_t{kChunkBytes} + 123;
// The bytes are made with the coder, not on the coroutine's stack: a run
// that ends early releases that stack without unwinding it
// (coder_coroutine.h).
struct GeneratorCoder {
    CoderIo io;
    std::vector<uint8_t> bytes = patternBytes(kGeneratedBytes, 7);
};
inline void* createGenerator(size_t) { return new GeneratorCoder; }
inline CoderIo& generatorIo(void* coder) { return static_cast<GeneratorCoder*>(coder)->io; }
inline void runGenerator(void* coder) {
    GeneratorCoder& generator = *static_cast<GeneratorCoder*>(coder);
    for (const uint8_t b : generator.bytes) putByte(generator.io, b);
}
inline void destroyGenerator(void* coder) { delete static_cast<GeneratorCoder*>(coder); }
inline CoderBody generatorBody() {
    return CoderBody{&createGenerator, &generatorIo, &runGenerator, &destroyGenerator};
}

// Polls `condition` for up to a minute; false if it never held. Only a
// guard against hanging forever, never a speed check.
template <typename Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Waits until the thread that sleeps on `signal` has looked at everything
// signalled so far and gone to sleep: what it has not done by then, it will
// not do until something else is signalled.
inline bool settlesAsleep(const WakeSignal& signal) {
    return eventually([&] { return sleepsAtCurrentCount(signal); });
}

// A file a run reads (add) or makes (extract), with its entry.
struct QueuedFile {
    std::filesystem::path path;
    FileEntry entry;
};
using SourceFile = QueuedFile;
using TargetFile = QueuedFile;

// Queues the files as main does, until the run stops taking them.
inline void queueAll(PipelineRun& run, std::deque<QueuedFile>& files) {
    for (QueuedFile& file : files) {
        if (queueFile(run, u16(file.path), file.entry.size, &file.entry) == QueueResult::runStopped) break;
    }
}

// Add: the given paths through reader -> coder -> writer into `archive`.
// Entries get what the reader streamed; returns the failures.
inline std::vector<PipelineFailure> runAdd(Pipeline& pipeline, std::deque<SourceFile>& files,
                                           const std::filesystem::path& archive, const CoderBody& body,
                                           size_t arenaBytes = kArenaBytes) {
    const SystemResult<FileHandle> created = createForWrite(nativeOf(archive).c_str());
    EXPECT_TRUE(created.ok()) << systemReason(created.error);
    const FileHandle out = created.value;
    PipelineRun run;
    EXPECT_TRUE(startAddRun(run, pipeline, out, nativeOf(archive), body, arenaBytes));
    queueAll(run, files);
    std::vector<PipelineFailure> failures = finishRun(run);
    EXPECT_TRUE(closeFile(out).ok());
    return failures;
}

// Extract: `archive` through reader -> coder -> writer into the given files,
// whose entries hold their sizes, times and attributes.
inline std::vector<PipelineFailure> runExtract(Pipeline& pipeline, std::deque<TargetFile>& files,
                                               const std::filesystem::path& archive, const CoderBody& body,
                                               size_t arenaBytes = kArenaBytes) {
    const SystemResult<FileHandle> opened = openForRead(nativeOf(archive).c_str());
    EXPECT_TRUE(opened.ok()) << systemReason(opened.error);
    const FileHandle in = opened.value;
    PipelineRun run;
    EXPECT_TRUE(startExtractRun(run, pipeline, in, nativeOf(archive), kNoFile, body, arenaBytes));
    queueAll(run, files);
    return finishRun(run);
}

// A scratch folder in which a test makes the source files of an add run
// and names the target files of an extract run.
class PipelineFilesTest : public ::testing::Test {
protected:
    SourceFile& source(const std::string& name, const std::vector<uint8_t>& bytes) {
        writeWholeFile(scratch_ / name, bytes);
        sources_.push_back(SourceFile{scratch_ / name, FileEntry{}});
        sources_.back().entry.size = bytes.size();
        return sources_.back();
    }
    TargetFile& target(const std::string& name, uint64_t size) {
        targets_.push_back(TargetFile{scratch_ / name, FileEntry{}});
        targets_.back().entry.size = size;
        return targets_.back();
    }

    ScratchFolder scratch_;
    std::deque<SourceFile> sources_;
    std::deque<TargetFile> targets_;
};

}  // namespace qex::testing
