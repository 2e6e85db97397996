// Whole runs: reader -> coder worker -> writer on real threads, with test
// coders (a copy coder, a generator) so that every stream length and every
// failure can be provoked exactly.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <atomic>

#include "pipeline_fixture.h"
#include "support/system_errors.h"

namespace qex::testing {
namespace {

class CoderWorkerTest : public PipelineFilesTest {
protected:
    void SetUp() override { pipeline_ = createPipeline(); }

    std::unique_ptr<Pipeline> pipeline_;
};

TEST_F(CoderWorkerTest, MoreJobsThanTheRingsHoldWaitForRoomAndNoneIsLost) {
    // 2,000 records of about 450 bytes are seven times what a job ring
    // holds: main waits for room, the end markers included.
    const std::string longPart(200, 'n');
    std::vector<uint8_t> all;
    for (int i = 0; i < 2000; ++i) {
        const auto bytes = patternBytes(1 + i % 7, static_cast<uint32_t>(i));
        source(longPart + std::to_string(i), bytes);
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    EXPECT_TRUE(runAdd(*pipeline_, sources_, scratch_ / "archive", copyBody()).empty());
    EXPECT_EQ(readWholeFile(scratch_ / "archive"), all);

    auto fresh = createPipeline();
    for (int i = 0; i < 2000; ++i) target("out" + longPart + std::to_string(i), 1 + i % 7);
    EXPECT_TRUE(runExtract(*fresh, targets_, scratch_ / "archive", copyBody()).empty());
    for (int i = 0; i < 2000; i += 97) {
        EXPECT_EQ(readWholeFile(targets_[i].path), patternBytes(1 + i % 7, static_cast<uint32_t>(i))) << i;
    }
    for (const TargetFile& file : targets_) ASSERT_TRUE(file.entry.written) << file.path;
}

TEST_F(CoderWorkerTest, StreamOfWholeChunksEndsWithAnEmptyChunk) {
    // The coder suspends with a full chunk right after its last byte, the
    // worker publishes it and resumes, the coder ends at once: the final
    // chunk published holds 0 bytes. With no input at all it is the only one.
    for (const uint32_t chunks : {0u, 1u}) {
        SCOPED_TRACE(chunks);
        const auto bytes = patternBytes(chunks * size_t{kChunkBytes}, 5);
        sources_.clear();
        targets_.clear();
        source("in", bytes);
        auto adding = createPipeline();
        EXPECT_TRUE(runAdd(*adding, sources_, scratch_ / "archive", copyBody()).empty());
        EXPECT_EQ(adding->inputRing.produced.load(), chunks);
        EXPECT_EQ(adding->outputRing.produced.load(), chunks + 1);
        EXPECT_EQ(adding->outputRing.sizes[chunks], 0);
        EXPECT_EQ(readWholeFile(scratch_ / "archive"), bytes);

        auto extracting = createPipeline();
        target("out", bytes.size());
        EXPECT_TRUE(runExtract(*extracting, targets_, scratch_ / "archive", copyBody()).empty());
        EXPECT_EQ(readWholeFile(targets_[0].path), bytes);
    }
}

// A pipe as the archive: Linux only.
#ifndef _WIN32
TEST_F(CoderWorkerTest, SlowWriterHoldsTheCoderAt255OutstandingChunks) {
    // The archive is a pipe nobody reads yet: the writer blocks on its first
    // chunk and the worker must stop publishing at 255 outstanding chunks.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    prepareForAdd(*pipeline_, ends[1], "pipe");
    CoderWorker worker;
    ASSERT_TRUE(startCoderWorker(worker, pipeline_->control, generatorBody()));
    queueEndOfJobs(pipeline_->control, pipeline_->rings.readerJobs);
    ChunkRing& ring = pipeline_->outputRing;
    ASSERT_TRUE(eventually([&] { return ring.produced.load() - ring.consumed.load() == 255; }));
    ASSERT_TRUE(settlesAsleep(pipeline_->control.coderWake));
    EXPECT_EQ(ring.produced.load() - ring.consumed.load(), 255u);

    // Every byte arrives in order: no slot was refilled while still unwritten.
    std::vector<uint8_t> received;
    std::thread drain([&] {
        unsigned char buffer[65536];
        ssize_t got;
        while ((got = ::read(ends[0], buffer, sizeof buffer)) > 0) received.insert(received.end(), buffer, buffer + got);
    });
    waitForCoderWorker(worker);
    ::close(ends[1]);
    drain.join();
    ::close(ends[0]);
    EXPECT_EQ(received, patternBytes(kGeneratedBytes, 7));
    EXPECT_TRUE(failuresOf(pipeline_->control.report).empty());
}
#endif

TEST_F(CoderWorkerTest, CoderWhoseMemoryCannotBeObtainedStopsTheRun) {
    const FileHandle archive = createForWrite(nativeOf(scratch_ / "archive").c_str()).value;
    prepareForAdd(*pipeline_, archive, "archive");
    CoderWorker worker;
    CoderBody unobtainable = copyBody();
    unobtainable.create = [](size_t) -> void* { return nullptr; };
    ASSERT_TRUE(startCoderWorker(worker, pipeline_->control, unobtainable));
    // Main keeps queueing as the walk would: it must not wait forever on a
    // ring that nobody empties.
    source("file", patternBytes(10, 8));
    const std::u16string longName(30000, u'x');
    QueueResult result = QueueResult::queued;
    for (int i = 0; i < 100 && result == QueueResult::queued; ++i) {
        result = queueJob(pipeline_->control, pipeline_->rings.readerJobs, longName, 10, nullptr);
    }
    EXPECT_EQ(result, QueueResult::runStopped);
    waitForCoderWorker(worker);
    const auto failures = failuresOf(pipeline_->control.report);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].kind, FailureKind::workerStartFailed);
    EXPECT_TRUE(pipelineStopped(pipeline_->control));
    EXPECT_EQ(pipeline_->outputRing.produced.load(), 0u);
    EXPECT_TRUE(closeFile(archive).ok());
}

TEST_F(CoderWorkerTest, FullDiskStopsTheAddWithoutHanging) {
    source("big", patternBytes(3 * 65536, 9));
    const auto failures = runAdd(*pipeline_, sources_, "/dev/full", copyBody());
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].kind, FailureKind::streamWriteFailed);
    EXPECT_EQ(failures[0].path, "/dev/full");
    EXPECT_EQ(failures[0].reason, systemReason(test::kErrorDeviceFull));
    EXPECT_TRUE(pipelineStopped(pipeline_->control));
}

