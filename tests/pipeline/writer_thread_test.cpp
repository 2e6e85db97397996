// WriterThread alone: the test plays the coder and publishes the chunks.
#include <gtest/gtest.h>

#include <cstring>

#include "pipeline/writer_thread.h"
#include "pipeline_fixture.h"
#include "support/system_errors.h"
#include "platform/file_attributes.h"
#include "platform/file_times.h"
#include "platform/unix_mode.h"
#include "platform/within_folder.h"

namespace qex::testing {
namespace {

// 2021-03-04 05:06:07.1234567 UTC and a day later, as FILETIME.
constexpr uint64_t kWriteTime = (uint64_t{1614834367} + kFileTimeEpochSeconds) * 10000000 + 1234567;
constexpr uint64_t kAccessTime = kWriteTime + uint64_t{86400} * 10000000;

class WriterThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        pipeline_ = createPipeline();
        prepareForExtract(*pipeline_, kNoFile, "archive");
    }
    void TearDown() override { stopWriter(); }

    PipelineControl& control() { return pipeline_->control; }
    ChunkRing& ring() { return pipeline_->outputRing; }

    void startWriter() { writer_ = std::thread(runWriterThread, std::ref(control())); }
    void stopWriter() {
        raiseFlag(control(), control().writerStop);
        if (writer_.joinable()) writer_.join();
    }

    TargetFile& queueFile(const std::string& name, uint64_t size, uint16_t attributes = 0) {
        files_.push_back(TargetFile{scratch_ / name, FileEntry{}});
        FileEntry& entry = files_.back().entry;
        entry.size = size;
        entry.attributes = attributes;
        entry.lastWriteTime = kWriteTime;
        entry.lastAccessTime = kAccessTime;
        EXPECT_EQ(queueJob(control(), pipeline_->rings.writerJobs, u16(files_.back().path), size, &entry),
                  QueueResult::queued);
        return files_.back();
    }
    void endJobs() { queueEndOfJobs(control(), pipeline_->rings.writerJobs); }

    // Publishes `bytes` as one chunk, as the coder does.
    void publish(const std::vector<uint8_t>& bytes) {
        ASSERT_LE(bytes.size(), kChunkBytes);
        const uint32_t produced = ring().produced.load();
        ASSERT_TRUE(eventually([&] { return produced - ring().consumed.load() < kChunkSlots - 1; }));
        if (!bytes.empty()) std::memcpy(slotData(ring(), produced), bytes.data(), bytes.size());
        slotSize(ring(), produced) = static_cast<int32_t>(bytes.size());
        ring().produced.store(produced + 1);
        wake(control().writerWake);
    }
    // Publishes a stream in full chunks and a shorter last one (even empty).
    void publishStream(const std::vector<uint8_t>& stream) {
        size_t at = 0;
        for (;;) {
            const size_t size = std::min<size_t>(kChunkBytes, stream.size() - at);
            publish(std::vector<uint8_t>(stream.begin() + at, stream.begin() + at + size));
            at += size;
            if (size < kChunkBytes) break;
        }
    }
    void endOutput() { raiseFlag(control(), control().outputEnded); }
    bool waitUntilDone() { return eventually([&] { return control().writerDone.load() != 0; }); }
    // The jobs queued so far are all; the writer runs over the whole stream.
    bool writeStream(const std::vector<uint8_t>& stream) {
        endJobs();
        startWriter();
        publishStream(stream);
        endOutput();
        return waitUntilDone();
    }

    static void expectFileHolds(const TargetFile& file, const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(std::filesystem::exists(file.path)) << file.path;
        EXPECT_EQ(readWholeFile(file.path), bytes) << file.path;
        const CheckPair check = checkValuesOf(bytes);
        EXPECT_EQ(file.entry.writtenCrc, check.crc) << file.path;
        EXPECT_EQ(file.entry.writtenCrcPlusOne, check.crcPlusOne) << file.path;
        EXPECT_TRUE(file.entry.written) << file.path;
    }
    static void expectStamped(const TargetFile& file) {
        const StoredTimes times = storedTimesOf(file.path);
        EXPECT_EQ(times.lastWrite, kWriteTime) << file.path;
        EXPECT_EQ(times.lastAccess, kAccessTime) << file.path;
    }

    ScratchFolder scratch_;
    std::unique_ptr<Pipeline> pipeline_;
    std::deque<TargetFile> files_;
    std::thread writer_;
};

