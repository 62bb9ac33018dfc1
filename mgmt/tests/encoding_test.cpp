// Request fields, the flash checksum, the echo packet and the framed receive
// (over a socket pair, no network).
#include "mgmt/echo.h"
#include "mgmt/exchange.h"
#include "mgmt/requests.h"
#include "platform/unique_fd.h"
#include "shared/message_header.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <thread>

namespace lumarc::mgmt {
namespace {

using namespace std::chrono_literals;

TEST(RequestFields, TextIsCutToTheFieldWidthMinusOneAndTerminated)
{
    std::vector<uint8_t> field(8, 0xCC);
    putText(field, "abcdefghijk");
    EXPECT_EQ(std::string(field.begin(), field.end()), std::string("abcdefg\0", 8));
    putText(field, nullptr);
    EXPECT_EQ(field, std::vector<uint8_t>(8, 0));
}

TEST(RequestFields, DatabaseKeyIsBlankPaddedWithoutTerminator)
{
    std::vector<uint8_t> key(16);
    putDatabaseKey(key, "abc");
    EXPECT_EQ(std::string(key.begin(), key.end()), "abc             ");
    putDatabaseKey(key, "0123456789abcdefWXYZ");
    EXPECT_EQ(std::string(key.begin(), key.end()), "0123456789abcdef");
    putDatabaseKey(key, nullptr);
    EXPECT_EQ(std::string(key.begin(), key.end()), std::string(16, ' '));
}

TEST(RequestFields, FlashChecksumMakesTheWordsSumToZero)
{
    for (uint32_t length : {0u, 1u, 5u, 8u, 1023u}) {
        const uint32_t padded = flashPaddedLength(length);
        EXPECT_EQ(padded % 4, 0u);
        EXPECT_GE(padded, length);
        auto request = makeRequest(code::kWriteFlash, 92 + padded);
        for (uint32_t i = 0; i < length; ++i)
            request[92 + i] = static_cast<uint8_t>(i * 37 + 1);
        shared::writeLe32(request, 84, 0x1000);
        shared::writeLe32(request, 88, padded);
        sealFlashRequest(request);
        uint32_t sum = 0;
        for (size_t offset = 80; offset < request.size(); offset += 4)
            sum += shared::readLe32(request, offset);
        EXPECT_EQ(sum, 0u) << "length " << length;
    }
}

TEST(RequestFields, UserEntriesPlaceEveryField)
{
    const auto request = userEntryRequest(0x105, {"alice", nullptr, "alice", nullptr, "pc7", "9876"},
                                          true);
    ASSERT_EQ(request.size(), 464u);
    EXPECT_EQ(shared::decodeHeader(request), (shared::MessageHeader{464, shared::kPcMagic, 0x105, 0}));
    const auto text = [&](size_t at) { return std::string(reinterpret_cast<const char*>(&request[16 + at])); };
    EXPECT_EQ(text(0), "alice");
    EXPECT_EQ(text(32), "");
    EXPECT_EQ(text(64), "alice");
    EXPECT_EQ(text(128), "pc7");
    EXPECT_EQ(text(384), "root");
    EXPECT_EQ(text(416), "9876");
}

TEST(Echo, RequestCarriesCountersTickAndPatternWithAValidChecksum)
{
    const auto packet = buildEchoRequest(1, 2, 0x11223344);
    ASSERT_EQ(packet.size(), 48u);
    EXPECT_EQ(packet[0], 8);
    EXPECT_EQ(internetChecksum(packet), 0) << "a correct checksum sums to zero";
    EXPECT_EQ(packet[5], 1);
    EXPECT_EQ(packet[7], 2);
    EXPECT_EQ(shared::readLe32(packet, 12), 0x11223344u);
    for (size_t i = 16; i < 48; ++i)
        EXPECT_EQ(packet[i], 0x20 + (i - 16));
}

TEST(Echo, OnlyTheMatchingReplyIsTakenWhateverTheIpHeaderLength)
{
    auto reply = buildEchoRequest(7, 9, 1234);
    reply[0] = 0; // echo reply
    const uint32_t unit = 0x0200007F;
    for (size_t ipLength : {20u, 24u, 60u}) {
        std::vector<uint8_t> datagram(ipLength, 0);
        datagram[0] = static_cast<uint8_t>(0x40 | ipLength / 4);
        datagram.insert(datagram.end(), reply.begin(), reply.end());
        const auto match = matchEchoReply(datagram, true, unit, unit, 7, 9, true);
        EXPECT_TRUE(match.matched) << ipLength;
        EXPECT_EQ(match.sentTick, 1234u);
        for (size_t n = 0; n < datagram.size() - 32; ++n)
            EXPECT_FALSE(matchEchoReply(std::span(datagram).first(n), true, unit, unit, 7, 9, true)
                             .matched)
                << "truncated at " << n;
    }
    EXPECT_FALSE(matchEchoReply(reply, false, unit, 0x0300007F, 7, 9, true).matched) << "other host";
    EXPECT_FALSE(matchEchoReply(reply, false, unit, unit, 8, 9, true).matched) << "other id";
    EXPECT_FALSE(matchEchoReply(reply, false, unit, unit, 7, 10, true).matched) << "other seq";
    auto request = buildEchoRequest(7, 9, 1234);
    EXPECT_FALSE(matchEchoReply(request, false, unit, unit, 7, 9, true).matched) << "a request";
}

// A connected socket pair: the test writes the unit's side.
struct Pair {
    Pair()
    {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        pc.reset(fds[0]);
        unit.reset(fds[1]);
    }
    void send(const std::vector<uint8_t>& bytes) const
    {
        ASSERT_EQ(::write(unit.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    platform::UniqueFd pc, unit;
};

std::vector<uint8_t> message(uint32_t length, size_t actualBytes)
{
    std::vector<uint8_t> bytes(actualBytes, 0xAB);
    shared::writeLe32(bytes, 0, length);
    return bytes;
}

TEST(FramedReceive, TakesExactlyTheLengthItSaysWithoutWaitingForMore)
{
    Pair pair;
    pair.send(message(20, 40)); // 20 announced, 40 sent
    std::vector<uint8_t> buffer(1024, 0);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(receiveFramed(pair.pc.get(), buffer, 5s), 20);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
    EXPECT_EQ(buffer[20], 0) << "nothing past the length is read";
}

TEST(FramedReceive, AssemblesAMessageArrivingInPieces)
{
    Pair pair;
    const auto whole = message(100, 100);
    std::jthread unit([&] {
        const size_t cuts[] = {0, 2, 5, 60, 100}; // the length word itself is split too
        for (size_t i = 0; i + 1 < std::size(cuts); ++i) {
            pair.send({whole.begin() + static_cast<std::ptrdiff_t>(cuts[i]),
                       whole.begin() + static_cast<std::ptrdiff_t>(cuts[i + 1])});
            std::this_thread::sleep_for(50ms);
        }
    });
    std::vector<uint8_t> buffer(1024, 0);
    EXPECT_EQ(receiveFramed(pair.pc.get(), buffer, 2s), 100);
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), buffer.begin()));
}

TEST(FramedReceive, OddLengthWordsNeverLeadOutsideTheBuffer)
{
    struct Case {
        uint32_t length;
        int64_t expected;
    };
    for (const Case c : {Case{0, 4}, Case{3, 4}, Case{8, 8}, Case{0xFFFFFFF0u, 4},
                         Case{0x80000000u, 4}, Case{5000, 64}}) {
        Pair pair;
        pair.send(message(c.length, 200));
        std::vector<uint8_t> buffer(64 + 8, 0x5A); // 8 guard bytes behind the capacity
        EXPECT_EQ(receiveFramed(pair.pc.get(), std::span(buffer).first(64), 2s), c.expected)
            << "length " << c.length;
        for (size_t i = 64; i < buffer.size(); ++i)
            EXPECT_EQ(buffer[i], 0x5A) << "wrote past the capacity";
    }
}

TEST(FramedReceive, PeerCloseEndsTheReceiveWithWhatArrived)
{
    Pair pair;
    pair.send(message(100, 30));
    pair.unit.reset();
    std::vector<uint8_t> buffer(1024, 0);
    EXPECT_EQ(receiveFramed(pair.pc.get(), buffer, 2s), 30);
}

TEST(FramedReceive, TimeOutAppliesToEachWait)
{
    Pair pair;
    std::vector<uint8_t> buffer(64, 0);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(receiveFramed(pair.pc.get(), buffer, 200ms), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 200ms);
}

TEST(ExchangeResult, MapsFailuresToTheExportResult)
{
    EXPECT_EQ((ExchangeResult{ExchangeResult::Kind::Failed, 0, 0, 0, 0}.exportResult()),
              0x80000004u);
    EXPECT_EQ((ExchangeResult{ExchangeResult::Kind::NoConnection, 10061, 0, 0, 0}.exportResult()),
              10061u);
    EXPECT_EQ((ExchangeResult{ExchangeResult::Kind::Reply, 0x84, 16, 0, 0}.exportResult()), 0x84u);
}

} // namespace
} // namespace lumarc::mgmt
