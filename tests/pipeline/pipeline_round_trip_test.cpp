// The pipeline with the real stream coder: files through reader -> encoder
// -> writer must give exactly the streams the independent encoders made for
// the golden inputs, and those streams through reader -> decoder -> writer
// must give back the files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "pipeline_fixture.h"

namespace qex::testing {
namespace {

std::filesystem::path goldenInput(const std::string& name) { return std::filesystem::path(QEX_GOLDEN_INPUTS) / name; }
std::filesystem::path goldenStream(const std::string& name) {
    return std::filesystem::path(QEX_TEST_DATA) / "golden" / "streams" / (name + ".qs");
}

class PipelineRoundTripTest : public PipelineFilesTest {
protected:
    // Splits `bytes` into files of the given sizes (the rest goes last).
    void sourcesFrom(const std::vector<uint8_t>& bytes, const std::vector<size_t>& sizes) {
        size_t at = 0;
        for (size_t i = 0; i <= sizes.size(); ++i) {
            const size_t size = i < sizes.size() ? sizes[i] : bytes.size() - at;
            source("in" + std::to_string(i), std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + size));
            at += size;
        }
    }
    void targetsLike(const std::deque<SourceFile>& sources) {
        for (const SourceFile& file : sources) target(file.path.filename().string() + ".out", file.entry.size);
    }
};

TEST_F(PipelineRoundTripTest, AddGivesTheGoldenStreamHoweverTheInputIsSplitIntoFiles) {
    // The coder sees all files as one byte stream: splitting the input into
    // files (including empty ones and 64 KiB boundaries) changes nothing.
    for (const std::string name : {"allbytes.bin", "runs.bin", "noise.bin"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> input = readWholeFile(goldenInput(name));
        ASSERT_FALSE(input.empty());
        sources_.clear();
        sourcesFrom(input, {input.size() / 3, 0, input.size() / 2 > 65536 ? size_t{65536} : size_t{1}});
        auto pipeline = createPipeline();
        EXPECT_TRUE(runAdd(*pipeline, sources_, scratch_ / "archive", encoderBody()).empty());
        EXPECT_EQ(readWholeFile(scratch_ / "archive"), readWholeFile(goldenStream(name)));
    }
}

TEST_F(PipelineRoundTripTest, AddOfNothingGivesTheEmptyStream) {
    auto pipeline = createPipeline();
    EXPECT_TRUE(runAdd(*pipeline, sources_, scratch_ / "archive", encoderBody()).empty());
    EXPECT_EQ(readWholeFile(scratch_ / "archive"), readWholeFile(goldenStream("empty.bin")));
}

TEST_F(PipelineRoundTripTest, FilesComeBackIdenticalWithTheirCheckValues) {
    std::vector<uint8_t> input = readWholeFile(goldenInput("allbytes.bin"));
    const auto noise = patternBytes(150000, 3);
    input.insert(input.end(), noise.begin(), noise.end());
    const auto runs = readWholeFile(goldenInput("runs.bin"));
    input.insert(input.end(), runs.begin(), runs.begin() + 100000);
    sourcesFrom(input, {1, 0, 2303, 70000, 65536, 0, 14463});
    auto adding = createPipeline();
    ASSERT_TRUE(runAdd(*adding, sources_, scratch_ / "archive", encoderBody()).empty());

    // The reader reads past the stream into whatever follows it (the
    // directory); the decoder stops at the end symbol and never takes it.
    std::vector<uint8_t> archive = readWholeFile(scratch_ / "archive");
    const auto trailer = patternBytes(70000, 4);
    archive.insert(archive.end(), trailer.begin(), trailer.end());
    writeWholeFile(scratch_ / "archive", archive);

    targetsLike(sources_);
    auto extracting = createPipeline();
    EXPECT_TRUE(runExtract(*extracting, targets_, scratch_ / "archive", decoderBody()).empty());
    for (size_t i = 0; i < sources_.size(); ++i) {
        EXPECT_EQ(readWholeFile(targets_[i].path), readWholeFile(sources_[i].path)) << i;
        EXPECT_EQ(targets_[i].entry.writtenCrc, sources_[i].entry.crc) << i;
        EXPECT_EQ(targets_[i].entry.writtenCrcPlusOne, sources_[i].entry.crcPlusOne) << i;
        EXPECT_TRUE(targets_[i].entry.written) << i;
    }
    EXPECT_EQ(extracting->control.totalOut.load(), input.size());
}

TEST_F(PipelineRoundTripTest, ArchiveCutInTheMiddleEndsAndReportsWhatIsMissing) {
    const std::vector<uint8_t> input = readWholeFile(goldenInput("noise.bin"));
    sourcesFrom(input, {1000, 100000});
    std::vector<uint8_t> stream = readWholeFile(goldenStream("noise.bin"));
    stream.resize(stream.size() / 2);
    writeWholeFile(scratch_ / "archive", stream);
    targetsLike(sources_);
    auto pipeline = createPipeline();
    const auto failures = runExtract(*pipeline, targets_, scratch_ / "archive", decoderBody());
    EXPECT_EQ(readWholeFile(targets_[0].path), readWholeFile(sources_[0].path));
    EXPECT_TRUE(targets_[0].entry.written);
    EXPECT_FALSE(targets_[2].entry.written);
    EXPECT_TRUE(std::any_of(failures.begin(), failures.end(),
                            [](const PipelineFailure& f) { return f.kind == FailureKind::fileIncomplete; }));
}

TEST_F(PipelineRoundTripTest, ArenaThatCannotBeObtainedIsReportedForBothDirections) {
    // 1 TiB, or half the address space where that is less.
    const size_t unobtainable = static_cast<size_t>(std::min<uint64_t>(uint64_t{1} << 40, SIZE_MAX / 2 + 1));
    for (const CoderBody& body : {encoderBody(), decoderBody()}) {
        writeWholeFile(scratch_ / "archive", readWholeFile(goldenStream("a.bin")));
        auto pipeline = createPipeline();
        targets_.clear();
        const auto failures = body.run == encoderBody().run
                                  ? runAdd(*pipeline, sources_, scratch_ / "archive", body, unobtainable)
                                  : runExtract(*pipeline, targets_, scratch_ / "archive", body, unobtainable);
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].kind, FailureKind::workerStartFailed);
        EXPECT_TRUE(pipelineStopped(pipeline->control));
    }
}

}  // namespace
}  // namespace qex::testing