std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, size_t from, size_t size) {
    return std::vector<uint8_t>(bytes.begin() + from, bytes.begin() + from + size);
}

TEST_F(WriterThreadTest, ChunkIsReleasedOnceItsLastByteHasGoneToAFile) {
    // Stream: 65,536 + 100 + 65,436 bytes, two full chunks and an empty one.
    // Chunk 0 goes as soon as its file is done; chunk 1 holds the second
    // file and the start of the third and stays until the third has it.
    const auto stream = patternBytes(2 * 65536, 21);
    TargetFile& whole = queueFile("whole", 65536);
    TargetFile& locked = queueFile("locked", 100, kAttributeReadOnly);
    startWriter();
    publishStream(stream);
    ASSERT_TRUE(eventually([&] { return isEmpty(pipeline_->rings.writerJobs); }));  // both files done
    ASSERT_TRUE(settlesAsleep(control().writerWake));
    EXPECT_TRUE(whole.entry.written);
    EXPECT_EQ(ring().consumed.load(), 1u);

    TargetFile& third = queueFile("third", 65436);
    endJobs();
    endOutput();
    ASSERT_TRUE(waitUntilDone());
    EXPECT_EQ(ring().consumed.load(), 3u);  // the empty last chunk too
    expectStamped(whole);  // before reading, which may move the access time
    expectStamped(locked);
    expectFileHolds(whole, slice(stream, 0, 65536));
    expectFileHolds(locked, slice(stream, 65536, 100));
    expectFileHolds(third, slice(stream, 65636, 65436));
    EXPECT_TRUE(failuresOf(control().report).empty());
    // Written and stamped, then protected.
    EXPECT_EQ(std::filesystem::status(locked.path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                  std::filesystem::perms::others_read);
    EXPECT_EQ(locked.entry.lastAccessTime, kAccessTime);  // the stored times stay in the entry
}

TEST_F(WriterThreadTest, ZeroByteFilesAreMadeWithoutTakingAChunk) {
    const auto stream = patternBytes(30, 22);
    TargetFile& a = queueFile("a", 10);
    TargetFile& empty1 = queueFile("empty1", 0);
    TargetFile& empty2 = queueFile("empty2", 0);
    TargetFile& b = queueFile("b", 20);
    TargetFile& trailing = queueFile("trailing", 0);  // after the stream's last byte
    ASSERT_TRUE(writeStream(stream));
    expectFileHolds(a, slice(stream, 0, 10));
    expectFileHolds(b, slice(stream, 10, 20));
    for (TargetFile* empty : {&empty1, &empty2, &trailing}) {
        expectStamped(*empty);
        expectFileHolds(*empty, {});
    }
    // One progress record per file, in job order, each after its file was done.
    TakenRecord taken;
    std::vector<std::filesystem::path> finished;
    while (takeOldest(pipeline_->rings.extractedFiles, taken)) finished.push_back(utf16ToNative(taken.name));
    EXPECT_EQ(finished, (std::vector<std::filesystem::path>{a.path, empty1.path, empty2.path, b.path, trailing.path}));
}

TEST_F(WriterThreadTest, FileIsOpenToItsOwnerOnlyUntilItIsComplete) {
    // Before: the temporary was 0644 from its first byte, open to every user.
    if (!kRestoresUnixModes) GTEST_SKIP() << "Windows keeps its own access rules";
    namespace fs = std::filesystem;
    const SystemResult<FileHandle> folder = openTargetFolder(nativeOf(scratch_.root()).c_str());
    ASSERT_TRUE(folder.ok());
    control().writerFolder = folder.value;
    files_.push_back(TargetFile{scratch_ / "public", FileEntry{}});
    FileEntry& entry = files_.back().entry;
    entry.size = 2 * kChunkBytes;
    entry.attributes = kAttributeUnixMode;
    entry.creationTime = withUnixMode(kWriteTime, 0100644);
    const auto stream = patternBytes(2 * kChunkBytes, 25);
    const CheckPair check = checkValuesOf(stream);
    entry.crc = check.crc;
    entry.crcPlusOne = check.crcPlusOne;
    ASSERT_EQ(queueJob(control(), pipeline_->rings.writerJobs, u"public", entry.size, &entry), QueueResult::queued);
    endJobs();
    startWriter();
    publish(slice(stream, 0, kChunkBytes));
    // The writer holds half the file and waits for the rest.
    fs::path temporary;
    ASSERT_TRUE(eventually([&] {
        for (const auto& item : fs::directory_iterator(scratch_.root()))
            if (item.file_size() == kChunkBytes) temporary = item.path();
        return !temporary.empty();
    }));
    EXPECT_EQ(fs::status(temporary).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    publish(slice(stream, kChunkBytes, kChunkBytes));
    endOutput();
    ASSERT_TRUE(waitUntilDone());
    const ModeRule rule = currentModeRule();
    EXPECT_EQ(static_cast<unsigned>(fs::status(scratch_ / "public").permissions() & fs::perms::all),
              rule.exact ? 0644u : 0644u & ~rule.umask);
    EXPECT_TRUE(closeFile(folder.value).ok());
}

TEST_F(WriterThreadTest, FilesThatFailAreReportedAndStillConsumeTheirBytes) {
    const auto stream = patternBytes(70000 + 300 + 1000 + 40, 25);
    TargetFile& before = queueFile("before", 70000);
    TargetFile& lost = queueFile("no-such-folder/lost", 300);
    files_.push_back(TargetFile{"/dev/full", FileEntry{}});  // every write: no space left
    TargetFile& full = files_.back();
    full.entry.size = 1000;
    ASSERT_EQ(queueJob(control(), pipeline_->rings.writerJobs, u"/dev/full", 1000, &full.entry),
              QueueResult::queued);
    TargetFile& after = queueFile("after", 40);
    ASSERT_TRUE(writeStream(stream));
    expectFileHolds(before, slice(stream, 0, 70000));
    expectFileHolds(after, slice(stream, 71300, 40));
    EXPECT_FALSE(lost.entry.written);
    EXPECT_FALSE(full.entry.written);
    const auto failures = failuresOf(control().report);
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].kind, FailureKind::fileNotCreated);
    EXPECT_EQ(failures[0].path, nativeOf(lost.path));
    EXPECT_EQ(failures[0].reason, systemReason(test::kErrorNoSuchFolder));
    EXPECT_EQ(failures[1].kind, FailureKind::fileWriteFailed);
    EXPECT_EQ(failures[1].reason, systemReason(test::kErrorDeviceFull));
}

