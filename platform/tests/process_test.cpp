// Starting programs and waiting for them.
#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace lumarc::platform {
namespace {

using namespace std::chrono_literals;

std::string child()
{
    return (programFolder() / "platform_test_child").string();
}

TEST(ProcessIdle, ReturnsForAProgramBlockedInRead)
{
    auto process = Process::start({child(), "block-read"});
    ASSERT_TRUE(process) << process.error().text;
    EXPECT_EQ(process->waitForInputIdle(5s), IdleWait::Idle);
    EXPECT_TRUE(process->running());
    ASSERT_TRUE(process->terminate());
    EXPECT_EQ(process->wait(5s), 128 + 15);
}

TEST(ProcessIdle, TimesOutForAProgramThatSpins)
{
    auto process = Process::start({child(), "spin"});
    ASSERT_TRUE(process);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(process->waitForInputIdle(300ms), IdleWait::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 300ms);
    ASSERT_TRUE(process->terminate(9));
    EXPECT_EQ(process->wait(5s), 128 + 9);
}

TEST(ProcessIdle, ReportsAProgramThatEnded)
{
    auto process = Process::start({child(), "exit", "3"});
    ASSERT_TRUE(process);
    EXPECT_EQ(process->wait(5s), 3);
    EXPECT_EQ(process->waitForInputIdle(1s), IdleWait::Ended);
    EXPECT_FALSE(process->running());
}

TEST(ProcessStart, RunsInTheGivenFolderWithArgumentsPassedVerbatim)
{
    lumarc::testing::TempFolder dir;
    const auto out = dir / "cwd; rm -rf nothing.txt";
    auto process = Process::start({child(), "cwd", out.string()}, dir.path());
    ASSERT_TRUE(process);
    EXPECT_EQ(process->wait(5s), 0);
    auto text = readWholeFile(out);
    ASSERT_TRUE(text) << "the argument reached the program as one word";
    EXPECT_EQ(std::filesystem::path(*text), std::filesystem::canonical(dir.path()));
}

TEST(ProcessStart, FailsWithTheWin32CodeOfTheReason)
{
    auto missing = Process::start({"/nonexistent/program"});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, 2u);

    lumarc::testing::TempFolder dir;
    std::ofstream(dir / "data.txt") << "not a program";
    std::filesystem::permissions(dir / "data.txt", std::filesystem::perms(0755));
    auto notAProgram = Process::start({(dir / "data.txt").string()});
    ASSERT_FALSE(notAProgram);
    EXPECT_EQ(notAProgram.error().code, 193u);

    EXPECT_FALSE(Process::start({}));
}

} // namespace
} // namespace lumarc::platform
