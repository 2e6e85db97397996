// The command line: switch scan, command words, banner and exit codes,
// through the real executable where output and exit codes matter, and in
// process (with stand-in commands) where the paths handed on matter.
#include "frontend/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "frontend/banner.h"
#include "platform/text_conversion.h"
#include "support/run_process.h"
#include "support/scratch_folder.h"

namespace qex {
namespace {

// The usage text as users see it: each example path with single backslashes.
const std::string kUsage = R"("a" command:
  qex a 1.qex Z:\Common7 -- create an archive with Common7 folder and all its contents
  qex a 1.qex Z:\Common7\ -- create an archive not include the base folder
  qex a 1.qex Z:\Com*n? -- all folders and files from Z:\, matching the mask, would be added

"x" command:
  qex x 1.qex -- extract the archived stuff to the current directory
  qex x 1.qex Q:\xxx -- extract it as Q:\xxx\... [QUIRK: xxx path presumed to exist]

"l" command:
  qex l 1.qex -- list the archive contents [NOT IMPLEMENTED]

)";

std::string bannerWith(const std::string& stamp) {
    // Template line, maker line, empty line, usage and one more line end.
    return "QEX version 03-alpha [" + stamp + "]\nqex authors, free software\n\n" + kUsage + "\n";
}

test::ProcessResult runQex(std::vector<std::string> args, const std::string& dir = {}) {
    args.insert(args.begin(), QEX_EXE);
    test::ProcessOptions options;
    options.workingDir = dir;
    test::ProcessResult result = test::runProcess(args, options);
    result.out = test::withLinuxLineEnds(result.out);
    result.err = test::withLinuxLineEnds(result.err);
    return result;
}

// The build stamp the executable prints, between the first line's brackets.
std::string stampOf(const std::string& out) {
    const std::string head = "QEX version 03-alpha [";
    if (out.compare(0, head.size(), head) != 0) return "";
    const size_t end = out.find("]\n", head.size());
    return end == std::string::npos ? "" : out.substr(head.size(), end - head.size());
}

// "dd.mm.yyyy hh:mm": digits everywhere but the four separators.
bool looksLikeStamp(const std::string& stamp) {
    const std::string pattern = "00.00.0000 00:00";
    if (stamp.size() != pattern.size()) return false;
    for (size_t i = 0; i < stamp.size(); ++i) {
        const bool digitPlace = pattern[i] == '0';
        if (digitPlace != (stamp[i] >= '0' && stamp[i] <= '9')) return false;
        if (!digitPlace && stamp[i] != pattern[i]) return false;
    }
    return true;
}

std::string banner() {
    static const std::string text = [] {
        const std::string out = runQex({}).out;
        return bannerWith(stampOf(out));
    }();
    return text;
}

TEST(CommandLineExecutable, NoArgumentsPrintBannerExactly) {
    const auto r = runQex({});
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(looksLikeStamp(stampOf(r.out))) << stampOf(r.out);
    EXPECT_EQ(r.out, bannerWith(stampOf(r.out)));
    EXPECT_EQ(r.err, "");
}

TEST(CommandLineExecutable, SwitchValuesReadLikeAtoi) {
    // -o without digits gives 0, -r12x stops at the x, -m-5 keeps its sign;
    // white space and a plus sign may lead; no command follows, so the banner.
    const auto r = runQex({"-o", "-r12x", "-m-5", "-m 42", "-o+7", "-r99999999999", "-m-99999999999"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "order switch: 0\nrestore switch: 12\nmemory switch: -5\nmemory switch: 42\n"
                     "order switch: 7\nrestore switch: 2147483647\nmemory switch: -2147483648\n" +
                         banner());
}

TEST(CommandLineExecutable, SwitchesAnywhereAreEchoedAndRemoved) {
    // Before the command, between command and path, after the path: the
    // command runs exactly as without them (list with an archive: exit 1).
    auto r = runQex({"-m256", "l", "1.qex"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "memory switch: 256\nl command\nNOT IMPLEMENTED\n");
    r = runQex({"l", "-o3", "1.qex", "-r1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "order switch: 3\nrestore switch: 1\nl command\nNOT IMPLEMENTED\n");
}

TEST(CommandLineExecutable, UnknownSwitchPrintsBannerAfterEarlierMessages) {
    auto r = runQex({"-m8", "-q", "l", "1.qex"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "memory switch: 8\n" + banner());
    // A lone minus sign is an unknown switch too (its second byte is the end).
    r = runQex({"-", "l", "1.qex"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, banner());
}

TEST(CommandLineExecutable, StopSwitchEndsTheScan) {
    // The value after "--" is read like any other; later arguments that
    // begin with a minus sign are not switches.
    auto r = runQex({"l", "--", "-archive.qex"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "stop switch: 0\nl command\nNOT IMPLEMENTED\n");
    r = runQex({"--7", "-q"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "stop switch: 7\n" + banner());
}

TEST(CommandLineExecutable, CommandMustBeOneLowerCaseLetter) {
    for (const char* word : {"add", "A", "X", "L", "ax", "", "extract"}) {
        const auto r = runQex({word, "1.qex", "src"});
        EXPECT_EQ(r.exitCode, 0) << word;
        EXPECT_EQ(r.out, banner()) << word;
    }
}

TEST(CommandLineExecutable, ListCommand) {
    auto r = runQex({"l"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "l command\n" + banner());
    r = runQex({"l", "1.qex", "ignored", "ignored too"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "l command\nNOT IMPLEMENTED\n");
}

TEST(CommandLineExecutable, MissingPathsPrintBannerAndCreateNothing) {
    const test::ScratchFolder scratch;
    const std::filesystem::path& dir = scratch.root();
    ASSERT_FALSE(dir.empty());
    auto r = runQex({"a", "1.qex"}, dir.string());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "a command\n" + banner());
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    r = runQex({"x"}, dir.string());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "x command\n" + banner());
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST(CommandLineExecutable, LongArgumentsAreDecidedByTheirLeadingText) {
    // 300 units: only the first 255 are converted, which still read as the switch.
    auto r = runQex({"-m12" + std::string(300, 'x'), "-o5" + std::string(300, '9')});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "memory switch: 12\norder switch: 2147483647\n" + banner());
    // Two-byte characters whose UTF-8 form exceeds the text buffer.
    std::string wide = "-r3";
    for (int i = 0; i < 300; ++i) wide += "\xC3\xA9";
    r = runQex({wide, "l" + std::string(400, ' ')});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "restore switch: 3\n" + banner());
}

// In process: which paths reach the commands.

struct Recorded {
    int calls = 0;
    std::u16string archive, other;
};
Recorded recordedAdd, recordedExtract;

int fakeAdd(const std::u16string& a, const std::u16string& s) {
    recordedAdd = {recordedAdd.calls + 1, a, s};
    return 5;
}
int fakeExtract(const std::u16string& a, const std::u16string& t) {
    recordedExtract = {recordedExtract.calls + 1, a, t};
    return 6;
}

struct InProcessRun {
    int exitCode = -1;
    std::string out;
};

InProcessRun runInProcess(std::vector<std::string> nativeArgs) {
    recordedAdd = {};
    recordedExtract = {};
    nativeArgs.insert(nativeArgs.begin(), "qex");
    std::vector<std::u16string> args;
    for (const std::string& a : nativeArgs) args.push_back(nativeToUtf16(a));
    std::FILE* out = std::tmpfile();
    FrontEnd fe;
    fe.buildStamp = "01.02.2003 04:05";
    fe.add = fakeAdd;
    fe.extract = fakeExtract;
    fe.out = out;
    InProcessRun run;
    run.exitCode = runCommandLine(args, fe);
    std::rewind(out);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0) run.out.append(buffer, n);
    std::fclose(out);
    return run;
}

TEST(CommandLineDispatch, AddGetsArchiveAndSourceAndItsExitCode) {
    const auto run = runInProcess({"-m1", "a", "--", "-arch.qex", "-src dir", "extra"});
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_EQ(run.out, "memory switch: 1\nstop switch: 0\na command\n");
    EXPECT_EQ(recordedAdd.calls, 1);
    EXPECT_EQ(recordedAdd.archive, u"-arch.qex");
    EXPECT_EQ(recordedAdd.other, u"-src dir");
    EXPECT_EQ(recordedExtract.calls, 0);
}

TEST(CommandLineDispatch, ExtractTargetDefaultsToCurrentFolder) {
    auto run = runInProcess({"x", "1.qex"});
    EXPECT_EQ(run.exitCode, 6);
    EXPECT_EQ(run.out, "x command\n");
    EXPECT_EQ(recordedExtract.archive, u"1.qex");
    EXPECT_EQ(recordedExtract.other, u".");
    run = runInProcess({"x", "1.qex", "out", "ignored"});
    EXPECT_EQ(recordedExtract.other, u"out");
}

// Linux hands over bytes; Windows hands over UTF-16, which has no
// undecodable bytes to escape.
#ifndef _WIN32
TEST(CommandLineDispatch, PathsArriveAsUtf16WithUndecodableBytesEscaped) {
    // A long path, a supplementary character and an invalid byte all pass
    // through whole; the invalid byte 0xFF becomes the unit 0xDCFF.
    const std::string longPath(400, 'p');
    runInProcess({"a", longPath, "d\xF0\x9F\x98\x80\xFF"});
    EXPECT_EQ(recordedAdd.archive, std::u16string(400, u'p'));
    EXPECT_EQ(recordedAdd.other, std::u16string({'d', 0xD83D, 0xDE00, 0xDCFF}));
}
#endif

TEST(CommandLineDispatch, EmptyArgumentListPrintsBanner) {
    std::vector<std::u16string> none;
    std::FILE* out = std::tmpfile();
    FrontEnd fe;
    fe.buildStamp = "01.02.2003 04:05";
    fe.out = out;
    EXPECT_EQ(runCommandLine(none, fe), 0);
    EXPECT_GT(std::ftell(out), 0);
    std::fclose(out);
}

TEST(ArgumentText, HoldsUtf8OfTheFirst255UnitsInZeroedBuffer) {
    const ArgumentText small = makeArgumentText(u"-m\u00E9");
    EXPECT_STREQ(small.data(), "-m\xC3\xA9");
    for (size_t i = 5; i < kArgumentTextBytes; ++i) ASSERT_EQ(small[i], 0);
    // 300 ASCII units: exactly 255 bytes and a zero.
    const ArgumentText ascii = makeArgumentText(std::u16string(300, u'a'));
    EXPECT_EQ(std::string(ascii.data()), std::string(255, 'a'));
    // 200 two-byte characters (400 bytes): whole characters up to 254 bytes.
    const ArgumentText wide = makeArgumentText(std::u16string(200, u'\u00E9'));
    EXPECT_EQ(std::strlen(wide.data()), 254u);
    EXPECT_EQ(wide[255], 0);
    // A lone surrogate shows as U+FFFD.
    EXPECT_STREQ(makeArgumentText(std::u16string({'-', 0xDCFF})).data(), "-\xEF\xBF\xBD");
}

TEST(BuildStamp, FilledFromCompilerDateAndTime) {
    EXPECT_STREQ(makeBuildStamp("Jul 16 2010", "18:29:05").data(), "16.07.2010 18:29");
    EXPECT_STREQ(makeBuildStamp("Jan  1 2026", "00:00:59").data(), "01.01.2026 00:00");
    EXPECT_STREQ(makeBuildStamp("Dec 31 1999", "23:59:00").data(), "31.12.1999 23:59");
}

}  // namespace
}  // namespace qex
