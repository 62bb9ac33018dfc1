// The event loop behind the simulated unit's servers, with sessions made
// for the test, on loopback connections inside the test namespace.
#include "unitsim/connection_server.h"

#include "platform/net_socket.h"
#include "platform/unit_address.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>

namespace lumarc::unitsim {
namespace {

using namespace std::chrono_literals;
using Connection = ConnectionServer::Connection;

constexpr uint16_t kPort = 10997;
constexpr size_t kBig = 8 * 1024 * 1024;

const std::vector<uint8_t>& bigReply()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(kBig);
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = static_cast<uint8_t>(i * 7 + i / 4096);
        return b;
    }();
    return bytes;
}

// What the sessions of a test saw, from the loop thread.
struct Record {
    std::mutex mutex;
    std::set<std::thread::id> threads;
    int closed = 0;
    void note()
    {
        std::scoped_lock lock(mutex);
        threads.insert(std::this_thread::get_id());
    }
};

// Echoes what arrives. "big" is answered with kBig bytes and a close;
// "wait" stops reading for 300 ms and then answers "done".
class TestSession : public ConnectionServer::Session {
public:
    explicit TestSession(Record& record) : m_record(record) {}
    void started(Connection&) override { m_record.note(); }
    void received(Connection& c) override
    {
        m_record.note();
        const std::string text(c.input().begin(), c.input().end());
        if (text.starts_with("big")) {
            c.consume(3);
            c.send(bigReply());
            c.closeAfterSending();
        } else if (text.starts_with("wait")) {
            c.consume(4);
            c.setReading(false);
            c.startTimer(300ms);
        } else {
            m_echo.assign(c.input().begin(), c.input().end());
            c.consume(m_echo.size());
            c.send(m_echo);
        }
    }
    void timerExpired(Connection& c) override
    {
        m_record.note();
        c.setReading(true);
        c.send(m_done);
    }
    void closed(Connection&) override
    {
        std::scoped_lock lock(m_record.mutex);
        ++m_record.closed;
    }

private:
    Record& m_record;
    std::vector<uint8_t> m_echo;
    const std::array<uint8_t, 4> m_done{'d', 'o', 'n', 'e'};
};

class EventLoop : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_at = {*platform::resolveUnitAddress("127.0.0.1"), kPort};
        auto server = ConnectionServer::start(m_at, [this] {
            return std::make_unique<TestSession>(m_record);
        });
        ASSERT_TRUE(server) << server.error().text;
        m_server = std::move(*server);
    }
    platform::UniqueFd connect()
    {
        auto fd = platform::connectTcp(m_at, 2s);
        EXPECT_TRUE(fd);
        return fd ? std::move(*fd) : platform::UniqueFd();
    }
    static void send(const platform::UniqueFd& fd, const std::string& text)
    {
        ASSERT_TRUE(platform::sendAll(
            fd.get(), std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())));
    }
    // Up to length bytes, waiting at most timeout for each piece.
    static std::string receive(const platform::UniqueFd& fd, size_t length,
                               std::chrono::milliseconds timeout = 2s)
    {
        std::string text;
        std::vector<uint8_t> buffer(length);
        while (text.size() < length) {
            auto ready = platform::waitReadable(fd.get(), timeout);
            if (!ready || !*ready)
                break;
            auto n = platform::receiveSome(fd.get(), std::span(buffer).first(length - text.size()));
            if (!n || *n == 0)
                break;
            text.append(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(*n));
        }
        return text;
    }

    platform::Endpoint m_at;
    Record m_record;
    std::unique_ptr<ConnectionServer> m_server;
};

TEST_F(EventLoop, ServesEveryConnectionOnOneThread)
{
    std::vector<platform::UniqueFd> clients;
    for (int i = 0; i < 20; ++i)
        clients.push_back(connect());
    // Answered in any order, each with its own bytes.
    for (int i = 19; i >= 0; --i)
        send(clients[static_cast<size_t>(i)], "client " + std::to_string(i));
    for (int i = 0; i < 20; ++i) {
        const std::string expected = "client " + std::to_string(i);
        EXPECT_EQ(receive(clients[static_cast<size_t>(i)], expected.size()), expected);
    }
    EXPECT_EQ(m_server->connections(), 20u);
    std::scoped_lock lock(m_record.mutex);
    EXPECT_EQ(m_record.threads.size(), 1u);
    EXPECT_EQ(m_record.threads.count(std::this_thread::get_id()), 0u);
}

TEST_F(EventLoop, APeerThatReadsNothingHoldsUpNoOneElse)
{
    auto stalled = connect();
    send(stalled, "big");
    std::this_thread::sleep_for(100ms); // the socket fills and stays full

    auto other = connect();
    const auto begin = std::chrono::steady_clock::now();
    send(other, "hello");
    EXPECT_EQ(receive(other, 5), "hello");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);

    // Everything arrives in order once the peer reads, then the close.
    const std::string all = receive(stalled, kBig + 1);
    ASSERT_EQ(all.size(), kBig);
    EXPECT_TRUE(std::equal(all.begin(), all.end(), bigReply().begin(),
                           [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
}

TEST_F(EventLoop, BytesWaitWhileASessionIsNotReadingAndTimersRunOnTheirOwn)
{
    auto waiting = connect();
    const auto begin = std::chrono::steady_clock::now();
    send(waiting, "wait");
    std::this_thread::sleep_for(20ms);
    send(waiting, "after");

    auto other = connect();
    send(other, "now");
    EXPECT_EQ(receive(other, 3), "now");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 250ms) << "not behind the timer";

    EXPECT_EQ(receive(waiting, 4), "done");
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 300ms);
    EXPECT_EQ(receive(waiting, 5), "after") << "kept in the socket, read after the wait";
}

TEST_F(EventLoop, APeerThatResetsWhileNotReadEndsItsConnectionWithoutSpinning)
{
    auto client = connect();
    send(client, "wait");
    std::this_thread::sleep_for(20ms);
    const linger reset{1, 0};
    ::setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    client.reset(); // a reset, while the session reads nothing

    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    std::this_thread::sleep_for(250ms);
    ::getrusage(RUSAGE_SELF, &after);
    const auto cpu = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec +
               r.ru_stime.tv_usec;
    };
    EXPECT_LT(cpu(after) - cpu(before), 100000L) << "microseconds of CPU while waiting";
    std::scoped_lock lock(m_record.mutex);
    EXPECT_EQ(m_record.closed, 1) << "closed at the reset, before the timer";
}

TEST_F(EventLoop, StoppingClosesEveryConnectionAndTellsItsSession)
{
    std::vector<platform::UniqueFd> clients;
    for (int i = 0; i < 5; ++i)
        clients.push_back(connect());
    send(clients[0], "wait"); // one with a timer running
    while (m_server->connections() < 5)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
    const auto begin = std::chrono::steady_clock::now();
    m_server.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 200ms);
    EXPECT_EQ(m_record.closed, 5);
    for (const auto& c : clients)
        EXPECT_EQ(receive(c, 1, 1s), "") << "closed";
}

} // namespace
} // namespace lumarc::unitsim
