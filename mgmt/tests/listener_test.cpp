// The trigger-port listener against simulated units pressing buttons,
// inside the test network namespace.
#include "mgmt/listener.h"
#include "mgmt/zorvan.h"
#include "platform/debug_output.h"
#include "platform/event.h"
#include "platform/folders.h"
#include "platform/memory_block.h"
#include "platform/message_window.h"
#include "platform/net_socket.h"
#include "platform/tests/temp_folder.h"
#include "platform/unit_address.h"
#include "shared/message_header.h"
#include "shared/settings_file.h"
#include "unitsim/event_connection.h"
#include "unitsim/simulated_unit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <thread>

namespace lumarc::mgmt {
namespace {

using namespace std::chrono_literals;
using unitsim::EventConnection;
using unitsim::EventMessage;

constexpr uint16_t kTriggerPort = 10777;
constexpr uint32_t kNotify = 0x8001;

EventMessage event(uint32_t code, uint32_t flags, const std::string& user)
{
    EventMessage message;
    message.code = code;
    message.flags = flags;
    message.user = user;
    return message;
}

struct Notification {
    uintptr_t kind;
    ButtonEvent event;
};

TEST(EventMessages, ParsingReadsOnlyWhatArrived)
{
    const auto full = unitsim::encodeEventMessage(event(1, 0x403, "someone-with-a-long-name-0123456789"));
    EventMessageView view;
    for (size_t n = 0; n < 16; ++n)
        EXPECT_FALSE(parseEventMessage(std::span(full).first(n), view)) << n;
    ASSERT_TRUE(parseEventMessage(std::span(full).first(19), view));
    EXPECT_EQ(std::string(view.user, 3), "som");
    EXPECT_EQ(view.user[3], 0) << "the name is taken as far as it arrived";
    ASSERT_TRUE(parseEventMessage(full, view));
    EXPECT_EQ(view.flags, 0x403u);
    EXPECT_EQ(std::string(view.user, 32), std::string("someone-with-a-long-name-0123456789", 32));

    char model[16];
    std::vector<uint8_t> inquiry(96, ' ');
    std::memcpy(&inquiry[16], "ORBIX-4000      ", 16);
    scannerModelFromInquiry(inquiry, model);
    EXPECT_STREQ(model, "ORBIX-4000");
    scannerModelFromInquiry(std::span(inquiry).first(20), model);
    EXPECT_STREQ(model, "ORBI");
    EXPECT_EQ(notificationKind(4), 1u);
    EXPECT_EQ(notificationKind(6), 3u);
    EXPECT_EQ(notificationKind(2), 0u);
}

class Listener : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
        ASSERT_TRUE(shared::SettingsFile().write("Common", "TrgPort",
                                                 std::to_string(kTriggerPort)));
        ASSERT_TRUE(shared::SettingsFile().write("TimeOut", "MonIf", "1"));
        auto window = platform::createWindow(
            [this](platform::WindowHandle, uint32_t m, uintptr_t wp, intptr_t lp) -> intptr_t {
                if (m != kNotify)
                    return 0;
                auto* block = reinterpret_cast<platform::MemoryHandle>(lp);
                Notification n{wp, *static_cast<ButtonEvent*>(platform::globalLock(block))};
                EXPECT_EQ(platform::globalFree(block), nullptr) << "the receiver frees the block";
                m_notifications.push_back(n);
                return 0;
            });
        ASSERT_TRUE(window);
        m_window = *window;
        ASSERT_EQ(Zorvan_Startup(m_window, kNotify), 0);
        m_unit = startUnit("127.0.0.2");
    }
    void TearDown() override
    {
        const auto start = std::chrono::steady_clock::now();
        Zorvan_Cleanup();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "clean-up";
        (void)platform::destroyWindow(m_window);
    }
    std::unique_ptr<unitsim::SimulatedUnit> startUnit(const std::string& address)
    {
        unitsim::UnitConfig config;
        config.address = *platform::resolveUnitAddress(address);
        auto unit = unitsim::SimulatedUnit::start(config);
        EXPECT_TRUE(unit) << unit.error().text;
        return unit ? std::move(*unit) : nullptr;
    }
    Result<EventConnection> connect(const std::string& from)
    {
        return EventConnection::open(*platform::resolveUnitAddress(from),
                                     {*platform::resolveUnitAddress("127.0.0.1"), kTriggerPort},
                                     2s);
    }
    // Runs the unit's part on another thread while this thread pumps its
    // messages, as the event module's main loop does.
    template <class Unit> auto asUnit(Unit unit)
    {
        auto result = std::async(std::launch::async, unit);
        while (result.wait_for(1ms) != std::future_status::ready) {
            platform::Message m;
            while (platform::peekMessage(m))
                platform::dispatchMessage(m);
        }
        return result.get();
    }
    void pumpFor(std::chrono::milliseconds time)
    {
        const auto end = std::chrono::steady_clock::now() + time;
        while (std::chrono::steady_clock::now() < end) {
            platform::Message m;
            while (platform::peekMessage(m))
                platform::dispatchMessage(m);
            std::this_thread::sleep_for(1ms);
        }
    }

