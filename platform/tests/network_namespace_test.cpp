// The test runner's private network: a datagram sent to 255.255.255.255
// reaches every local listener, and address resolution works inside it.
#include "platform/net_socket.h"
#include "platform/unit_address.h"
#include "platform/unique_fd.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <string>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace lumarc::platform {
namespace {

constexpr uint16_t kTestPort = 10005;

UniqueFd boundListener()
{
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kTestPort);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return UniqueFd();
    return fd;
}

TEST(NetworkNamespace, BroadcastReachesTwoLocalListeners)
{
    UniqueFd first = boundListener();
    UniqueFd second = boundListener();
    ASSERT_TRUE(first && second) << std::strerror(errno);

    UniqueFd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ASSERT_EQ(::setsockopt(sender.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kTestPort);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    const char payload[] = "who is there";
    ASSERT_EQ(::sendto(sender.get(), payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&to),
                       sizeof to),
              static_cast<ssize_t>(sizeof payload))
        << std::strerror(errno);

    for (const UniqueFd* listener : {&first, &second}) {
        pollfd p{listener->get(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 2000), 1) << "broadcast not looped back";
        char buffer[64] = {};
        EXPECT_EQ(::recv(listener->get(), buffer, sizeof buffer, 0),
                  static_cast<ssize_t>(sizeof payload));
        EXPECT_STREQ(buffer, payload);
    }
}

TEST(TcpConnections, KeepAliveProbesAreConfiguredAsAsked)
{
    const uint32_t loopback = *resolveUnitAddress("127.0.0.1");
    auto listener = listenTcp({loopback, 10999});
    ASSERT_TRUE(listener);
    auto client = connectTcp({loopback, 10999}, std::chrono::seconds(2));
    ASSERT_TRUE(client);
    auto server = acceptTcp(listener->get());
    ASSERT_TRUE(server);
    ASSERT_TRUE(setKeepAlive(server->get(), 30, 10, 3));
    const auto option = [&](int level, int name) {
        int value = -1;
        socklen_t length = sizeof value;
        ::getsockopt(server->get(), level, name, &value, &length);
        return value;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 30);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 10);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 3);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_NODELAY), 1) << "accepted connections send at once";
}

TEST(TcpConnections, ConnectionsOfAListenerThatSendsWithoutPacingInheritIt)
{
    const uint32_t loopback = *resolveUnitAddress("127.0.0.1");
    auto listener = listenTcp({loopback, 10998});
    ASSERT_TRUE(listener);
    sendWithoutPacing(listener->get());
    auto client = connectTcp({loopback, 10998}, std::chrono::seconds(2));
    ASSERT_TRUE(client);
    auto server = acceptTcp(listener->get());
    ASSERT_TRUE(server);
    char control[16] = {};
    socklen_t length = sizeof control;
    ASSERT_EQ(::getsockopt(server->get(), IPPROTO_TCP, TCP_CONGESTION, control, &length), 0);
    EXPECT_TRUE(std::string(control) == "cubic" || std::string(control) == "reno") << control;
}

TEST(UnitAddress, DottedTextFirstThenHostName)
{
    EXPECT_EQ(addressText(*resolveUnitAddress("192.0.2.7")), "192.0.2.7");
    EXPECT_EQ(addressText(*resolveUnitAddress("127.1")), "127.0.0.1");
    auto local = resolveUnitAddress("localhost");
    ASSERT_TRUE(local) << local.error().text;
    EXPECT_EQ(addressText(*local), "127.0.0.1");

    auto bad = resolveUnitAddress("no-such-unit.invalid");
    ASSERT_FALSE(bad);
    EXPECT_GE(bad.error().code, 11001u);
    EXPECT_LE(bad.error().code, 11004u);
    EXPECT_FALSE(resolveUnitAddress(""));
}

} // namespace
} // namespace lumarc::platform
