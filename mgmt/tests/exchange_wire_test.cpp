// The exchange on the wire, against a unit scripted byte by byte: how the
// connection ends when bytes came behind the reply, and a request that the
// unit is slow to take.
#include "mgmt/exchange.h"

#include "platform/net_socket.h"
#include "platform/unit_address.h"
#include "shared/message_header.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>

namespace lumarc::mgmt {
namespace {

using namespace std::chrono_literals;

constexpr const char* kUnit = "127.0.0.6";

// How the PC left the connection, as the unit sees it.
enum class Ending { Closed, Reset, Other };

// One connection: greeting, the request (taken after a pause), the reply
// bytes as given, then the unit reads until the PC's side ends.
class ScriptedUnit {
public:
    ScriptedUnit(std::vector<uint8_t> reply, std::chrono::milliseconds pause = 0ms,
                 int maxSegment = 0)
        : m_reply(std::move(reply)), m_pause(pause)
    {
        auto listening = platform::listenTcp({*platform::resolveUnitAddress(kUnit), 10002});
        EXPECT_TRUE(listening) << listening.error().text;
        m_listening = std::move(*listening);
        if (maxSegment != 0)
            ::setsockopt(m_listening.get(), IPPROTO_TCP, TCP_MAXSEG, &maxSegment,
                         sizeof maxSegment);
        m_thread = std::jthread([this] { serve(); });
    }
    ~ScriptedUnit() { platform::shutdownBoth(m_listening.get()); }

    Ending ending()
    {
        m_thread.join();
        return m_ending;
    }
    size_t requestBytes() const { return m_requestBytes; }

private:
    void serve()
    {
        auto connection = platform::acceptTcp(m_listening.get());
        if (!connection)
            return;
        const int fd = connection->get();
        (void)platform::sendAll(fd, shared::encodeHeader(shared::bareHeader(0)));
        std::this_thread::sleep_for(m_pause);
        uint8_t word[4];
        const std::span<uint8_t> wordPart[] = {word};
        if (!platform::receiveAllParts(fd, wordPart))
            return;
        std::vector<uint8_t> rest(shared::readLe32(word, 0) - 4);
        const std::span<uint8_t> restPart[] = {rest};
        auto got = platform::receiveAllParts(fd, restPart);
        m_requestBytes = 4 + (got ? *got : 0);
        (void)platform::sendAll(fd, m_reply);
        uint8_t sink[64];
        for (;;) {
            const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
            if (n > 0)
                continue;
            m_ending = n == 0                ? Ending::Closed
                       : errno == ECONNRESET ? Ending::Reset
                                             : Ending::Other;
            return;
        }
    }

    std::vector<uint8_t> m_reply;
    std::chrono::milliseconds m_pause;
    platform::UniqueFd m_listening;
    Ending m_ending = Ending::Other;
    size_t m_requestBytes = 0;
    std::jthread m_thread;
};

std::vector<uint8_t> nameReply(size_t trailing)
{
    std::vector<uint8_t> bytes(16 + 52 + trailing, 0xEE);
    shared::writeHeader(bytes, shared::MessageHeader{16 + 52, shared::kUnitMagic, 0, 0});
    std::fill(bytes.begin() + 16, bytes.begin() + 16 + 52, 0x11);
    return bytes;
}

std::vector<uint8_t> nameRequest()
{
    std::vector<uint8_t> request(16);
    shared::writeHeader(request, shared::MessageHeader{16, shared::kPcMagic, 0x140, 0});
    return request;
}

ExchangeResult run(std::span<const uint8_t> request, std::vector<uint8_t>& reply,
                   std::chrono::milliseconds timeout = 2s)
{
    ExchangeOptions options;
    options.transferTimeout = timeout;
    return exchange(*platform::resolveUnitAddress(kUnit), request, reply, options);
}

TEST(ExchangeOnTheWire, TheConnectionEndsAsIfBytesBehindTheReplyWereLeftUnread)
{
    struct Case {
        size_t trailing;
        Ending ending;
    };
    for (const Case c : {Case{0, Ending::Closed}, Case{30, Ending::Reset}}) {
        ScriptedUnit unit(nameReply(c.trailing));
        std::vector<uint8_t> reply(1024, 0);
        const auto result = run(nameRequest(), reply);
        EXPECT_EQ(result.kind, ExchangeResult::Kind::Reply);
        EXPECT_EQ(result.received, 68u);
        EXPECT_EQ(reply[67], 0x11);
        EXPECT_EQ(reply[68], 0) << "nothing behind the reply reaches the buffer";
        EXPECT_EQ(unit.ending(), c.ending) << c.trailing << " bytes behind the reply";
    }
}

TEST(ExchangeOnTheWire, ARequestTheUnitIsSlowToTakeOutlastsTheTransferTimeOut)
{
    // More than the sockets on both sides hold: the PC's send waits for
    // the unit to read, longer than the transfer time-out.
    constexpr uint32_t kLength = 2 * 1024 * 1024;
    std::vector<uint8_t> request(kLength, 0x42);
    shared::writeHeader(request, shared::MessageHeader{kLength, shared::kPcMagic, 0x111, 0});
    std::vector<uint8_t> status(16, 0);
    shared::writeHeader(status, shared::MessageHeader{16, shared::kUnitMagic, 0, 0});
    ScriptedUnit unit(status, 700ms, 536);
    std::vector<uint8_t> reply(2048, 0);
    const auto result = run(request, reply, 200ms);
    EXPECT_EQ(result.kind, ExchangeResult::Kind::Reply) << "the send is not bounded";
    EXPECT_EQ(result.code, 0u);
    EXPECT_EQ(unit.ending(), Ending::Closed);
    EXPECT_EQ(unit.requestBytes(), request.size());
}

} // namespace
} // namespace lumarc::mgmt
