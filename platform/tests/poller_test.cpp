// The poller and the non-blocking socket calls, on loopback connections
// inside the test namespace.
#include "platform/net_socket.h"
#include "platform/poller.h"
#include "platform/unit_address.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace lumarc::platform {
namespace {

using namespace std::chrono_literals;

constexpr uint16_t kPort = 10998;

struct Pair {
    UniqueFd listener;
    UniqueFd client;
    UniqueFd server;
};

Pair connectedPair()
{
    const uint32_t loopback = *resolveUnitAddress("127.0.0.1");
    Pair p;
    p.listener = std::move(*listenTcp({loopback, kPort}));
    p.client = std::move(*connectTcp({loopback, kPort}, 2s));
    auto accepted = tryAccept(p.listener.get());
    if (accepted && *accepted)
        p.server = std::move(**accepted);
    return p;
}

std::vector<Poller::Ready> waitFor(Poller& poller, std::chrono::milliseconds timeout)
{
    std::vector<Poller::Ready> ready(8);
    auto n = poller.wait(ready, timeout);
    ready.resize(n ? *n : 0);
    return ready;
}

TEST(Poller, ReportsDataAndCloseAsReadableWithTheKeyGiven)
{
    Pair p = connectedPair();
    ASSERT_TRUE(p.server.valid());
    auto poller = Poller::create();
    ASSERT_TRUE(poller);
    ASSERT_TRUE(poller->watch(p.server.get(), Poller::kReadable, 42));
    EXPECT_TRUE(waitFor(*poller, 50ms).empty()) << "nothing has arrived";

    const uint8_t hello[] = {1, 2, 3};
    ASSERT_TRUE(sendAll(p.client.get(), hello));
    auto ready = waitFor(*poller, 2s);
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_EQ(ready[0].key, 42u);
    EXPECT_TRUE(ready[0].readable);
    uint8_t in[8];
    ASSERT_EQ(**tryReceive(p.server.get(), in), 3u);
    EXPECT_TRUE(waitFor(*poller, 0ms).empty()) << "read: no longer ready";

    p.client.reset();
    ready = waitFor(*poller, 2s);
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_TRUE(ready[0].readable) << "the close is news for the reader";
    EXPECT_EQ(**tryReceive(p.server.get(), in), 0u);
}

TEST(Poller, WritableOnlyWhenTheSocketHasRoomAndSendsNeverWait)
{
    Pair p = connectedPair();
    ASSERT_TRUE(p.server.valid());
    auto poller = Poller::create();
    ASSERT_TRUE(poller);
    ASSERT_TRUE(poller->watch(p.server.get(), 0, 7));
    EXPECT_TRUE(waitFor(*poller, 20ms).empty()) << "no interest, no report";
    ASSERT_TRUE(poller->change(p.server.get(), Poller::kWritable, 7));
    ASSERT_EQ(waitFor(*poller, 2s).size(), 1u) << "a fresh connection has room";

    // Fill the connection while the peer reads nothing: sends take less and
    // less and finally nothing, without ever waiting.
    std::vector<uint8_t> block(256 * 1024, 0xAB);
    const std::span<const uint8_t> parts[] = {std::span(block).first(100), block};
    size_t total = 0;
    for (int i = 0; i < 10000; ++i) {
        auto sent = sendSomeParts(p.server.get(), parts);
        ASSERT_TRUE(sent);
        if (*sent == 0)
            break;
        total += *sent;
    }
    ASSERT_GT(total, 0u);
    EXPECT_TRUE(waitFor(*poller, 20ms).empty()) << "full: not writable";

    // The peer reads it all; the room comes back.
    std::vector<uint8_t> sink(64 * 1024);
    size_t drained = 0;
    while (drained < total) {
        auto n = receiveSome(p.client.get(), sink);
        ASSERT_TRUE(n);
        ASSERT_GT(*n, 0u);
        drained += *n;
    }
    auto ready = waitFor(*poller, 2s);
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_TRUE(ready[0].writable);
    EXPECT_FALSE(ready[0].readable);
}

TEST(Poller, SendingToAClosedPeerFailsWithoutSignal)
{
    Pair p = connectedPair();
    ASSERT_TRUE(p.server.valid());
    p.client.reset();
    const uint8_t byte[1] = {0};
    const std::span<const uint8_t> parts[] = {byte};
    // The first send may still be taken; a later one meets the reset.
    bool failed = false;
    for (int i = 0; i < 100 && !failed; ++i) {
        failed = !sendSomeParts(p.server.get(), parts);
        ::usleep(1000);
    }
    EXPECT_TRUE(failed);
}

TEST(Poller, TryAcceptTakesOnlyWaitingConnectionsNonBlockingAndWithoutDelay)
{
    const uint32_t loopback = *resolveUnitAddress("127.0.0.1");
    auto listener = listenTcp({loopback, kPort});
    ASSERT_TRUE(listener);
    ASSERT_TRUE(setNonBlocking(listener->get()));
    auto none = tryAccept(listener->get());
    ASSERT_TRUE(none);
    EXPECT_FALSE(*none) << "nobody is waiting";

    auto client = connectTcp({loopback, kPort}, 2s);
    ASSERT_TRUE(client);
    auto poller = Poller::create();
    ASSERT_TRUE(poller);
    ASSERT_TRUE(poller->watch(listener->get(), Poller::kReadable, 1));
    ASSERT_EQ(waitFor(*poller, 2s).size(), 1u) << "a waiting connection makes it readable";
    Endpoint peer;
    auto accepted = tryAccept(listener->get(), &peer);
    ASSERT_TRUE(accepted && *accepted);
    EXPECT_EQ(peer, *localEndpoint(client->get()));
    const int fd = (*accepted)->get();
    EXPECT_NE(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    int nodelay = 0;
    socklen_t length = sizeof nodelay;
    ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nodelay, &length);
    EXPECT_EQ(nodelay, 1) << "inherited from the listener";
    uint8_t in[4];
    auto got = tryReceive(fd, in);
    ASSERT_TRUE(got) << got.error().text;
    EXPECT_FALSE(*got) << "nothing to read, no waiting: " << got->value_or(99);
}

// A connection whose connect was bounded by a time-out that stays on the
// socket, to a peer that announces a small segment (so the socket takes
// little at once) and reads nothing for a while.
struct SlowReader {
    UniqueFd listener, client, server;

