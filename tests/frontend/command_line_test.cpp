// The command line: switch scan, command words, banner and exit codes,
// through the real executable where output and exit codes matter, and in
// process (with stand-in commands) where the paths handed on matter.
#include "frontend/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "frontend/archive_fixture.h"
#include "frontend/banner.h"
#include "platform/text_conversion.h"

namespace qex {
namespace {

std::string bannerWith(const std::string& stamp) {
    // Template line, maker line, empty line, usage and one more line end.
    return "QEX version 03-alpha [" + stamp + "]\nqex authors, free software\n\n" + kUsageText + "\n";
}

using test::runQex;

// The build stamp ("dd.mm.yyyy hh:mm") the executable prints between the
// first line's brackets; empty when the output does not begin so.
std::string stampOf(const std::string& out) {
    static const std::regex head(
        R"(^QEX version 03-alpha \[([0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9]{2}:[0-9]{2})\]\n)");
    std::smatch found;
    return std::regex_search(out, found, head) ? found[1].str() : "";
}

std::string banner() {
    static const std::string text = bannerWith(stampOf(runQex({}).out));
    return text;
}

// What a usage error prints on standard error.
std::string usageError(const std::string& problem) { return "qex: " + problem + "\nTry 'qex --help'.\n"; }

TEST(CommandLineExecutable, NoArgumentsPrintTheBannerWithUsageOfEveryCommandInThisSystemsPaths) {
    const auto r = runQex({});
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_NE(stampOf(r.out), "") << r.out;
    EXPECT_EQ(r.out, bannerWith(stampOf(r.out)));
    EXPECT_EQ(r.err, "");
    // "/?" is help on Windows only; on Linux it is no command.
    const auto help = runQex({"/?"});
#ifdef _WIN32
    const char* example = "C:\\Users\\alice";
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out, r.out);
#else
    const char* example = "qex a home.qex /home/alice/ --";
    EXPECT_EQ(r.out.find(":\\"), std::string::npos);
    EXPECT_EQ(help.exitCode, 2);
#endif
    for (const char* part : {"\"a\" command", "\"x\" command", "\"t\" command", "\"l\" command", example})
        EXPECT_NE(r.out.find(part), std::string::npos) << part;
    EXPECT_EQ(r.out.find("QUIRK"), std::string::npos);
    EXPECT_EQ(r.out.find("NOT IMPLEMENTED"), std::string::npos);
}

TEST(CommandLineExecutable, SwitchesAnywhereAreEchoedWithValuesReadLikeAtoiAndRemoved) {
    // -o without digits gives 0, -r12x stops at the x, -m-5 keeps its sign;
    // white space and a plus sign may lead. No command follows: a usage error.
    auto r = runQex({"-o", "-r12x", "-m-5", "-m 42", "-o+7", "-r99999999999", "-m-99999999999"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "order switch: 0\nrestore switch: 12\nmemory switch: -5\nmemory switch: 42\n"
                     "order switch: 7\nrestore switch: 2147483647\nmemory switch: -2147483648\n");
    EXPECT_EQ(r.err, usageError("no command given"));
    // Before the command, between command and path, after the path: the
    // command runs exactly as without them (list of a missing archive).
    r = runQex({"l", "-o3", "1.qex", "-r1"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "order switch: 3\nrestore switch: 1\nl command\n");
    EXPECT_EQ(r.err.rfind("qex: cannot open archive \"1.qex\": ", 0), 0u) << r.err;
}

TEST(CommandLineExecutable, HelpAndVersionPrintOnStandardOutputAndExitZero) {
    for (const char* help : {"-h", "--help"}) {
        const auto r = runQex({"l", help, "1.qex"});
        EXPECT_EQ(r.exitCode, 0) << help;
        EXPECT_EQ(r.out, banner()) << help;
        EXPECT_EQ(r.err, "") << help;
    }
    // One line; its version is the banner's ("03" there).
    for (const char* version : {"-V", "--version"}) {
        const auto r = runQex({"-m5", version});
        EXPECT_EQ(r.exitCode, 0) << version;
        EXPECT_EQ(r.err, "") << version;
        EXPECT_EQ(r.out, "qex 0.3 (built " + stampOf(banner()) + ")\n") << version;
    }
}

TEST(CommandLineExecutable, UsageErrorsSayWhatIsWrongOnStandardErrorAndExitTwo) {
    const test::ScratchFolder scratch;
    const std::filesystem::path& dir = scratch.root();
    ASSERT_FALSE(dir.empty());
    const struct { std::vector<std::string> args; std::string out, problem; } cases[] = {
        // Nothing is echoed when the switches themselves are wrong.
        {{"-m8", "-k", "a", "b.qex", "src"}, "", "unknown switch \"-k\""},
        // Only "--" alone or with a number stops the switches: every other
        // long word is a switch, known or not.
        {{"a", "b.qex", "src", "--exclud=*.key"}, "", "unknown switch \"--exclud=*.key\""},
        {{"--helpme"}, "", "unknown switch \"--helpme\""},
        {{"--5x", "l", "1.qex"}, "", "unknown switch \"--5x\""},
        {{"a", "b.qex", "src", "-x"}, "", "the switch \"-x\" needs a pattern"},
        {{"a", "b.qex", "src", "--exclude="}, "", "the switch \"--exclude\" needs a pattern"},
        {{"a", "b.qex", "--files-from"}, "", "the switch \"--files-from\" needs a file name"},
        {{"l", "1.qex", "--exclude=*.o"}, "", "the switch \"--exclude\" is for the \"a\" command only"},
        {{"-f", "x", "1.qex"}, "", "the switch \"-f\" is for the \"a\" command only"},
        {{"-Tlist", "t", "1.qex"}, "", "the switch \"-T\" is for the \"a\" command only"},
        // A lone minus sign is an argument, here where the command should be.
        {{"-", "l", "1.qex"}, "", "unknown command \"-\""},
        {{"add", "1.qex", "src"}, "", "unknown command \"add\""},
        {{"A", "1.qex", "src"}, "", "unknown command \"A\""},
        {{"c", "1.qex", "src"}, "", "unknown command \"c\""},
        {{"a", "1.qex"}, "", "the command \"a\" needs a source path after the archive"},
        {{"x"}, "", "the command \"x\" needs an archive path"},
        {{"l", "1.qex", "more"}, "", "the command \"l\" takes no path after the archive"},
        {{"t", "1.qex", "more"}, "", "the command \"t\" takes no path after the archive"},
        {{"--7", "-q"}, "stop switch: 7\n", "unknown command \"-q\""},
        {{"-q", "--7", "-q"}, "", "unknown command \"-q\""},
        // An empty path (an unset variable) never means the current folder.
        {{"a", "b.qex", ""}, "", "the command \"a\" was given an empty path"},
        {{"a", "b.qex", "src", ""}, "", "the command \"a\" was given an empty path"},
        {{"x", "b.qex", ""}, "", "the command \"x\" was given an empty path"},
        {{"a", "", "src"}, "", "the archive path is empty"},
    };
    for (const auto& c : cases) {
        const auto r = runQex(c.args, dir.string());
        EXPECT_EQ(r.exitCode, 2) << c.problem;
        EXPECT_EQ(r.out, c.out) << c.problem;
        EXPECT_EQ(r.err, usageError(c.problem));
        EXPECT_TRUE(std::filesystem::is_empty(dir)) << c.problem;
    }
}

TEST(CommandLineExecutable, LongArgumentsAreDecidedByTheUtf8OfTheirFirst255Units) {
    // Two-byte characters whose UTF-8 form exceeds the text buffer still read
    // as the switch; the command word is its first 255 characters.
    std::string wide = "-r3";
    for (int i = 0; i < 300; ++i) wide += "\xC3\xA9";
    const auto r = runQex({wide, std::string("l").append(400, ' '), "1.qex"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "restore switch: 3\n");
    EXPECT_EQ(r.err, usageError("unknown command \"l" + std::string(254, ' ') + "\""));
    // The text each argument is read from: UTF-8 of its first 255 units in a zeroed buffer.
    const ArgumentText small = makeArgumentText(u"-m\u00E9");
    EXPECT_STREQ(small.data(), "-m\xC3\xA9");
    for (size_t i = 5; i < kArgumentTextBytes; ++i) ASSERT_EQ(small[i], 0);
    // 200 two-byte characters (400 bytes): whole characters up to 254 bytes.
    const ArgumentText twoByte = makeArgumentText(std::u16string(200, u'\u00E9'));
    EXPECT_EQ(std::strlen(twoByte.data()), 254u);
    EXPECT_EQ(twoByte[255], 0);
    // A lone surrogate shows as U+FFFD.
    EXPECT_STREQ(makeArgumentText(std::u16string({'-', 0xDCFF})).data(), "-\xEF\xBF\xBD");
}

// In process: which paths reach the commands.

struct Recorded {
    int calls = 0;
    std::u16string archive;
    std::vector<std::u16string> paths;
    CommandOptions options;
    bool quiet = false;
};
Recorded recordedAdd, recordedExtract;

// A stand-in command: records what it was given, returns `exitCode`.
template <Recorded& recorded, int exitCode>
int standIn(const std::u16string& a, const std::vector<std::u16string>& paths, const CommandOptions& options,
            ConsoleOutput& console) {
    recorded = {recorded.calls + 1, a, paths, options, console.quiet};
    return exitCode;
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
    fe.add = standIn<recordedAdd, 5>;
    fe.extract = standIn<recordedExtract, 6>;
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

TEST(CommandLineDispatch, AddGetsArchiveEverySourceEverySwitchValueWholeAndInOrderAndItsExitCode) {
    auto run = runInProcess({"-m1", "a", "--", "-arch.qex", "-src dir", "second", "third/"});
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_EQ(run.out, "memory switch: 1\nstop switch: 0\na command\n");
    EXPECT_EQ(recordedAdd.calls, 1);
    EXPECT_EQ(recordedAdd.archive, u"-arch.qex");
    EXPECT_EQ(recordedAdd.paths, (std::vector<std::u16string>{u"-src dir", u"second", u"third/"}));
    EXPECT_EQ(recordedExtract.calls, 0);
    // Switch values joined or separate, long or short; a list of paths stands in for the sources.
    run = runInProcess({"a", "--exclude=*.o", "x.qex", "-x", "b c", "--exclude-from", "pats", "-T-", "--null",
                             "--files-from=more", "-f", "--exclude-vcs", "-x--"});
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_EQ(run.out, "a command\n");
    EXPECT_EQ(recordedAdd.archive, u"x.qex");
    EXPECT_TRUE(recordedAdd.paths.empty());
    const CommandOptions& o = recordedAdd.options;
    EXPECT_EQ(o.excludes, (std::vector<std::u16string>{u"*.o", u"b c", u"--"}));
    EXPECT_EQ(o.excludeFiles, (std::vector<std::u16string>{u"pats"}));
    EXPECT_EQ(o.fileLists, (std::vector<std::u16string>{u"-", u"more"}));
    EXPECT_TRUE(o.nullSeparated && o.force && o.excludeVcs);
    EXPECT_FALSE(recordedAdd.quiet);
}

TEST(CommandLineDispatch, ExtractGetsTargetAndItemsAndQuietPrintsNeitherEchoesNorTheCommandName) {
    auto run = runInProcess({"x", "1.qex"});
    EXPECT_EQ(run.exitCode, 6);
    EXPECT_EQ(run.out, "x command\n");
    EXPECT_EQ(recordedExtract.archive, u"1.qex");
    EXPECT_TRUE(recordedExtract.paths.empty());
    EXPECT_FALSE(recordedExtract.quiet);
    run = runInProcess({"-m1", "x", "--quiet", "1.qex", "out", "a/b", "--", "-q"});
    EXPECT_EQ(run.exitCode, 6);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(recordedExtract.quiet);
    EXPECT_EQ(recordedExtract.paths, (std::vector<std::u16string>{u"out", u"a/b", u"-q"}));
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
    EXPECT_EQ(recordedAdd.paths.at(0), std::u16string({'d', 0xD83D, 0xDE00, 0xDCFF}));
}
#endif

TEST(BuildStamp, FilledFromCompilerDateAndTimeOrFromSourceDateEpochInUtc) {
    EXPECT_STREQ(makeBuildStamp("Jul 16 2010", "18:29:05").data(), "16.07.2010 18:29");
    EXPECT_STREQ(makeBuildStamp("Jan  1 2026", "00:00:59").data(), "01.01.2026 00:00");
    EXPECT_STREQ(makeBuildStamp("Dec 31 1999", "23:59:00").data(), "31.12.1999 23:59");
    EXPECT_STREQ(makeBuildStampFromEpoch(0).data(), "01.01.1970 00:00");
    // 1279304945 = 2010-07-16 18:29:05 UTC; 951782400 = 2000-02-29 00:00
    // (a leap day of a century divisible by 400); 4107542340 = 2100-02-28 23:59.
    EXPECT_STREQ(makeBuildStampFromEpoch(1279304945).data(), "16.07.2010 18:29");
    EXPECT_STREQ(makeBuildStampFromEpoch(951782400).data(), "29.02.2000 00:00");
    EXPECT_STREQ(makeBuildStampFromEpoch(4107542340).data(), "28.02.2100 23:59");
}

}  // namespace
}  // namespace qex