    lumarc::testing::SandboxEnvironment m_sandbox;
    platform::WindowHandle m_window = 0;
    std::vector<Notification> m_notifications;
    std::unique_ptr<unitsim::SimulatedUnit> m_unit;
};

TEST_F(Listener, AButtonPressIsGreetedAcknowledgedAndNotified)
{
    const bool acked = asUnit([&] {
        auto connection = connect("127.0.0.2");
        EXPECT_TRUE(connection) << connection.error().text;
        EXPECT_EQ(connection->greetingCode(), 0u);
        return connection->send(event(1, 0x100, "user1"), 2s).value();
    });
    EXPECT_TRUE(acked);
    pumpFor(100ms);
    ASSERT_EQ(m_notifications.size(), 1u);
    const Notification& n = m_notifications[0];
    EXPECT_EQ(n.kind, 1u);
    EXPECT_EQ(platform::addressText(n.event.address), "127.0.0.2");
    EXPECT_EQ(n.event.flags, 0x100u);
    EXPECT_STREQ(n.event.scannerModel, "ORBIX-4000");
    EXPECT_STREQ(n.event.userName, "user1");
    for (uint8_t b : n.event.zero)
        EXPECT_EQ(b, 0);
    // The listener asked the unit for its scanner on the management port.
    const auto requests = m_unit->management().requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().bytes[8], 0x05);
}

TEST_F(Listener, ASecondUnitIsTurnedAwayWhileTheFirstIsConnected)
{
    auto second = startUnit("127.0.0.3");
    asUnit([&] {
        auto first = connect("127.0.0.2");
        EXPECT_EQ(first->greetingCode(), 0u);
        auto other = connect("127.0.0.3");
        EXPECT_TRUE(other);
        EXPECT_EQ(other->greetingCode(), 0xFFFFFFFFu);
        EXPECT_TRUE(other->closedByPeer(2s));
        EXPECT_TRUE(first->send(event(1, 0x401, "alice"), 2s).value()) << "the first is unaffected";
        first->close();
        // After the close the next unit is accepted normally.
        for (int attempt = 0; attempt < 50; ++attempt) {
            auto next = connect("127.0.0.3");
            if (next && next->greetingCode() == 0) {
                EXPECT_TRUE(next->send(event(5, 0x402, "bob"), 2s).value());
                return 0;
            }
            std::this_thread::sleep_for(20ms);
        }
        ADD_FAILURE() << "the next unit was never accepted";
        return 0;
    });
    pumpFor(100ms);
    ASSERT_EQ(m_notifications.size(), 2u);
    EXPECT_STREQ(m_notifications[0].event.userName, "alice");
    EXPECT_STREQ(m_notifications[1].event.userName, "bob");
    EXPECT_EQ(m_notifications[1].kind, 3u);
    EXPECT_EQ(platform::addressText(m_notifications[1].event.address), "127.0.0.3");
}

TEST_F(Listener, UndefinedCodesWrongMagicAndShortMessagesAreNotAcknowledged)
{
    asUnit([&] {
        auto connection = connect("127.0.0.2");
        EXPECT_FALSE(connection->send(event(2, 0x100, "x"), 300ms).value()) << "code 2";
        EventMessage wrongMagic = event(1, 0x100, "x");
        wrongMagic.magic = 0x0000565A;
        EXPECT_FALSE(connection->send(wrongMagic, 300ms).value());
        EventMessage tooShort = event(1, 0x100, "x");
        tooShort.truncateTo = 12;
        EXPECT_FALSE(connection->send(tooShort, 300ms).value());
        // The connection is still open and serves the next message.
        EXPECT_TRUE(connection->send(event(4, 0x100, "y"), 2s).value());
        EventMessage cut = event(6, 0x100, "carol");
        cut.truncateTo = 16 + 3;
        EXPECT_TRUE(connection->send(cut, 2s).value());
        return 0;
    });
    pumpFor(100ms);
    ASSERT_EQ(m_notifications.size(), 2u);
    EXPECT_STREQ(m_notifications[0].event.userName, "y");
    EXPECT_EQ(m_notifications[0].kind, 1u) << "code 4 gives 1";
    EXPECT_STREQ(m_notifications[1].event.userName, "car") << "a cut name as far as it arrived";
    EXPECT_EQ(m_notifications[1].kind, 3u) << "code 6 gives 3";
}

