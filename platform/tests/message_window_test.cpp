// Message windows: threads, nested sends, timers, sockets, two processes.
#include "platform/folders.h"
#include "platform/message_pump.h"
#include "platform/message_window.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <future>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>

namespace lumarc::platform {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kAdd = wm::kUser + 1;
constexpr uint32_t kStop = wm::kUser + 2;

// A thread that owns one window and runs a message loop until kStop.
class WindowThread {
public:
    explicit WindowThread(WindowProcedure procedure, std::string title = {})
    {
        std::promise<WindowHandle> created;
        auto future = created.get_future();
        m_thread = std::jthread([&, procedure, title] {
            auto window = createWindow(
                [procedure](WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp) -> intptr_t {
                    if (m == kStop) {
                        postQuitMessage(0);
                        return 0;
                    }
                    const intptr_t result = procedure ? procedure(w, m, wp, lp) : 0;
                    if (m == wm::kDestroy)
                        postQuitMessage(0); // a destroyed window ends its loop
                    return result;
                },
                title);
            created.set_value(window ? *window : 0);
            Message message;
            while (getMessage(message))
                dispatchMessage(message);
        });
        m_window = future.get();
    }
    ~WindowThread()
    {
        (void)postMessage(m_window, kStop);
    }
    WindowHandle window() const { return m_window; }

private:
    WindowHandle m_window = 0;
    std::jthread m_thread;
};

TEST(MessageWindows, CrossThreadSendsUnderLoadReturnEveryResult)
{
    std::atomic<long> handled{0};
    WindowThread owner([&](WindowHandle, uint32_t m, uintptr_t wp, intptr_t lp) -> intptr_t {
        if (m != kAdd)
            return -1;
        ++handled;
        return static_cast<intptr_t>(wp) + lp;
    });
    ASSERT_NE(owner.window(), 0u);
    std::atomic<int> wrong{0};
    std::vector<std::jthread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                auto r = sendMessage(owner.window(), kAdd, static_cast<uintptr_t>(i), t * 100000);
                if (!r || *r != i + t * 100000)
                    ++wrong;
                if (i % 10 == 0)
                    (void)postMessage(owner.window(), kAdd, 0, 0);
            }
        });
    }
    senders.clear();
    EXPECT_EQ(wrong.load(), 0);
    // The posts are handled too (in order, after the sends that came first).
    EXPECT_EQ(sendMessage(owner.window(), kAdd, 1, 1).value(), 2);
    EXPECT_EQ(handled.load(), 4 * 2000 + 4 * 200 + 1);
}

TEST(MessageWindows, ASendBackToTheWaitingThreadIsHandledWhileItWaits)
{
    // This thread owns `mine`; the other thread's procedure sends back to
    // `mine` while this thread is blocked in its own send.
    std::atomic<int> nestedOnThisThread{0};
    const auto self = std::this_thread::get_id();
    auto mine = createWindow([&](WindowHandle, uint32_t, uintptr_t wp, intptr_t) -> intptr_t {
        if (std::this_thread::get_id() == self)
            ++nestedOnThisThread;
        return static_cast<intptr_t>(wp) * 2;
    });
    ASSERT_TRUE(mine);
    WindowThread other([&](WindowHandle, uint32_t, uintptr_t wp, intptr_t) -> intptr_t {
        auto back = sendMessage(*mine, kAdd, wp);
        return back ? *back + 1 : -1;
    });
    EXPECT_EQ(sendMessage(other.window(), kAdd, 20).value(), 41);
    EXPECT_EQ(nestedOnThisThread.load(), 1);
    ASSERT_TRUE(destroyWindow(*mine));
}

TEST(MessageWindows, AThreadWaitingForAnotherHandlesTheOthersSendsToIt)
{
    // The other thread sends to this thread's window, then signals; a plain
    // wait here would never see the signal.
    auto mine = createWindow([](WindowHandle, uint32_t, uintptr_t wp, intptr_t) -> intptr_t {
        return static_cast<intptr_t>(wp) + 1;
    });
    ASSERT_TRUE(mine);
    auto done = Event::create(EventReset::Manual);
    ASSERT_TRUE(done);
    std::atomic<intptr_t> answer{0};
    std::thread other([&] {
        auto sent = sendMessage(*mine, kAdd, 6);
        answer = sent ? *sent : -1;
        (void)done->set();
    });
    EXPECT_TRUE(waitHandlingSends(*done, 5s));
    other.join();
    EXPECT_EQ(answer.load(), 7);
    EXPECT_FALSE(waitHandlingSends(*Event::create(EventReset::Auto), 20ms)) << "times out";
    ASSERT_TRUE(destroyWindow(*mine));
}

