// ReaderThread alone: the test plays the coder and takes the chunks.
#include <gtest/gtest.h>

#include "pipeline/reader_thread.h"
#include "pipeline_fixture.h"
#include "support/system_errors.h"

namespace qex::testing {
namespace {

struct Chunk {
    uint32_t number;
    std::vector<uint8_t> bytes;
};

class ReaderThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        pipeline_ = createPipeline();
        prepareForAdd(*pipeline_, kNoFile, "archive");
    }
    void TearDown() override { stopReader(); }

    PipelineControl& control() { return pipeline_->control; }
    ChunkRing& ring() { return pipeline_->inputRing; }

    // The files queued so far are all the reader gets.
    void startReader() {
        queueEndOfJobs(control(), pipeline_->rings.readerJobs);
        reader_ = std::thread(runReaderThread, std::ref(control()));
    }
    void stopReader() {
        raiseFlag(control(), control().readerStop);
        if (reader_.joinable()) reader_.join();
    }

    SourceFile& addFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        writeWholeFile(scratch_ / name, bytes);
        return queueFile(scratch_ / name, bytes.size());
    }
    SourceFile& queueFile(const std::filesystem::path& path, uint64_t size) {
        files_.push_back(SourceFile{path, FileEntry{}});
        files_.back().entry.size = size;
        EXPECT_EQ(queueJob(control(), pipeline_->rings.readerJobs, u16(path), size, &files_.back().entry),
                  QueueResult::queued);
        return files_.back();
    }

    // Takes chunks the way the coder does until the reader has stopped and
    // nothing is left.
    std::vector<Chunk> takeAllChunks() {
        std::vector<Chunk> chunks;
        for (;;) {
            const uint32_t current = ring().consumed.load() + 1;
            ring().consumed.store(current);
            wake(control().readerWake);
            EXPECT_TRUE(eventually([&] { return ring().produced.load() != current || control().readerStop.load() != 0; }));
            if (ring().produced.load() == current) break;
            const auto size = static_cast<size_t>(slotSize(ring(), current));
            const unsigned char* data = slotData(ring(), current);
            chunks.push_back(Chunk{current, std::vector<uint8_t>(data, data + size)});
        }
        return chunks;
    }

    static std::vector<size_t> sizesOf(const std::vector<Chunk>& chunks) {
        std::vector<size_t> sizes;
        for (const Chunk& chunk : chunks) sizes.push_back(chunk.bytes.size());
        return sizes;
    }

    static std::vector<uint8_t> joined(const std::vector<Chunk>& chunks) {
        std::vector<uint8_t> all;
        for (const Chunk& chunk : chunks) all.insert(all.end(), chunk.bytes.begin(), chunk.bytes.end());
        return all;
    }

    static void expectEntryDescribes(const SourceFile& file, const std::vector<uint8_t>& bytes) {
        const CheckPair check = checkValuesOf(bytes);
        EXPECT_EQ(file.entry.size, bytes.size()) << file.path;
        EXPECT_EQ(file.entry.crc, check.crc) << file.path;
        EXPECT_EQ(file.entry.crcPlusOne, check.crcPlusOne) << file.path;
    }

    ScratchFolder scratch_;
    std::unique_ptr<Pipeline> pipeline_;
    std::deque<SourceFile> files_;
    std::thread reader_;
};

TEST_F(ReaderThreadTest, ChunkBoundariesFollowEachFile) {
    // A whole chunk, then a read of 0 that publishes nothing; 65,537 bytes
    // as 65,536 + 1; an empty file adds no chunk; 70,000 bytes as 65,536 +
    // 4,464. No chunk is empty and none holds bytes of two files.
    const std::vector<std::vector<uint8_t>> contents{patternBytes(65536, 1), patternBytes(65537, 2), {},
                                                     patternBytes(70000, 3), patternBytes(10, 4)};
    std::vector<uint8_t> expected;
    for (size_t i = 0; i < contents.size(); ++i) {
        addFile("file" + std::to_string(i), contents[i]);
        expected.insert(expected.end(), contents[i].begin(), contents[i].end());
    }
    startReader();
    const std::vector<Chunk> chunks = takeAllChunks();
    EXPECT_EQ(sizesOf(chunks), (std::vector<size_t>{65536, 65536, 1, 65536, 4464, 10}));
    for (uint32_t i = 0; i < chunks.size(); ++i) EXPECT_EQ(chunks[i].number, i);
    EXPECT_EQ(joined(chunks), expected);
    for (size_t i = 0; i < contents.size(); ++i) expectEntryDescribes(files_[i], contents[i]);
}

TEST_F(ReaderThreadTest, OpenedSourceIsReadInsteadOfItsNameAndReleased) {
    // The walk opened the listed file; the name now holds another one,
    // which must not be read.
    const auto listed = patternBytes(3000, 11);
    writeWholeFile(scratch_ / "listed", listed);
    const SystemResult<FileHandle> opened = openForRead(nativeOf(scratch_ / "listed").c_str());
    ASSERT_TRUE(opened.ok());
    std::filesystem::rename(scratch_ / "listed", scratch_ / "moved");
    writeWholeFile(scratch_ / "listed", patternBytes(3000, 12));
    files_.push_back(SourceFile{scratch_ / "listed", FileEntry{}});
    FileEntry& entry = files_.back().entry;
    entry.source = opened.value;
    ASSERT_TRUE(holdAnotherSource(control()));
    ASSERT_EQ(queueJob(control(), pipeline_->rings.readerJobs, u16(scratch_ / "listed"), 3000, &entry),
              QueueResult::queued);
    startReader();
    EXPECT_EQ(joined(takeAllChunks()), listed);
    expectEntryDescribes(files_.back(), listed);
    EXPECT_EQ(entry.source, kNoFile);  // the reader took it over (and closed it)
    EXPECT_EQ(control().sourcesHeld.load(), 0u);
}

