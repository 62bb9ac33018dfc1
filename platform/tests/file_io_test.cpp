// Whole-file reads: the size limit holds for regular files and for special
// files whose size the system does not know.
#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumarc::platform {
namespace {

using lumarc::testing::TempFolder;

constexpr size_t kLimit = 1000;

struct SizeCase {
    size_t bytes;
    bool accepted;
};

void PrintTo(const SizeCase& c, std::ostream* os)
{
    *os << c.bytes << " bytes";
}

class ReadLimit : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ReadLimit, AcceptsFilesUpToTheLimitAndRefusesLongerOnes)
{
    TempFolder dir;
    const std::string content(GetParam().bytes, 'a');
    std::ofstream(dir / "f", std::ios::binary) << content;
    const auto read = readWholeFile(dir / "f", kLimit);
    ASSERT_EQ(read.ok(), GetParam().accepted) << GetParam().bytes << " bytes";
    if (read) {
        EXPECT_EQ(*read, content);
    } else {
        EXPECT_EQ(read.error().code, win32::kFileTooLarge);
        EXPECT_NE(read.error().text.find((dir / "f").string()), std::string::npos)
            << read.error().text;
        EXPECT_NE(read.error().text.find("1000 bytes"), std::string::npos) << read.error().text;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReadLimit,
                         ::testing::Values(SizeCase{0, true}, SizeCase{1, true},
                                           SizeCase{kLimit - 1, true}, SizeCase{kLimit, true},
                                           SizeCase{kLimit + 1, false},
                                           SizeCase{64 * 1024 + 7, false}));

TEST(ReadLimit, EndlessDevicesAreRefusedAfterTheLimit)
{
    for (const char* device : {"/dev/zero", "/dev/urandom"}) {
        const auto read = readWholeFile(device, 3 * 65536 + 5);
        ASSERT_FALSE(read) << device;
        EXPECT_EQ(read.error().code, win32::kFileTooLarge) << device;
    }
    const auto empty = readWholeFile("/dev/null", 0);
    ASSERT_TRUE(empty) << empty.error().text;
    EXPECT_EQ(*empty, "");
}

TEST(ReadLimit, AFifoFedWithoutEndIsRefusedAfterTheLimit)
{
    TempFolder dir;
    const auto fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The writer writes until the reader goes away; then SIGPIPE ends it.
    const pid_t writer = ::fork();
    if (writer == 0) {
        ::signal(SIGPIPE, SIG_DFL);
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        const std::string chunk(4096, 'f');
        while (fd >= 0 && ::write(fd, chunk.data(), chunk.size()) > 0) {
        }
        ::_exit(0);
    }
    ASSERT_GT(writer, 0);
    const auto read = readWholeFile(fifo, 100000);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().code, win32::kFileTooLarge);
    int status = 0;
    ::waitpid(writer, &status, 0);
}

TEST(ReadLimit, AMissingFileIsFileNotFound)
{
    TempFolder dir;
    const auto read = readWholeFile(dir / "none", kLimit);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().code, win32::kFileNotFound);
}

TEST(ReadHead, TakesTheFirstBytesOfLongerFilesAndAllOfShorterOnes)
{
    TempFolder dir;
    std::ofstream(dir / "f") << std::string(2500, 'a') << 'b';
    for (const size_t limit : {size_t{0}, size_t{1}, size_t{2500}, size_t{2501}, size_t{4096}}) {
        const auto head = readFileHead(dir / "f", limit);
        ASSERT_TRUE(head) << limit;
        EXPECT_EQ(head->size(), std::min<size_t>(limit, 2501)) << limit;
    }
    EXPECT_EQ(readFileHead("/dev/zero", 70000)->size(), 70000u) << "an endless device is cut";
    EXPECT_EQ(readFileHead(dir / "none", 10).error().code, win32::kFileNotFound);
}

TEST(FileReader, ReadsAtOffsetsAndStopsAtTheEnd)
{
    TempFolder dir;
    std::ofstream(dir / "f") << "0123456789";
    auto file = FileReader::open(dir / "f");
    ASSERT_TRUE(file);
    uint8_t out[4] = {};
    EXPECT_EQ(*file->readAt(3, out), 4u);
    EXPECT_EQ(std::string(out, out + 4), "3456");
    EXPECT_EQ(*file->readAt(8, out), 2u) << "short at the end";
    EXPECT_EQ(*file->readAt(100, out), 0u) << "past the end";
    EXPECT_EQ(*file->readAt(UINT64_MAX - 1, out), 0u) << "an offset no file reaches";
    EXPECT_EQ(FileReader::open(dir / "none").error().code, win32::kFileNotFound);
}

} // namespace
} // namespace lumarc::platform