    explicit SlowReader(std::chrono::milliseconds connectTimeout)
    {
        const uint32_t loopback = *resolveUnitAddress("127.0.0.1");
        listener = std::move(*listenTcp({loopback, kPort}));
        const int segment = 536;
        ::setsockopt(listener.get(), IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
        client = std::move(*tcpSocket());
        EXPECT_TRUE(connectKeepingTimeout(client.get(), {loopback, kPort}, connectTimeout));
        server = std::move(*acceptTcp(listener.get()));
    }
};

TEST(Sockets, AnUnboundedSendOutlastsTheTimeOutThatBoundedTheConnect)
{
    const std::vector<uint8_t> big(2 * 1024 * 1024, 0x3C);
    {
        SlowReader bounded(100ms);
        EXPECT_FALSE(sendAll(bounded.client.get(), big)) << "the time-out is on the socket";
    }

    SlowReader slow(100ms);
    std::jthread peer([&] {
        std::this_thread::sleep_for(400ms);
        std::vector<uint8_t> sink(256 * 1024);
        size_t got = 0;
        while (got < big.size()) {
            auto n = receiveSome(slow.server.get(), sink);
            if (!n || *n == 0)
                break;
            got += *n;
        }
        EXPECT_EQ(got, big.size());
    });
    const auto sent = sendAllUnbounded(slow.client.get(), big);
    EXPECT_TRUE(sent) << sent.error().text;
}

} // namespace
} // namespace lumarc::platform
