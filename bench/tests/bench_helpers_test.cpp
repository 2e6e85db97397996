// Tests of the benchmark helpers whose mistakes would go unnoticed in a
// timing run: which files an input is made of, and the comparison with the
// recorded golden stream.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_checks.h"
#include "bench_inputs.h"
#include "bench_process.h"

namespace qexbench {
namespace {

namespace fs = std::filesystem;

void put(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
}

std::string asText(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

class GatherInput : public ::testing::Test {
protected:
    TempDir tmp;
    fs::path root() const { return tmp.path; }
    std::string dir(const char* name) const { return (root() / name).string(); }
};

TEST_F(GatherInput, TakesFilesInSortedOrderWithinFolderBudgetAndCap) {
    put(root() / "a" / "b.txt", std::string(40, 'b'));
    put(root() / "a" / "a.txt", std::string(30, 'a'));
    put(root() / "a" / "sub" / "c.txt", std::string(50, 'c'));  // over the folder's budget: skipped
    put(root() / "a" / "z.txt", std::string(20, 'z'));          // still fits after c was skipped
    put(root() / "b" / "d.txt", std::string(30, 'd'));          // over the cap: skipped
    put(root() / "b" / "e.txt", std::string(5, 'e'));
    BenchInput in;
    gatherInput(in, {{dir("a").c_str(), true, 100}, {dir("b").c_str(), false, 100}}, Accept::Anything, 100);
    EXPECT_EQ(asText(in.bytes), std::string(30, 'a') + std::string(40, 'b') + std::string(20, 'z') + "eeeee");
    EXPECT_EQ(in.files, (std::vector<std::string>{dir("a") + "/a.txt", dir("a") + "/b.txt", dir("a") + "/z.txt",
                                                  dir("b") + "/e.txt"}));
}

TEST_F(GatherInput, MissingFolderAndRepeatedContentsAreSkipped) {
    put(root() / "a" / "one", "same contents");
    put(root() / "a" / "two", "same contents");
    put(root() / "b" / "three", "other contents");
    BenchInput with, without;
    gatherInput(with, {{dir("a").c_str(), false, 1000}, {dir("gone").c_str(), true, 1000}, {dir("b").c_str(), false, 1000}},
                Accept::Anything, 1000);
    gatherInput(without, {{dir("a").c_str(), false, 1000}, {dir("b").c_str(), false, 1000}}, Accept::Anything, 1000);
    EXPECT_EQ(asText(with.bytes), "same contentsother contents");
    EXPECT_EQ(with.files, without.files);
}

TEST_F(GatherInput, ProseAndExecutableFiltersLookAtNamesAndContents) {
    put(root() / "d" / "README", "Plain English words.\n");
    put(root() / "d" / "guide.html", "<p>markup</p>\n");
    put(root() / "d" / "notes.txt", std::string("binary\0data", 11));
    put(root() / "d" / "prog", std::string("\x7f" "ELF", 4) + std::string(12, '\0'));
    BenchInput prose, code;
    gatherInput(prose, {{dir("d").c_str(), false, 1000}}, Accept::Prose, 1000);
    gatherInput(code, {{dir("d").c_str(), false, 1000}}, Accept::Executable, 1000);
    EXPECT_EQ(prose.files, std::vector<std::string>{dir("d") + "/README"});
    EXPECT_EQ(code.files, std::vector<std::string>{dir("d") + "/prog"});
}

TEST(ProseRules, NamesAndContents) {
    EXPECT_TRUE(isProseName("/usr/share/doc/x/copyright"));
    EXPECT_TRUE(isProseName("/usr/share/man/man1/ls.1.gz"));
    EXPECT_TRUE(isProseName("/usr/share/info/find.info-2.gz"));
    EXPECT_TRUE(isProseName("/usr/share/doc/x/changelog.Debian.gz"));
    EXPECT_FALSE(isProseName("/usr/share/doc/x/api.html"));
    EXPECT_FALSE(isProseName("/usr/share/doc/x/example.c"));
    // 1 control byte in 100 is too many; 4 high bytes in 100 are not.
    std::string text(100, 'a');
    EXPECT_TRUE(looksLikeProse({text.begin(), text.end()}));
    text[10] = '\x01';
    EXPECT_FALSE(looksLikeProse({text.begin(), text.end()}));
    text[10] = 'a';
    for (int i = 0; i < 4; ++i) text[20 + i] = '\xC3';
    EXPECT_TRUE(looksLikeProse({text.begin(), text.end()}));
    text[30] = '\xC3';
    EXPECT_FALSE(looksLikeProse({text.begin(), text.end()}));
}

TEST(Crc32, StandardCheckValue) {
    // The CRC-32 of the ASCII digits "123456789" is 0xCBF43926 for the
    // reflected polynomial 0xEDB88320; split updates give the same value.
    const std::string digits = "123456789";
    const auto* p = reinterpret_cast<const uint8_t*>(digits.data());
    EXPECT_EQ(crc32(p, 9), 0xCBF43926u);
    EXPECT_EQ(crc32Update(crc32(p, 4), p + 4, 5), 0xCBF43926u);
}

class GoldenCheck : public ::testing::Test {
protected:
    TempDir tmp;
    std::vector<uint8_t> stream;

    void SetUp() override {
        for (uint32_t i = 0; i < 200'000; ++i) stream.push_back(static_cast<uint8_t>(i * 2654435761u >> 24));
        std::ofstream tsv(tmp.path + "/expected.tsv");
        tsv << "input\tinput_bytes\tinput_crc32\tstream_bytes\tstream_crc32\tstream_sha256\trestarts_after_input_byte\n";
        tsv << "small.bin\t10\t0000abcd\t6\t00000001\tff\t-\n";
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", crc32(stream.data(), stream.size()));
        tsv << "big.bin\t5000\t12345678\t200000\t" << crc << "\tff\t1000,4000\n";
        std::ofstream points(tmp.path + "/big.checkpoints.tsv");
        points << "stream_offset\tcrc32_of_stream_bytes_before_offset\n";
        for (uint64_t offset : {65536u, 131072u, 196608u, 200000u}) {
            std::snprintf(crc, sizeof crc, "%08x", crc32(stream.data(), offset));
            points << offset << '\t' << crc << '\n';
        }
    }
};

TEST_F(GoldenCheck, RowIsFoundBySizeAndCrcWithRestartPositions) {
    GoldenRow row;
    ASSERT_TRUE(findGoldenRow(tmp.path, 5000, 0x12345678, row));
    EXPECT_EQ(row.input, "big.bin");
    EXPECT_EQ(row.streamBytes, 200'000u);
    EXPECT_EQ(row.restartAfter, (std::vector<uint64_t>{1000, 4000}));
    ASSERT_TRUE(findGoldenRow(tmp.path, 10, 0xabcd, row));
    EXPECT_TRUE(row.restartAfter.empty());
    EXPECT_FALSE(findGoldenRow(tmp.path, 10, 0xabce, row));
}

TEST_F(GoldenCheck, IdenticalStreamPassesAndAnyDifferenceFails) {
    EXPECT_TRUE(checkAgainstGolden(tmp.path, 5000, 0x12345678, stream, {1000, 4000}));
    EXPECT_FALSE(checkAgainstGolden(tmp.path, 5000, 0x12345678, stream, {1000, 4001}));
    std::vector<uint8_t> shorter(stream.begin(), stream.end() - 1);
    EXPECT_FALSE(checkAgainstGolden(tmp.path, 5000, 0x12345678, shorter, {1000, 4000}));
    // An input that is not a golden one has nothing to compare with.
    EXPECT_TRUE(checkAgainstGolden(tmp.path, 7, 7, stream, {}));
}

TEST_F(GoldenCheck, FirstFailedCheckpointLocatesTheDifference) {
    EXPECT_EQ(firstFailedCheckpoint(tmp.path, stream), 0u);
    std::vector<uint8_t> damaged = stream;
    damaged[140'000] ^= 1;  // inside the third 64 KiB block, [131072, 196608)
    EXPECT_EQ(firstFailedCheckpoint(tmp.path, damaged), 196'608u);
    damaged.resize(100'000);  // ends inside the second block
    EXPECT_EQ(firstFailedCheckpoint(tmp.path, damaged), 131'072u);
}

}  // namespace
}  // namespace qexbench