TEST_F(CoderWorkerTest, ExtractEndingAfterTheFilesAskedForIsASuccessNotAnAbort) {
    // The generator's stream outlasts the output ring: once the one file
    // has its bytes the writer stops releasing chunks, and the coder, held
    // with a full ring, must be let go as the run succeeds.
    writeWholeFile(scratch_ / "archive", patternBytes(10, 12));
    PipelineRun run;
    ASSERT_TRUE(startExtractRun(run, *pipeline_, openForRead(nativeOf(scratch_ / "archive").c_str()).value,
                                "archive", kNoFile, generatorBody()));
    TargetFile& first = target("first", 70000);
    ASSERT_EQ(queueFile(run, u16(first.path), 70000, &first.entry), QueueResult::queued);
    EXPECT_TRUE(finishRun(run, RunEnd::afterQueuedFiles).empty());
    std::vector<uint8_t> generated = patternBytes(kGeneratedBytes, 7);
    generated.resize(70000);
    EXPECT_EQ(readWholeFile(first.path), generated);
    EXPECT_EQ(pipeline_->control.abortRun.load(), 0u);
    EXPECT_EQ(pipeline_->control.doneEarly.load(), 1u);
    EXPECT_EQ(streamBytesDecoded(run), kUnknownBytes);
}

TEST_F(CoderWorkerTest, MainGivingUpStopsAnExtractThatWaitsForJobs) {
    writeWholeFile(scratch_ / "archive", patternBytes(1000, 11));
    prepareForExtract(*pipeline_, openForRead(nativeOf(scratch_ / "archive").c_str()).value, "archive");
    queueEndOfJobs(pipeline_->control, pipeline_->rings.readerJobs);
    CoderWorker worker;
    ASSERT_TRUE(startCoderWorker(worker, pipeline_->control, copyBody()));
    ASSERT_TRUE(eventually([&] { return pipeline_->control.outputEnded.load() != 0; }));
    abortPipeline(pipeline_->control);  // no job, no end marker: main failed
    waitForCoderWorker(worker);
    EXPECT_EQ(pipeline_->control.readerFile, kNoFile);  // the worker closed the archive
}

// Which threads are bound is read from /proc: Linux only.
#ifndef _WIN32

// How many of this process's threads may run on exactly one processor.
int threadsBoundToOneProcessor() {
    int bound = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("Cpus_allowed_list:", 0) != 0) continue;
            const std::string list = line.substr(line.find(':') + 1);
            if (list.find_first_of(",-") == std::string::npos) ++bound;
        }
    }
    return bound;
}

// The copy coder, counting bound threads once the run is under way (the
// reader and writer exist by then).
std::atomic<int> boundDuringRun{-1};
void runCountingCopyCoder(void* coder) {
    boundDuringRun = threadsBoundToOneProcessor();
    runCopyCoder(coder);
}

// A thread bound to one processor cannot move away from another program busy
// there; the coder used to be, and ran at half speed beside one busy process.
TEST(CoderWorkerBinding, NoPipelineThreadIsBoundToOneProcessor) {
    if (threadsBoundToOneProcessor() != 0) GTEST_SKIP() << "this process may only run on one processor";
    ScratchFolder scratch;
    writeWholeFile(scratch / "in", patternBytes(1000, 3));
    std::deque<SourceFile> sources{SourceFile{scratch / "in", FileEntry{}}};
    sources.back().entry.size = 1000;
    CoderBody body = copyBody();
    body.run = &runCountingCopyCoder;
    auto pipeline = createPipeline();
    EXPECT_TRUE(runAdd(*pipeline, sources, scratch / "archive", body).empty());
    EXPECT_EQ(boundDuringRun.load(), 0);  // neither the coder nor the reader or the writer
}
#endif

}  // namespace
}  // namespace qex::testing