TEST(MessageWindows, PendingMessagesAreDeliveredInsideABlockingCall)
{
    std::vector<uintptr_t> seen;
    auto window = createWindow([&](WindowHandle, uint32_t m, uintptr_t wp, intptr_t) -> intptr_t {
        if (m == kAdd)
            seen.push_back(wp);
        return 0;
    });
    ASSERT_TRUE(window);
    ASSERT_TRUE(postMessage(*window, kAdd, 1));
    ASSERT_TRUE(postMessage(*window, kAdd, 2));
    deliverPendingMessages(); // what a long exchange does before connecting
    EXPECT_EQ(seen, (std::vector<uintptr_t>{1, 2}));
    Message left;
    EXPECT_FALSE(peekMessage(left));

    postQuitMessage(7);
    deliverPendingMessages();
    ASSERT_FALSE(getMessage(left)) << "the quit message is kept for the loop";
    EXPECT_EQ(left.wParam, 7u);
    ASSERT_TRUE(destroyWindow(*window));
}

TEST(MessageWindows, DeliveringPendingMessagesAlsoAnswersSendsFromOtherThreads)
{
    // A thread with a window but no sockets: its look at pending messages
    // costs no system call, and must still see what others sent it.
    auto window = createWindow([](WindowHandle, uint32_t m, uintptr_t wp, intptr_t) -> intptr_t {
        return m == kAdd ? static_cast<intptr_t>(wp) * 2 : 0;
    });
    ASSERT_TRUE(window);
    std::atomic<intptr_t> answer{0};
    std::thread other([&] {
        auto sent = sendMessage(*window, kAdd, 21);
        answer = sent ? *sent : -1;
    });
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (answer == 0 && std::chrono::steady_clock::now() < end) {
        deliverPendingMessages();
        std::this_thread::sleep_for(1ms);
    }
    other.join();
    EXPECT_EQ(answer.load(), 42);

    ASSERT_TRUE(setTimer(*window, 3, 10ms));
    std::this_thread::sleep_for(30ms);
    Message message;
    ASSERT_TRUE(peekMessage(message)) << "a timer that fell due, without waiting";
    EXPECT_EQ(message.message, wm::kTimer);
    ASSERT_TRUE(killTimer(*window, 3));
    ASSERT_TRUE(destroyWindow(*window));
}

TEST(MessageWindows, TimersTickUntilKilled)
{
    int ticks = 0;
    auto window = createWindow([&](WindowHandle, uint32_t m, uintptr_t wp, intptr_t) -> intptr_t {
        if (m == wm::kTimer && wp == 9)
            ++ticks;
        return 0;
    });
    ASSERT_TRUE(window);
    ASSERT_TRUE(setTimer(*window, 9, 20ms));
    const auto begin = std::chrono::steady_clock::now();
    Message message;
    while (ticks < 3 && getMessage(message))
        dispatchMessage(message);
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, 55ms);
    EXPECT_LT(took, 1s);
    ASSERT_TRUE(killTimer(*window, 9));
    std::this_thread::sleep_for(60ms);
    EXPECT_FALSE(peekMessage(message)) << "no tick after killTimer";
    ASSERT_TRUE(destroyWindow(*window));
}

TEST(MessageWindows, SocketReadinessBecomesMessagesWithTheEventBits)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    std::vector<uint32_t> events;
    auto window = createWindow([&](WindowHandle, uint32_t m, uintptr_t wp, intptr_t lp) -> intptr_t {
        if (m == wm::kApp + 2 && static_cast<int>(wp) == fds[0]) {
            events.push_back(socketEventOf(lp));
            if (socketEventOf(lp) == fd::kRead) {
                char buffer[16];
                (void)!::recv(fds[0], buffer, sizeof buffer, 0);
            }
        }
        return 0;
    });
    ASSERT_TRUE(window);
    ASSERT_TRUE(selectSocketEvents(fds[0], *window, wm::kApp + 2, fd::kRead | fd::kClose));
    Message message;
    EXPECT_FALSE(peekMessage(message));
    ASSERT_EQ(::send(fds[1], "hello", 5, 0), 5);
    ASSERT_TRUE(getMessage(message));
    dispatchMessage(message);
    ::close(fds[1]);
    ASSERT_TRUE(getMessage(message));
    dispatchMessage(message);
    EXPECT_EQ(events, (std::vector<uint32_t>{fd::kRead, fd::kClose}));
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(peekMessage(message)) << "the close comes once";
    ASSERT_TRUE(selectSocketEvents(fds[0], *window, 0, 0));
    ::close(fds[0]);
    ASSERT_TRUE(destroyWindow(*window));
    EXPECT_EQ(socketNotification(fd::kClose, 10054), 0x27460020);
}

TEST(MessageWindows, DeadWindowsAndStrayHandlesFailCleanly)
{
    EXPECT_FALSE(isWindow(0));
    EXPECT_FALSE(isWindow(12345));
    EXPECT_EQ(sendMessage(12345, kAdd).error().code, 1400u);
    EXPECT_EQ(postMessage(12345, kAdd).error().code, 1400u);

    WindowHandle gone = 0;
    {
        WindowThread owner(nullptr);
        gone = owner.window();
        EXPECT_TRUE(isWindow(gone));
    }
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(isWindow(gone)) << "a window dies with its thread";
    EXPECT_FALSE(sendMessage(gone, kAdd));

    // Destroying from another thread runs the destroy message on the owner.
    std::thread::id ownerThread;
    std::atomic<bool> destroyedOnOwner{false};
    WindowThread owner([&](WindowHandle, uint32_t m, uintptr_t, intptr_t) -> intptr_t {
        if (m == kAdd)
            ownerThread = std::this_thread::get_id();
        if (m == wm::kDestroy)
            destroyedOnOwner = std::this_thread::get_id() == ownerThread;
        return 0;
    });
    ASSERT_TRUE(sendMessage(owner.window(), kAdd));
    EXPECT_TRUE(destroyWindow(owner.window()));
    EXPECT_TRUE(destroyedOnOwner.load());
    EXPECT_FALSE(isWindow(owner.window()));
}

