// The benchmark servers speak the protocols exactly, or the ratios measured
// against them would compare different work.
#include "bench/clients.h"
#include "bench/responders.h"
#include "platform/unit_address.h"
#include "shared/message_header.h"
#include "unitsim/simulated_scanner.h"
#include "unitsim/unit_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace lumarc::bench {
namespace {

constexpr const char* kFast = "127.0.0.4";
constexpr const char* kBare = "127.0.0.5";

uint32_t address(const char* text)
{
    return *platform::resolveUnitAddress(text);
}

std::vector<uint8_t> request(uint32_t code)
{
    std::vector<uint8_t> r(16, 0);
    shared::writeHeader(r, {16, shared::kPcMagic, code, 0});
    return r;
}

std::vector<uint8_t> unitReply(uint32_t code)
{
    unitsim::UnitConfig config;
    config.address = address(kFast);
    return unitsim::UnitState(config).handle(request(code));
}

TEST(FastResponder, AnswersManagementQueriesAsASimulatedUnitDoes)
{
    auto fast = FastResponder::start(address(kFast));
    ASSERT_TRUE(fast) << fast.error().text;
    for (uint32_t code : {0x140u, 0x20u, 0x10u, 0x05u}) {
        const auto expected = unitReply(code);
        std::vector<uint8_t> reply(expected.size());
        ASSERT_TRUE(plainExchange(address(kFast), request(code), reply)) << code;
        EXPECT_EQ(reply, expected) << code;
    }
    const auto unknown = unitReply(0x777);
    std::vector<uint8_t> reply(unknown.size());
    ASSERT_TRUE(plainExchange(address(kFast), request(0x777), reply));
    EXPECT_EQ(reply, unknown);
    // One exchange per connection: nothing follows the reply but the close.
    std::vector<uint8_t> more(unitReply(0x140).size() + 1);
    EXPECT_FALSE(plainExchange(address(kFast), request(0x140), more));
}

TEST(FastResponder, TunnelRepliesCarryTheLengthAskedForAndStayInStep)
{
    auto fast = FastResponder::start(address(kFast));
    ASSERT_TRUE(fast) << fast.error().text;
    PlainTunnelClient first(address(kFast));
    PlainTunnelClient second(address(kFast));
    ASSERT_TRUE(first.connected() && second.connected());

    std::vector<uint8_t> data(kMaxTunnelData, 0xCC);
    ASSERT_TRUE(first.run({0x12, 0, 0, 0, 96, 0}, data.data(), 200, true));
    const auto inquiry = unitsim::inquiryData(unitsim::builtInScanners().front());
    EXPECT_TRUE(std::equal(inquiry.begin(), inquiry.end(), data.begin()));
    EXPECT_EQ(data[150], 0) << "padded with zeros to the length asked for";
    EXPECT_EQ(data[200], 0xCC) << "and not a byte more";

    // A request with data-out, then reads on both connections in turn.
    std::vector<uint8_t> window(48, 7);
    ASSERT_TRUE(second.run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, window.data(), 48, false));
    for (int i = 0; i < 3; ++i) {
        for (PlainTunnelClient* c : {&first, &second}) {
            std::fill(data.begin(), data.end(), 0xCC);
            ASSERT_TRUE(c->run({0x28, 0, 0, 0, 0, 0, 0x08, 0, 0, 0}, data.data(),
                               kMaxTunnelData, true));
            EXPECT_EQ(data, chartBytes());
        }
    }
}

// The hand-off reference is a bound only if it does the same work: every
// reply whole, in the caller's buffer, in order, many times over (its worker
// must never touch a request the caller has moved past).
TEST(HandOffClient, DeliversEveryReplyWholeAndInOrderAndFailsWhenTheServerGoes)
{
    auto fast = FastResponder::start(address(kFast));
    ASSERT_TRUE(fast) << fast.error().text;
    HandOffTunnelClient client(address(kFast));
    ASSERT_TRUE(client.connected());
    const auto inquiry = unitsim::inquiryData(unitsim::builtInScanners().front());
    const auto shown = static_cast<ptrdiff_t>(std::min<size_t>(inquiry.size(), 96));
    std::vector<uint8_t> window(48, 7);
    std::vector<uint8_t> data(kMaxTunnelData + 1);
    for (int i = 0; i < 2000; ++i) {
        std::fill(data.begin(), data.end(), 0xCC);
        if (i % 10 == 0) {
            ASSERT_TRUE(client.run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, window.data(), 48, false));
        } else if (i % 2 == 0) {
            ASSERT_TRUE(client.run({0x28, 0, 0, 0, 0, 0, 0x08, 0, 0, 0}, data.data(),
                                   kMaxTunnelData, true));
            ASSERT_TRUE(std::equal(chartBytes().begin(), chartBytes().end(), data.begin())) << i;
            ASSERT_EQ(data[kMaxTunnelData], 0xCC) << i;
        } else {
            ASSERT_TRUE(client.run({0x12, 0, 0, 0, 96, 0}, data.data(), 96, true));
            ASSERT_TRUE(std::equal(inquiry.begin(), inquiry.begin() + shown, data.begin())) << i;
            ASSERT_EQ(data[96], 0xCC) << i;
        }
    }
    fast->reset();
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.run({0x12, 0, 0, 0, 96, 0}, data.data(), 96, true));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5))
        << "a closed connection ends the wait, not the 30-second limit";
}

TEST(BareServer, ExchangesTheSameBytesWithoutParsingThem)
{
    auto bare = BareServer::start(address(kBare));
    ASSERT_TRUE(bare) << bare.error().text;
    const auto expected = unitReply(0x140);
    std::vector<uint8_t> reply(expected.size());
    ASSERT_TRUE(plainExchange(address(kBare), request(0x140), reply));
    EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 16, reply.end()),
              std::vector<uint8_t>(expected.begin() + 16, expected.end()))
        << "the name record";

    PlainTunnelClient client(address(kBare));
    ASSERT_TRUE(client.connected());
    std::vector<uint8_t> window(48, 7);
    ASSERT_TRUE(client.run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, window.data(), 48, false));
    std::vector<uint8_t> data(4096, 0xCC);
    ASSERT_TRUE(client.run({0x28, 0, 0, 0, 0, 0x10, 0, 0, 0, 0}, data.data(), 4000, true));
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 4000, chartBytes().begin()));
    EXPECT_EQ(data[4000], 0xCC);
}

TEST(Responders, StopPromptlyWithConnectionsOpen)
{
    auto fast = FastResponder::start(address(kFast));
    auto bare = BareServer::start(address(kBare));
    ASSERT_TRUE(fast && bare);
    PlainTunnelClient a(address(kFast));
    PlainTunnelClient b(address(kBare));
    ASSERT_TRUE(a.connected() && b.connected());
    const auto begin = std::chrono::steady_clock::now();
    fast->reset();
    bare->reset();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1));
    uint8_t byte;
    EXPECT_FALSE(a.run({0x00, 0, 0, 0, 0, 0}, &byte, 0, true)) << "closed by the stop";
}

} // namespace
} // namespace lumarc::bench
