// Named mutexes and shared memory across processes.
#include "platform/folders.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <thread>

namespace lumarc::platform {
namespace {

using namespace std::chrono_literals;

class NamedObjects : public ::testing::Test {
protected:
    lumarc::testing::SandboxEnvironment m_sandbox;
};

// A child process that holds a named mutex until killed; returns its pid
// once the mutex exists.
pid_t holdInChild(const std::string& name, bool* childSawExisting = nullptr)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        const std::string program = (programFolder() / "platform_test_child").string();
        ::execl(program.c_str(), program.c_str(), "hold-mutex", name.c_str(), nullptr);
        ::_exit(127);
    }
    ::close(fds[1]);
    char line[32] = {};
    const ssize_t n = ::read(fds[0], line, sizeof line - 1);
    ::close(fds[0]);
    if (n <= 0)
        return -1;
    if (childSawExisting != nullptr)
        *childSawExisting = std::string(line).find("ready 1") == 0;
    return pid;
}

TEST_F(NamedObjects, SecondHolderLearnsTheMutexAlreadyExisted)
{
    EXPECT_FALSE(NamedMutex::exists("Drovik32MutexObject"));
    auto first = NamedMutex::create("Drovik32MutexObject");
    ASSERT_TRUE(first) << first.error().text;
    EXPECT_FALSE(first->alreadyExisted());
    EXPECT_TRUE(NamedMutex::exists("Drovik32MutexObject"));

    auto second = NamedMutex::create("Drovik32MutexObject");
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->alreadyExisted());
    EXPECT_FALSE(NamedMutex::exists("drovik32mutexobject")) << "names are case-sensitive";

    *first = std::move(*second); // the first closes; the name still has a holder
    EXPECT_TRUE(NamedMutex::exists("Drovik32MutexObject"));
}

TEST_F(NamedObjects, NameIsFreeAgainAfterItsHolderIsKilled)
{
    const pid_t holder = holdInChild("KickletMutexObject");
    ASSERT_GT(holder, 0);
    EXPECT_TRUE(NamedMutex::exists("KickletMutexObject"));
    {
        auto mine = NamedMutex::create("KickletMutexObject");
        ASSERT_TRUE(mine);
        EXPECT_TRUE(mine->alreadyExisted());
    }
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_FALSE(NamedMutex::exists("KickletMutexObject"));
    auto after = NamedMutex::create("KickletMutexObject");
    ASSERT_TRUE(after);
    EXPECT_FALSE(after->alreadyExisted());
}

TEST_F(NamedObjects, ConcurrentCreatorsAgreeOnExactlyOneFirst)
{
    // Many processes race to create the same name; exactly one may believe
    // it was first.
    constexpr int kProcesses = 8;
    std::vector<pid_t> pids;
    std::vector<bool> sawExisting(kProcesses);
    for (int i = 0; i < kProcesses; ++i) {
        bool existed = false;
        pids.push_back(holdInChild("Race\\Name", &existed));
        sawExisting[i] = existed;
    }
    int firsts = 0;
    for (int i = 0; i < kProcesses; ++i)
        firsts += sawExisting[i] ? 0 : 1;
    EXPECT_EQ(firsts, 1);
    for (pid_t pid : pids) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

TEST_F(NamedObjects, SharedMemoryIsSharedAndStartsZeroedForTheFirstHolder)
{
    // Shared memory names are per user, not per runtime folder: a name of
    // our own keeps a real event module's block out of the test.
    const std::string name = "QuentyEventMap.test." + std::to_string(::getpid());
    {
        auto map = SharedMemory::create(name, 10);
        ASSERT_TRUE(map) << map.error().text;
        EXPECT_FALSE(map->alreadyExisted());
        for (size_t i = 0; i < map->size(); ++i)
            EXPECT_EQ(map->data()[i], std::byte{0});
        map->data()[3] = std::byte{0x5A};

        auto other = SharedMemory::create(name, 10);
        ASSERT_TRUE(other);
        EXPECT_TRUE(other->alreadyExisted());
        EXPECT_EQ(other->data()[3], std::byte{0x5A});
    }
    auto fresh = SharedMemory::create(name, 10);
    ASSERT_TRUE(fresh);
    EXPECT_FALSE(fresh->alreadyExisted());
    EXPECT_EQ(fresh->data()[3], std::byte{0}) << "a new first holder starts from zero";
}

TEST_F(NamedObjects, RuntimeFolderIsPrivate)
{
    auto folder = runtimeFolder();
    ASSERT_TRUE(folder);
    EXPECT_EQ(std::filesystem::status(*folder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    std::filesystem::permissions(*folder, std::filesystem::perms(0777));
    EXPECT_FALSE(runtimeFolder()) << "a folder others may write is refused";
    EXPECT_FALSE(NamedMutex::create("x"));
}

} // namespace
} // namespace lumarc::platform
