// Platform file services: reads short only at the end, writes that notice a
// full disk, FILETIME conversion, time stamps, the read-only bit, the poll sleep.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/file_attributes.h"
#include "platform/file_io.h"
#include "platform/file_times.h"
#include "support/scratch_folder.h"

namespace qex {
namespace {

class FileServicesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(scratch_.root().empty()); }
    std::string path(const std::string& name) const { return (scratch_ / name).native(); }
    // The permission bits of an open file; ~0 when they cannot be read.
    static mode_t modeOf(int fd) {
        struct stat info;
        return ::fstat(fd, &info) == 0 ? info.st_mode & 07777 : ~mode_t{0};
    }

    test::ScratchFolder scratch_;
};

TEST_F(FileServicesTest, ReadIsShortOnlyAtTheEndOfTheDataAndANamedPipeOpensWithoutAWriter) {
    // A pipe delivers its data in two pieces; the read still fills up to the end.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    std::thread producer([&] {
        const uint8_t piece[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        EXPECT_TRUE(writeAll(ends[1], piece, sizeof piece).ok());
        // The second piece only once the reader has taken the first.
        int waiting = 1;
        while (::ioctl(ends[0], FIONREAD, &waiting) == 0 && waiting != 0) std::this_thread::yield();
        EXPECT_TRUE(writeAll(ends[1], piece, sizeof piece).ok());
        ::close(ends[1]);
    });
    uint8_t buffer[100];
    EXPECT_EQ(readFull(ends[0], buffer, sizeof buffer).value, 20u);
    EXPECT_EQ(buffer[19], 10);
    EXPECT_EQ(readFull(ends[0], buffer, sizeof buffer).value, 0u);
    producer.join();
    ::close(ends[0]);

    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
    const SystemResult<FileHandle> file = openForRead(path("pipe").c_str());
    ASSERT_TRUE(file.ok()) << systemReason(file.error);
    const SystemResult<size_t> read = readFull(file.value, buffer, sizeof buffer);
    EXPECT_TRUE(read.ok());
    EXPECT_EQ(read.value, 0u);  // no writer: at its end
    EXPECT_TRUE(closeFile(file.value).ok());
}

