// "-" for the standard streams, through the executable: an archive read
// from standard input (spooled, then handled as a file), an archive written
// to standard output, and extraction of files' contents to standard output,
// with all console text on standard error whenever standard output carries
// data.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/archive_builder.h"
#include "support/file_bytes.h"
#include "support/run_process.h"
#include "support/scratch_folder.h"

namespace qex::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// d/a.txt, d/b.txt and an empty top-level file, in that order.
ArchiveBuilder smallTree() {
    ArchiveBuilder b;
    b.folder(0, u"d").file(1, u"a.txt", "hello\n").file(1, u"b.txt", "world\n").file(0, u"e", "");
    return b;
}

ProcessResult qexWithInput(std::vector<std::string> args, const std::string& input) {
    args.insert(args.begin(), QEX_EXE);
    return runProcess(args, {.workingDir = {}, .input = input});
}

TEST(StandardStreams, ArchiveFromStandardInputIsHandledAsAFileAndOneToStandardOutputIsTheArchiveAlone) {
    const ScratchFolder scratch;
    const std::string archive = smallTree().text();
    ProcessResult r = qexWithInput({"l", "-"}, archive);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("d/b.txt"));
    r = qexWithInput({"t", "-"}, archive);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = qexWithInput({"x", "-", scratch.root().string()}, archive);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(scratch.root() / "d" / "b.txt"), "world\n");
    // Not an archive: said of "-", as of any file.
    r = qexWithInput({"l", "-"}, "not an archive");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.err, HasSubstr("not a qex archive (or its end is missing) \"-\""));
    // An archive written to standard output is the archive alone: it extracts from a pipe.
    fs::create_directories(scratch.root() / "src");
    writeFileBytes(scratch.root() / "src" / "a.txt", "some text");
    const ProcessResult made = qexWithInput({"a", "-", (scratch.root() / "src").string()}, "");
    EXPECT_EQ(made.exitCode, 0) << made.err;
    EXPECT_THAT(made.err, HasSubstr("a command"));
    r = qexWithInput({"x", "-", "-"}, made.out);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "some text");
}

TEST(StandardStreams, ContentsGoToStandardOutputAloneInArchiveOrder) {
    const ScratchFolder scratch;
    ArchiveBuilder b = smallTree();
    const fs::path archive = scratch.root() / "x.qex";
    writeFileBytes(archive, b.text());
    ProcessResult r = qexWithInput({"x", archive.string(), "-"}, "");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "hello\nworld\n");
    EXPECT_THAT(r.err, HasSubstr("x command"));
    r = qexWithInput({"x", archive.string(), "-", "d/b.txt"}, "");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "world\n");
    // Nothing was created in the current folder or beside the archive.
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.root()), fs::directory_iterator()), 1);
    // A file that fails its check values: its bytes are out already; the
    // run stops there and says so.
    b.entries[1].crc ^= 1;
    writeFileBytes(archive, b.text());
    r = qexWithInput({"x", archive.string(), "-"}, "");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "hello\n");
    EXPECT_THAT(r.err, HasSubstr("damaged archive: the file \"d/a.txt\""));
}

}  // namespace
}  // namespace qex::test