TEST_F(ReaderThreadTest, SourcesThatFailOrChangedAreReportedAndTheRestIsRead) {
    // Listed at 100 bytes: one shrank to 50 since, one grew to 200000 (more
    // than a chunk, so that reading on would show); one is gone, and a
    // folder opens but every read fails.
    const auto shrunk = patternBytes(50, 9);
    const auto grown = patternBytes(200000, 13);
    const auto after = patternBytes(5000, 8);
    writeWholeFile(scratch_ / "shrunk", shrunk);
    writeWholeFile(scratch_ / "grown", grown);
    std::filesystem::create_directory(scratch_ / "folder");
    SourceFile& small = queueFile(scratch_ / "shrunk", 100);
    SourceFile& missing = queueFile(scratch_ / "missing", 1234);
    SourceFile& large = queueFile(scratch_ / "grown", 100);
    SourceFile& folder = queueFile(scratch_ / "folder", 99);
    SourceFile& last = addFile("after", after);
    missing.entry.crc = folder.entry.crc = 0xDEADBEEF;  // must be overwritten
    startReader();
    const std::vector<uint8_t> firstHundred(grown.begin(), grown.begin() + 100);
    std::vector<uint8_t> expected = shrunk;
    for (const auto* part : {&firstHundred, &after})
        expected.insert(expected.end(), part->begin(), part->end());
    EXPECT_EQ(joined(takeAllChunks()), expected);
    expectEntryDescribes(small, shrunk);
    expectEntryDescribes(large, firstHundred);
    expectEntryDescribes(missing, {});
    expectEntryDescribes(folder, {});
    expectEntryDescribes(last, after);
    // Nothing of the unreadable two entered the stream: their entries are left out.
    EXPECT_TRUE(missing.entry.unread);
    EXPECT_TRUE(folder.entry.unread);
    EXPECT_FALSE(small.entry.unread);
    EXPECT_FALSE(last.entry.unread);
    const auto failures = failuresOf(control().report);
    ASSERT_EQ(failures.size(), 4u);
    EXPECT_EQ(failures[0].kind, FailureKind::sourceChanged);
    EXPECT_EQ(failures[0].path, nativeOf(scratch_ / "shrunk"));
    EXPECT_EQ(failures[1].kind, FailureKind::sourceUnreadable);
    EXPECT_EQ(failures[1].path, nativeOf(scratch_ / "missing"));
    EXPECT_EQ(failures[1].reason, systemReason(test::kErrorNoSuchFile) + " (not stored)");
    EXPECT_EQ(failures[2].kind, FailureKind::sourceChanged);
    EXPECT_EQ(failures[2].path, nativeOf(scratch_ / "grown"));
    EXPECT_EQ(failures[3].path, nativeOf(scratch_ / "folder"));
    EXPECT_EQ(failures[3].reason, systemReason(test::kErrorIsAFolder) + " (not stored)");

    // Each of the five was announced for the progress display.
    TakenRecord taken;
    int announced = 0;
    while (takeOldest(pipeline_->rings.addedFiles, taken)) ++announced;
    EXPECT_EQ(announced, 5);
}

TEST_F(ReaderThreadTest, ReaderNeverRunsMoreThan255ChunksAhead) {
    const auto big = patternBytes(300 * size_t{kChunkBytes}, 12);
    addFile("big", big);
    startReader();
    // Nothing taken yet: chunks 0..254 can be filled, chunk 255 would reuse
    // the slot of chunk 0xFFFFFFFF, the one "in use".
    ASSERT_TRUE(eventually([&] { return ring().produced.load() == 255; }));
    ASSERT_TRUE(settlesAsleep(control().readerWake));
    EXPECT_EQ(ring().produced.load(), 255u);
    EXPECT_EQ(joined(takeAllChunks()), big);
}

TEST_F(ReaderThreadTest, ExtractReadsTheArchiveAndClosesIt) {
    const auto archive = patternBytes(140000, 13);
    writeWholeFile(scratch_ / "archive", archive);
    prepareForExtract(*pipeline_, openForRead(nativeOf(scratch_ / "archive").c_str()).value, "archive");
    startReader();
    const std::vector<Chunk> chunks = takeAllChunks();
    EXPECT_EQ(sizesOf(chunks), (std::vector<size_t>{65536, 65536, 8928}));
    EXPECT_EQ(joined(chunks), archive);
    reader_.join();
    EXPECT_EQ(control().readerFile, kNoFile);
    EXPECT_TRUE(failuresOf(control().report).empty());
}

TEST_F(ReaderThreadTest, StopInMidFileLeavesTheHandleToTheWorker) {
    addFile("big", patternBytes(300 * size_t{kChunkBytes}, 14));
    startReader();
    ASSERT_TRUE(eventually([&] { return ring().produced.load() == 255; }));
    stopReader();
    ASSERT_NE(control().readerFile, kNoFile);
    EXPECT_TRUE(closeFile(control().readerFile).ok());
}

}  // namespace
}  // namespace qex::testing