TEST_F(WriterThreadTest, BytesBeyondTheLastJobAreReleasedUnwrittenAndReported) {
    const auto stream = patternBytes(65536 + 50, 27);
    TargetFile& only = queueFile("only", 30);
    ASSERT_TRUE(writeStream(stream));
    EXPECT_EQ(ring().consumed.load(), ring().produced.load());
    expectFileHolds(only, slice(stream, 0, 30));
    const auto failures = failuresOf(control().report);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].kind, FailureKind::extraData);
    EXPECT_EQ(failures[0].reason, "65556 decoded bytes belong to no file");
}

TEST_F(WriterThreadTest, StreamEndingEarlyReportsEveryFileItCouldNotFill) {
    const auto stream = patternBytes(30, 29);
    TargetFile& whole = queueFile("whole", 20);
    TargetFile& shortFile = queueFile("short", 20);
    TargetFile& empty = queueFile("empty", 0);
    TargetFile& nothing = queueFile("nothing", 5);
    ASSERT_TRUE(writeStream(stream));
    expectFileHolds(whole, slice(stream, 0, 20));
    expectFileHolds(empty, {});
    EXPECT_EQ(readWholeFile(shortFile.path), slice(stream, 20, 10));
    EXPECT_FALSE(shortFile.entry.written);
    EXPECT_FALSE(nothing.entry.written);
    const auto failures = failuresOf(control().report);
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].kind, FailureKind::fileIncomplete);
    EXPECT_EQ(failures[0].path, nativeOf(shortFile.path));
    EXPECT_EQ(failures[0].reason, "the archive's data ended after 10 of 20 bytes");
    EXPECT_EQ(failures[1].path, nativeOf(nothing.path));
}

TEST_F(WriterThreadTest, WriterWaitsForTheEndOfJobsBeforeItIsDone) {
    const auto stream = patternBytes(10, 30);
    queueFile("a", 10);
    startWriter();
    publishStream(stream);
    endOutput();
    // Main may still queue zero-byte files: the writer waits for the end of jobs.
    ASSERT_TRUE(eventually([&] { return sleepsAtCurrentCount(control().writerWake) || control().writerDone.load(); }));
    EXPECT_EQ(control().writerDone.load(), 0u);
    TargetFile& late = queueFile("late", 0);
    endJobs();
    ASSERT_TRUE(waitUntilDone());
    expectFileHolds(late, {});
}

}  // namespace
}  // namespace qex::testing