TEST_F(Listener, AFailedScanInformationRequestLeavesTheModelEmpty)
{
    // 127.0.0.5 runs no management port: the request fails, the event still comes.
    asUnit([&] {
        auto connection = connect("127.0.0.5");
        EXPECT_TRUE(connection->send(event(1, 0x100, "dave"), 3s).value());
        return 0;
    });
    pumpFor(200ms);
    ASSERT_EQ(m_notifications.size(), 1u);
    EXPECT_STREQ(m_notifications[0].event.scannerModel, "");
    EXPECT_STREQ(m_notifications[0].event.userName, "dave");
}

TEST_F(Listener, AVanishedNotificationWindowDoesNotHarmTheListener)
{
    ASSERT_TRUE(platform::destroyWindow(m_window));
    asUnit([&] {
        auto connection = connect("127.0.0.2");
        EXPECT_TRUE(connection->send(event(1, 0x100, "erin"), 2s).value())
            << "the acknowledgement stands";
        connection->close();
        std::this_thread::sleep_for(100ms);
        auto again = connect("127.0.0.2");
        EXPECT_TRUE(again);
        EXPECT_EQ(again->greetingCode(), 0u) << "the listener goes on serving units";
        EXPECT_TRUE(again->send(event(1, 0x100, "erin"), 2s).value());
        return 0;
    });
    EXPECT_TRUE(m_notifications.empty());
}

TEST_F(Listener, ABurstOfEventsIsHandledOneAtATimeInOrder)
{
    // Each event's scan-information request delivers the listener's pending
    // messages; the next event of the burst must wait for its turn instead
    // of being handled inside it (which nests without bound and ends in a
    // stack overflow with a burst this size).
    constexpr size_t kBurst = 3000;
    std::vector<EventMessage> burst;
    for (size_t i = 0; i < kBurst; ++i)
        burst.push_back(event(i % 7 == 6 ? 5 : 1, 0x400 | (i % 16), "u" + std::to_string(i)));
    const size_t acked = asUnit([&] {
        auto connection = connect("127.0.0.2");
        EXPECT_TRUE(connection) << connection.error().text;
        std::thread sender([&] { EXPECT_TRUE(connection->sendBurst(burst)); });
        const size_t n = connection->acknowledgements(kBurst, 10s);
        sender.join();
        return n;
    });
    EXPECT_EQ(acked, kBurst);
    pumpFor(100ms);
    ASSERT_EQ(m_notifications.size(), kBurst);
    for (size_t i = 0; i < kBurst; ++i) {
        ASSERT_EQ(m_notifications[i].event.userName, "u" + std::to_string(i)) << i;
        EXPECT_EQ(m_notifications[i].kind, i % 7 == 6 ? 3u : 1u) << i;
        EXPECT_STREQ(m_notifications[i].event.scannerModel, "ORBIX-4000") << i;
    }
    // The listener is idle again and serves the next unit.
    auto second = startUnit("127.0.0.3");
    EXPECT_TRUE(asUnit([&] {
        auto next = connect("127.0.0.3");
        return next && next->greetingCode() == 0 && next->send(event(1, 0x100, "z"), 2s).value();
    }));
}

// A unit's management port that answers the scan-information request one
// byte every 600 ms, each byte inside the transfer time-out.
class DrippingUnit {
public:
    explicit DrippingUnit(const std::string& address)
    {
        auto listening = platform::listenTcp({*platform::resolveUnitAddress(address), 10002});
        EXPECT_TRUE(listening) << listening.error().text;
        m_listening = std::move(*listening);
        auto stop = platform::Event::create(platform::EventReset::Manual);
        m_stop = std::make_unique<platform::Event>(std::move(*stop));
        m_thread = std::thread([this] { serve(); });
    }
    ~DrippingUnit()
    {
        (void)m_stop->set();
        m_thread.join();
    }
    bool dripping() const { return m_dripping; }

private:
    void serve()
    {
        auto ready = platform::waitReadable(m_listening.get(), 10s, m_stop->fd());
        if (!ready || !*ready)
            return;
        auto connection = platform::acceptTcp(m_listening.get());
        if (!connection)
            return;
        (void)platform::sendAll(connection->get(),
                                shared::encodeHeader(shared::bareHeader(0, shared::kUnitMagic)));
        uint8_t request[64];
        (void)platform::receiveSome(connection->get(), request);
        const uint8_t reply[8] = {0x00, 0x08, 0x00, 0x00};
        for (uint8_t byte : reply) {
            m_dripping = true;
            (void)platform::sendAll(connection->get(), std::span(&byte, 1));
            if (m_stop->wait(600ms))
                return;
        }
    }

