// The progress display: line formats, the speed figure, the printer thread
// with its final print, and the lines a real run prints.
#include "frontend/progress_display.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "archive_fixture.h"

namespace qex {
namespace {

using test::runQex;

bool matches(const std::string& text, const std::string& pattern) {
    return std::regex_match(text, std::regex(pattern));
}

TEST(SpeedFigure, AddsOneSecondToTheElapsedTime) {
    // 3,000 bytes after 500 ms: 3,000 * 1,000 / (500 + 1,000).
    EXPECT_EQ(speedFigure(3000, 1000, 1500), 2000);
    // The tick wraps at 2^32: 0x100 - 0xFFFFFF00 is 512 ms.
    EXPECT_EQ(speedFigure(1512, 0xFFFFFF00u, 0x100u), 1000);
    // Printed as a 32-bit integer: 2^32 + 5 bytes at once keep their low 32 bits.
    EXPECT_EQ(speedFigure((uint64_t{1} << 32) + 5, 0, 0), 5);
}

// The runs below show the usual lines; here the edges of their fields.
TEST(ProgressLines, SizesPrintWholeCrcsInEightDigitsAndLinesArePaddedTo78ColumnsNeverCut) {
    EXPECT_EQ(addFileLine("/big", uint64_t{1} << 39), "Adding \"/big\":549755813888");
    EXPECT_EQ(extractFileLine("/t/z", 0, 0, 0xAB), "Extracting \"/t/z\":0 00000000 000000AB");
    EXPECT_EQ(paddedLine("short", '\r'), "short" + std::string(73, ' ') + "\r");
    const std::string longLine(100, 'n');
    EXPECT_EQ(paddedLine(longLine, '\n'), longLine + "\n");
}

// The printer thread prints while a producer fills the ring; the final print
// comes after the thread has ended, so no line is ever torn or interleaved
// and the last thing printed is the final status line.
TEST(ProgressPrinterThread, FinalPrintFollowsTheThreadsLastPrint) {
    auto rings = std::make_unique<PipelineRings>();
    ProgressCounters counters;
    std::atomic<uint64_t> totalIn{0}, totalOut{0};
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ConsoleOutput console;
    console.stream = out;
    ProgressPrinter printer;
    attachProgressPrinter(printer, console, ProgressKind::add, rings->addedFiles, counters, totalIn,
                          totalOut);
    printer.terminal = true;  // the status line rewritten in place, as on a screen
    startProgressPrinter(printer);
    for (int k = 0; k < 3000; ++k) {
        const std::u16string name = u"/f" + std::u16string(1, static_cast<char16_t>(u'a' + k % 26));
        pushDiscardingOldest(rings->addedFiles, name, k, nullptr);
        counters.files.store(static_cast<uint32_t>(k + 1));
        totalIn.store(static_cast<uint64_t>(k));
        if (k % 500 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    finishProgressPrinter(printer);

    std::rewind(out);
    std::string text;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, out)) > 0) text.append(chunk, got);
    std::fclose(out);

    // Every line is a whole file line or a whole status line, padded to 78
    // columns; the last is the final status line with every figure, then a
    // line feed ends the output.
    size_t position = 0, lines = 0;
    std::string line;
    while (position + 1 < text.size()) {
        const size_t end = text.find_first_of("\r\n", position);
        ASSERT_NE(end, std::string::npos);
        line = text.substr(position, end - position + 1);
        ASSERT_EQ(line.size(), 79u) << "torn line: " << line;
        ASSERT_TRUE(matches(line, "Adding \"/f[a-z]\":[0-9]+ *\n") ||
                    matches(line, "d=0 f=[0-9]+ in=[0-9]+/0 out=0 speed=[0-9]+ *\r"))
            << "torn line: " << line;
        position = end + 1;
        ++lines;
    }
    EXPECT_EQ(text.substr(position), "\n");
    EXPECT_TRUE(matches(line, "d=0 f=3000 in=2999/0 out=0 speed=[0-9]+ *\r")) << line;
    EXPECT_GT(lines, 2u);
}

// Whole runs with Linux paths; the Windows program's runs have tests of
// their own. Their output goes to a pipe, not a terminal: a log, with file
// lines as they are and the status line once, at the end.
#ifndef _WIN32
class ProgressOfARun : public test::ScratchFolderTest {};

// The final line of a log: it ends with a line feed and no carriage return
// stands anywhere; empty otherwise.
std::string finalLogLineOf(const std::string& out) {
    if (out.empty() || out.back() != '\n' || out.find('\r') != std::string::npos) return {};
    const size_t start = out.find_last_of('\n', out.size() - 2);
    return out.substr(start == std::string::npos ? 0 : start + 1,
                      out.size() - 1 - (start == std::string::npos ? 0 : start + 1));
}

TEST_F(ProgressOfARun, AddAndExtractPrintFileLinesAndOneFinalStatusAlsoWhenEmpty) {
    folder("T/S");
    file("T/a.txt", "abc");
    file("T/empty");
    const auto r = runQex({"a", at("t.qex"), at("T")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("a command\n<" + at("T") + ">\n", 0), 0u) << r.out;
    // The empty file has no job, so only a.txt is announced.
    EXPECT_NE(r.out.find("\nAdding \"" + at("T/a.txt") + "\":3\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Adding \"" + at("T/empty")), std::string::npos) << r.out;
    // The final status: 2 folders, 2 files, 3 of 3 bytes in; speed at most
    // 3 * 1,000 / 1,000; out is the stream, the archive less its directory
    // ("T a.txt empty S", 16 bytes of names, 4 entries, the trailer).
    const std::string finalStatus = finalLogLineOf(r.out);
    const uint64_t streamBytes = test::fs::file_size(at("t.qex")) - 8 - 16 - 160;
    const std::string expected = "d=2 f=2 in=3/3 out=" + std::to_string(streamBytes) + " speed=[0-3]";
    EXPECT_TRUE(matches(finalStatus, expected)) << r.out;
    EXPECT_EQ(r.out.find("d=2 f=2"), r.out.size() - finalStatus.size() - 1) << "one status line only";
    // Extract shows stored and computed check values; the whole archive in, three bytes out.
    folder("out");
    const auto x = runQex({"x", at("t.qex"), at("out")});
    ASSERT_EQ(x.exitCode, 0) << x.err;
    EXPECT_EQ(x.out.rfind("x command\n", 0), 0u);
    for (const std::string& line : {"\nExtracting \"" + at("out/T/a.txt") + "\":3 352441C2 352441C2\n",
                                    "\nExtracting \"" + at("out/T/empty") + "\":0 00000000 00000000\n"})
        EXPECT_NE(x.out.find(line), std::string::npos) << x.out;
    const std::string size = std::to_string(test::fs::file_size(at("t.qex")));
    EXPECT_TRUE(matches(finalLogLineOf(x.out), "d=2 f=2 in=" + size + " out=3 speed=[0-9]+")) << x.out;
    // Nothing to add: every figure is 0 but the empty stream's 6 bytes.
    folder("E");
    const auto empty = runQex({"a", at("e.qex"), at("E") + "/"});
    ASSERT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.out.find("Adding"), std::string::npos);
    EXPECT_EQ(finalLogLineOf(empty.out), "d=0 f=0 in=0/0 out=6 speed=0") << empty.out;
}

#endif

}  // namespace
}  // namespace qex
