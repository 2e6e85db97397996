// Builds without the add and extract commands say so and fail: the command
// name on standard output, one line on standard error, exit code 2.
#include <gtest/gtest.h>

#include "support/run_process.h"

namespace qex {
namespace {

TEST(UnavailableCommands, AddAndExtractFailWithOneLineOnStandardError) {
    auto r = test::runProcess({QEX_EXE, "a", "1.qex", "src"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "a command\n");
    EXPECT_EQ(r.err, "qex: the add command is not available in this build\n");
    r = test::runProcess({QEX_EXE, "-r0", "x", "1.qex"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "restore switch: 0\nx command\n");
    EXPECT_EQ(r.err, "qex: the extract command is not available in this build\n");
}

}  // namespace
}  // namespace qex