    platform::UniqueFd m_listening;
    std::unique_ptr<platform::Event> m_stop;
    std::atomic<bool> m_dripping{false};
    std::thread m_thread;
};

TEST_F(Listener, CleanupEndsAScanInformationRequestThatDrips)
{
    DrippingUnit unit("127.0.0.6");
    asUnit([&] {
        auto connection = connect("127.0.0.6");
        EXPECT_TRUE(connection->send(event(1, 0x100, "frank"), 2s).value());
        connection.value().close();
        return 0;
    });
    for (int i = 0; i < 200 && !unit.dripping(); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(unit.dripping());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Zorvan_Cleanup(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
}

TEST_F(Listener, CleanupWhileAButtonEventWaitsForTheWindowsThread)
{
    // The listener sends the event to this thread's window and waits; this
    // thread, in clean-up, waits for the listener to end.
    std::thread unit([&] {
        auto connection = connect("127.0.0.2");
        EXPECT_TRUE(connection->send(event(1, 0x100, "gina"), 2s).value());
    });
    unit.join();
    std::this_thread::sleep_for(300ms); // not pumping: the event now waits for us
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Zorvan_Cleanup(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    ASSERT_EQ(m_notifications.size(), 1u) << "delivered while cleaning up";
    EXPECT_STREQ(m_notifications[0].event.userName, "gina");
}

TEST_F(Listener, CleanupReturnsPromptlyWhateverTheListenerIsDoing)
{
    // Units connect, send, close and connect again while the library is
    // cleaned up and started over at moments that fall anywhere in that.
    std::atomic<bool> stop{false};
    std::thread units([&] {
        for (int i = 0; !stop; ++i) {
            auto c = connect(i % 2 == 0 ? "127.0.0.2" : "127.0.0.5");
            if (c && i % 3 != 0)
                (void)c->send(event(1, 0x100, "g"), 50ms);
        }
    });
    for (int round = 0; round < 40; ++round) {
        pumpFor(std::chrono::milliseconds(round % 5 * 7));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Zorvan_Cleanup(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms) << "round " << round;
        ASSERT_EQ(Zorvan_Startup(m_window, kNotify), 0) << "round " << round;
    }
    stop = true;
    units.join();
}

TEST(ListenerStartup, CleanupRightAfterStartupNeverHangs)
{
    // The trigger port's notifications are requested before it listens; a
    // notification from that moment must not leave the listener waiting in
    // accept for a unit that never comes.
    lumarc::testing::SandboxEnvironment sandbox;
    ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
    ASSERT_TRUE(shared::SettingsFile().write("Common", "TrgPort", std::to_string(kTriggerPort)));
    auto window = platform::createWindow(nullptr);
    ASSERT_TRUE(window);
    for (int round = 0; round < 100; ++round) {
        ASSERT_EQ(Zorvan_Startup(*window, kNotify), 0);
        std::this_thread::sleep_for(std::chrono::microseconds(round % 10 * 100));
        auto cleanup = std::async(std::launch::async, [] { return Zorvan_Cleanup(); });
        ASSERT_EQ(cleanup.wait_for(2s), std::future_status::ready) << "round " << round;
    }
    ASSERT_TRUE(platform::destroyWindow(*window));
}

TEST(ListenerStartup, ATakenTriggerPortGives10048WithTheBindLine)
{
    lumarc::testing::SandboxEnvironment sandbox;
    ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
    ASSERT_TRUE(shared::SettingsFile().write("Common", "TrgPort", std::to_string(kTriggerPort)));
    auto other = platform::listenTcp({0, kTriggerPort});
    ASSERT_TRUE(other);
    std::string debug;
    std::mutex mutex;
    platform::ScopedDebugSink sink([&](std::string_view text) {
        std::scoped_lock lock(mutex);
        debug += text;
    });
    auto window = platform::createWindow(nullptr);
    ASSERT_TRUE(window);
    EXPECT_EQ(Zorvan_Startup(*window, kNotify), 10048);
    EXPECT_NE(debug.find("(Quillet) Error bind()\n : Address already in use\n"), std::string::npos)
        << debug;
    EXPECT_EQ(Zorvan_Cleanup(), 0);
    ASSERT_TRUE(platform::destroyWindow(*window));

    // Without a target nothing listens.
    EXPECT_EQ(Zorvan_Startup(0, 0), 0);
    other->reset();
    EXPECT_FALSE(platform::connectTcp({*platform::resolveUnitAddress("127.0.0.1"), kTriggerPort},
                                      500ms));
    EXPECT_EQ(Zorvan_Cleanup(), 0);
}

} // namespace
} // namespace lumarc::mgmt
