// What a resident program gets from the session: signals as messages and
// desktop notifications (against a private session bus and a stand-in
// notification service).
#include "platform/desktop_notification.h"
#include "platform/message_window.h"
#include "platform/process.h"
#include "platform/signal_watch.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <systemd/sd-bus.h>
#include <thread>
#include <unistd.h>

namespace lumarc::platform {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kSignalMessage = wm::kApp + 7;

// Run in a fresh process of its own: the signals must be blocked before any
// thread exists, as a program blocks them first thing in main.
void signalsBecomeMessages()
{
    blockSignals({SIGUSR1, SIGUSR2});
    std::vector<uintptr_t> received;
    auto window = createWindow([&](WindowHandle, uint32_t m, uintptr_t wp, intptr_t) -> intptr_t {
        if (m == kSignalMessage)
            received.push_back(wp);
        return 0;
    });
    ASSERT_TRUE(window);
    {
        auto watch = SignalWatch::start({SIGUSR1, SIGUSR2}, *window, kSignalMessage);
        ASSERT_TRUE(watch);
        ::kill(::getpid(), SIGUSR1);
        ::kill(::getpid(), SIGUSR2);
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (received.size() < 2 && std::chrono::steady_clock::now() < end) {
            Message m;
            while (peekMessage(m))
                dispatchMessage(m);
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_EQ(received, (std::vector<uintptr_t>{SIGUSR1, SIGUSR2}));

        // A started program is not born with our blocked signals: SIGUSR1
        // ends it at once.
        auto child = Process::start({"/bin/sleep", "30"});
        ASSERT_TRUE(child);
        std::this_thread::sleep_for(50ms);
        ASSERT_TRUE(child->terminate(SIGUSR1));
        EXPECT_EQ(child->wait(5s), std::optional<int>(128 + SIGUSR1));
    } // the watch stops and joins here
    ASSERT_TRUE(destroyWindow(*window));
    std::exit(::testing::Test::HasFailure() ? 1 : 0);
}

TEST(SignalWatch, SignalsBecomeMessagesAndChildrenStartWithoutOurMask)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(signalsBecomeMessages(), ::testing::ExitedWithCode(0), "");
}

// A private session bus with a stand-in for the notification service.
class SessionBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        int pipe[2];
        ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
        const std::string fd = std::to_string(pipe[1]);
        ::fcntl(pipe[1], F_SETFD, 0); // the daemon writes its address here
        auto daemon = Process::start({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                                      "--print-address=" + fd});
        ::close(pipe[1]);
        if (!daemon) {
            ::close(pipe[0]);
            GTEST_SKIP() << "no dbus-daemon: " << daemon.error().text;
        }
        m_daemon.emplace(std::move(*daemon));
        char address[512] = {};
        const ssize_t n = ::read(pipe[0], address, sizeof address - 1);
        ::close(pipe[0]);
        ASSERT_GT(n, 0);
        std::string text(address, static_cast<size_t>(n));
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        m_saved = std::getenv("DBUS_SESSION_BUS_ADDRESS") ? std::getenv("DBUS_SESSION_BUS_ADDRESS")
                                                           : "";
        ::setenv("DBUS_SESSION_BUS_ADDRESS", text.c_str(), 1);
    }
    void TearDown() override
    {
        m_stop = true;
        if (m_service.joinable())
            m_service.join();
        if (m_daemon) {
            (void)m_daemon->terminate();
            (void)m_daemon->wait(5s);
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", m_saved.c_str(), 1);
    }

    // Serves org.freedesktop.Notifications until the test ends, recording
    // each Notify call's summary and body.
    void startService()
    {
        std::atomic<bool> ready{false};
        m_service = std::thread([this, &ready] {
            sd_bus* bus = nullptr;
            if (sd_bus_open_user(&bus) < 0)
                return;
            static const sd_bus_vtable kTable[] = {
                SD_BUS_VTABLE_START(0),
                SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", &SessionBus::onNotify, 0),
                SD_BUS_VTABLE_END};
            sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/Notifications",
                                     "org.freedesktop.Notifications", kTable, this);
            sd_bus_request_name(bus, "org.freedesktop.Notifications", 0);
            ready = true;
            while (!m_stop) {
                if (sd_bus_process(bus, nullptr) > 0)
                    continue;
                sd_bus_wait(bus, 50'000);
            }
            sd_bus_flush_close_unref(bus);
        });
        while (!ready && m_service.joinable())
            std::this_thread::sleep_for(5ms);
    }
    static int onNotify(sd_bus_message* m, void* self, sd_bus_error*)
    {
        const char *app, *icon, *summary, *body;
        uint32_t replaces;
        sd_bus_message_read(m, "susss", &app, &replaces, &icon, &summary, &body);
        auto* test = static_cast<SessionBus*>(self);
        std::scoped_lock lock(test->m_mutex);
        test->m_seen.push_back(std::string(summary) + "|" + body);
        return sd_bus_reply_method_return(m, "u", 1u);
    }

    std::optional<Process> m_daemon;
    std::string m_saved;
    std::thread m_service;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::string> m_seen;
};

TEST_F(SessionBus, ANotificationReachesTheServiceAndNoServiceIsNoError)
{
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(notifyDesktop("test", "Nobody", "listens", NotificationUrgency::Normal));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s);

    startService();
    EXPECT_TRUE(notifyDesktop("test", "Port taken", "Change the trigger port",
                              NotificationUrgency::Critical));
    std::scoped_lock lock(m_mutex);
    EXPECT_EQ(m_seen, std::vector<std::string>{"Port taken|Change the trigger port"});
}

TEST(DesktopNotification, WithoutASessionBusNothingHappens)
{
    lumarc::testing::SandboxEnvironment sandbox; // a runtime folder without a bus
    const std::string saved =
        std::getenv("DBUS_SESSION_BUS_ADDRESS") ? std::getenv("DBUS_SESSION_BUS_ADDRESS") : "";
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    EXPECT_FALSE(notifyDesktop("test", "a", "b", NotificationUrgency::Low));
    if (!saved.empty())
        ::setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
}

} // namespace
} // namespace lumarc::platform
