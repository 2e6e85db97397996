// The add walk against a file system that moves under it: items swapped
// after their folder was listed and before they are opened (the walk held
// at its hook) are neither read nor stored.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "frontend/add_command.h"
#include "frontend/archive_fixture.h"
#include "platform/text_conversion.h"
#include "support/file_bytes.h"

namespace qex::test {
namespace {

using ::testing::HasSubstr;

TEST(AddWalkRace, ItemsSwappedAfterListingAreNeitherReadNorStored) {
    ScratchFolder scratch;
    const fs::path src = scratch.root() / "src";
    const fs::path secret = scratch.root() / "secret";
    fs::create_directories(src / "d_folder");
    fs::create_directories(secret);
    writeFileBytes(secret / "key", "SECRET");
    for (const char* name : {"a_kept", "b_link", "c_fifo", "e_other"}) writeFileBytes(src / name, "plain");
    writeFileBytes(src / "d_folder" / "inner", "plain");

    AddWalkHooks hooks;
    hooks.afterListing = [&](const std::string& folder) {
        if (folder != src.string() + "/") return;
        fs::remove(src / "b_link");
        fs::create_symlink(secret / "key", src / "b_link");
        fs::remove(src / "c_fifo");
        ASSERT_EQ(::mkfifo((src / "c_fifo").c_str(), 0600), 0);  // no writer ever comes
        fs::remove_all(src / "d_folder");
        fs::create_directory_symlink(secret, src / "d_folder");
        writeFileBytes(scratch.root() / "other", "SECRET");  // another file, renamed over it
        fs::rename(scratch.root() / "other", src / "e_other");
    };
    const fs::path archive = scratch.root() / "a.qex";
    ConsoleOutput console;
    console.stream = std::tmpfile();
    ::testing::internal::CaptureStderr();
    const int exitCode = runAddWithHooks(nativeToUtf16(archive.string()), {nativeToUtf16(src.string())}, CommandOptions{}, console,
                                         hooks);
    const std::string err = ::testing::internal::GetCapturedStderr();
    std::fclose(console.stream);

    EXPECT_EQ(exitCode, 1) << err;
    for (const char* name : {"b_link", "c_fifo", "d_folder", "e_other"})
        EXPECT_THAT(err, HasSubstr("qex: \"" + (src / name).string() +
                                   "\" changed after it was listed: it is no longer the same file (not stored)"));
    const ProcessResult listing = runQex({"l", archive.string()});
    EXPECT_EQ(listing.exitCode, 0) << listing.err;
    EXPECT_THAT(listing.out, HasSubstr(" src/a_kept\n"));
    EXPECT_THAT(listing.out, HasSubstr("\n1 file, 1 folder, 5 bytes;"));
}

}  // namespace
}  // namespace qex::test