TEST_F(FileServicesTest, CreateReplacesWriteReadSeekAndSizeAndFailuresCarryTheSystemReason) {
    SystemResult<FileHandle> file = createForWrite(path("file").c_str());
    ASSERT_TRUE(file.ok()) << systemReason(file.error);
    const uint8_t data[5] = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_TRUE(writeAll(file.value, data, sizeof data).ok());
    EXPECT_EQ(fileSize(file.value).value, 5);
    EXPECT_TRUE(closeFile(file.value).ok());

    file = createForWrite(path("file").c_str());  // an existing file is emptied
    EXPECT_EQ(fileSize(file.value).value, 0);
    EXPECT_TRUE(writeAll(file.value, data, 3).ok());
    EXPECT_TRUE(closeFile(file.value).ok());

    file = openForRead(path("file").c_str());
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(seekTo(file.value, 2).value, 2);
    uint8_t byte = 0;
    EXPECT_EQ(readFull(file.value, &byte, 1).value, 1u);
    EXPECT_EQ(byte, 'l');
    EXPECT_EQ(seekTo(file.value, 0).value, 0);
    EXPECT_TRUE(closeFile(file.value).ok());

    // New files get 0666 less the umask, as any file the user makes.
    const mode_t mask = ::umask(022);
    file = createForWrite(path("fresh").c_str());
    EXPECT_TRUE(closeFile(file.value).ok());
    ::umask(mask);
    struct stat info;
    ASSERT_EQ(::stat(path("fresh").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);

    // Failures carry the system's reason.
    const SystemResult<FileHandle> missing = openForRead(path("missing").c_str());
    EXPECT_EQ(missing.value, kNoFile);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_EQ(systemReason(missing.error), "No such file or directory");
    const SystemResult<FileHandle> unmade = createForWrite(path("missing/file").c_str());
    EXPECT_EQ(unmade.value, kNoFile);
    EXPECT_EQ(unmade.error, ENOENT);

    // A full device: the write must fail, not pretend.
    const SystemResult<FileHandle> full = createForWrite("/dev/full");
    ASSERT_TRUE(full.ok());
    const uint8_t zeros[100] = {};
    EXPECT_EQ(writeAll(full.value, zeros, sizeof zeros).error, ENOSPC);
    EXPECT_TRUE(closeFile(full.value).ok());
}

// Exact conversions are checked where times are listed and set; here the edges.
TEST(FileTimes, FinerPartsThanATickAreDroppedAndTheEndsClamp) {
    // 1970-01-01 is 116,444,736,000,000,000 ticks of 100 ns after 1601-01-01.
    EXPECT_EQ(timespecToFileTime(timespec{1, 199}), 116444736000000000u + 10000001);
    // 1601 itself and the far ends clamp instead of wrapping.
    EXPECT_EQ(fileTimeToTimespec(0).tv_sec, -11644473600);
    EXPECT_EQ(timespecToFileTime(timespec{-11644473601, 0}), 0u);
    EXPECT_EQ(timespecToFileTime(fileTimeToTimespec(UINT64_MAX)), UINT64_MAX);  // the latest FILETIME fits
    EXPECT_EQ(timespecToFileTime(timespec{INT64_MAX, 0}), UINT64_MAX);
}

TEST_F(FileServicesTest, TimesAreSetOnTheHandleAndZeroLeavesATimeAlone) {
    const FileHandle file = createForWrite(path("file").c_str()).value;
    const uint64_t write = timespecToFileTime(timespec{1600000000, 123456700});
    EXPECT_TRUE(setFileTimes(file, 0, timespecToFileTime(timespec{1700000000, 0}), write).ok());
    struct stat info;
    ASSERT_EQ(::fstat(file, &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(info.st_mtim.tv_nsec, 123456700);
    EXPECT_EQ(info.st_atim.tv_sec, 1700000000);
    EXPECT_TRUE(setFileTimes(file, 0, 0, timespecToFileTime(timespec{1500000000, 0})).ok());
    ASSERT_EQ(::fstat(file, &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1500000000);
    EXPECT_EQ(info.st_atim.tv_sec, 1700000000);  // 0: not stored, not changed
    EXPECT_TRUE(closeFile(file).ok());
}

TEST_F(FileServicesTest, ReadOnlyBitRemovesEveryWriteBitOfFilesOnly) {
    FileHandle file = createForWrite(path("file").c_str()).value;
    ASSERT_EQ(::fchmod(file, 0664), 0);
    EXPECT_TRUE(applyFileAttributes(file, 0x20).ok());  // archive bit only: nothing changes
    EXPECT_EQ(modeOf(file), 0664u);
    EXPECT_TRUE(applyFileAttributes(file, kAttributeReadOnly | 0x20).ok());
    EXPECT_EQ(modeOf(file), 0444u);
    const uint8_t byte = 1;
    EXPECT_TRUE(writeAll(file, &byte, 1).ok());  // the open handle still writes
    EXPECT_TRUE(closeFile(file).ok());

    std::filesystem::create_directory(scratch_ / "folder");
    ::chmod(path("folder").c_str(), 0755);
    const int folder = ::open(path("folder").c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_TRUE(applyFileAttributes(folder, kAttributeReadOnly | kAttributeDirectory).ok());
    EXPECT_EQ(modeOf(folder), 0755u);
    ::close(folder);
}

TEST(Clock, TickCountsTheMillisecondsSlept) {
    // Differences of ticks are taken modulo 2^32, as the speed figure does.
    constexpr uint32_t kSleep = 20;
    const uint32_t before = tickMilliseconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(kSleep));
    const uint32_t elapsed = tickMilliseconds() - before;
    EXPECT_GE(elapsed, kSleep);
    EXPECT_LT(elapsed, 1u << 31);  // not a wrapped negative difference
}

}  // namespace
}  // namespace qex