class TwoProcesses : public ::testing::Test {
protected:
    lumarc::testing::SandboxEnvironment m_sandbox;
};

TEST_F(TwoProcesses, FindPostAndCopyDataReachAWindowOfAnotherProcess)
{
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const std::string title = "LumarcTestWindow";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        auto window = createWindow(
            [&](WindowHandle, uint32_t m, uintptr_t wp, intptr_t lp) -> intptr_t {
                std::string line;
                if (m == wm::kCopyData) {
                    const auto* copy = reinterpret_cast<const CopyData*>(lp);
                    line = "copy " + std::to_string(copy->dwData) + " " +
                           std::string(static_cast<const char*>(copy->lpData), copy->cbData);
                } else if (m == kStop) {
                    postQuitMessage(0);
                    line = "stop";
                } else {
                    line = "post " + std::to_string(m) + " " + std::to_string(wp);
                }
                line += "\n";
                (void)!::write(report[1], line.data(), line.size());
                return 0;
            },
            title);
        if (!window)
            ::_exit(2);
        (void)!::write(report[1], "ready\n", 6);
        Message message;
        while (getMessage(message))
            dispatchMessage(message);
        ::_exit(0);
    }
    ::close(report[1]);
    FILE* lines = ::fdopen(report[0], "r");
    char line[256];
    ASSERT_NE(std::fgets(line, sizeof line, lines), nullptr);
    EXPECT_STREQ(line, "ready\n");

    const WindowHandle remote = findWindow(title);
    ASSERT_NE(remote, 0u);
    EXPECT_TRUE(isWindow(remote));
    EXPECT_EQ(findWindow("NoSuchTitle"), 0u);
    EXPECT_EQ(createWindow(nullptr, title).error().code, 183u) << "a live title is taken";

    // Junk on the window's socket is dropped without harm.
    {
        auto folder = runtimeFolder();
        ASSERT_TRUE(folder);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = (*folder / ("window." + title)).string();
        std::memcpy(address.sun_path, path.data(), path.size());
        const int junk = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        const char garbage[] = "not a message at all, just bytes";
        ::sendto(junk, garbage, sizeof garbage, 0, reinterpret_cast<sockaddr*>(&address),
                 sizeof address);
        std::vector<char> huge(200000, 'x');
        ::sendto(junk, huge.data(), huge.size(), 0, reinterpret_cast<sockaddr*>(&address),
                 sizeof address);
        ::close(junk);
    }
    EXPECT_FALSE(postMessage(remote, kAdd, 5, 99)) << "no pointers across processes";
    ASSERT_TRUE(postMessage(remote, kAdd, 5));
    ASSERT_TRUE(postMessageToTitle(title, kAdd, 6));
    const std::string text = "E-12 paper jam";
    ASSERT_TRUE(sendCopyData(remote, 0, 3,
                             std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())));
    ASSERT_TRUE(postMessage(remote, kStop));

    std::string all;
    while (std::fgets(line, sizeof line, lines) != nullptr)
        all += line;
    std::fclose(lines);
    EXPECT_EQ(all, "post " + std::to_string(kAdd) + " 5\npost " + std::to_string(kAdd) +
                       " 6\ncopy 3 E-12 paper jam\nstop\n");
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(isWindow(remote)) << "the window went with its process";
    const Status stale = postMessageToTitle(title, kAdd);
    ASSERT_FALSE(stale) << "its socket file is left, but nobody listens";
    EXPECT_EQ(stale.error().code, 1400u);
}

TEST_F(TwoProcesses, PostingByTitlePrefersAWindowOfThisProcessAndPostsNothingWithoutOne)
{
    std::promise<std::pair<uint32_t, uintptr_t>> got;
    WindowThread local(
        [&](WindowHandle, uint32_t m, uintptr_t wp, intptr_t lp) -> intptr_t {
            if (m == kAdd)
                got.set_value({static_cast<uint32_t>(lp), wp});
            return 0;
        },
        "LumarcLocalTitle");
    ASSERT_NE(local.window(), 0u);
    ASSERT_TRUE(postMessageToTitle("LumarcLocalTitle", kAdd, 9));
    auto future = got.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), (std::pair<uint32_t, uintptr_t>{0, 9}));

    const Status absent = postMessageToTitle("NoSuchTitle", kAdd);
    ASSERT_FALSE(absent);
    EXPECT_EQ(absent.error().code, 1400u);
    Message message;
    EXPECT_FALSE(peekMessage(message)) << "nothing lands in the caller's own queue";
    EXPECT_FALSE(postMessageToTitle("", kAdd));
}

} // namespace
} // namespace lumarc::platform
