// ICMP echo with matching of the reply.
#include "echo.h"

#include "commands.h"
#include "diagnostics.h"

#include "platform/net_socket.h"
#include "platform/tick_count.h"
#include "shared/message_header.h"

#include <atomic>
#include <chrono>

namespace lumarc::mgmt {
namespace {

constexpr int32_t kDefaultEchoSeconds = 5;
constexpr size_t kEchoReceiveSize = 324;
constexpr uint8_t kEchoRequestType = 8;
constexpr uint8_t kEchoReplyType = 0;
constexpr size_t kTickOffset = 12;

std::atomic<uint16_t> g_identifier{0};
std::atomic<uint16_t> g_sequence{0};

uint16_t readBe16(std::span<const uint8_t> bytes, size_t offset)
{
    return static_cast<uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

} // namespace

uint16_t internetChecksum(std::span<const uint8_t> bytes)
{
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += static_cast<uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (i < bytes.size())
        sum += static_cast<uint32_t>(bytes[i] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

std::vector<uint8_t> buildEchoRequest(uint16_t identifier, uint16_t sequence, uint32_t tick)
{
    std::vector<uint8_t> packet(kEchoRequestSize, 0);
    packet[0] = kEchoRequestType;
    packet[4] = static_cast<uint8_t>(identifier >> 8);
    packet[5] = static_cast<uint8_t>(identifier);
    packet[6] = static_cast<uint8_t>(sequence >> 8);
    packet[7] = static_cast<uint8_t>(sequence);
    shared::writeLe32(packet, kTickOffset, tick);
    for (size_t i = 16; i < kEchoRequestSize; ++i)
        packet[i] = static_cast<uint8_t>(0x20 + (i - 16));
    const uint16_t checksum = internetChecksum(packet);
    packet[2] = static_cast<uint8_t>(checksum >> 8);
    packet[3] = static_cast<uint8_t>(checksum);
    return packet;
}

EchoMatch matchEchoReply(std::span<const uint8_t> datagram, bool withIpHeader,
                         uint32_t unitAddress, uint32_t sourceAddress, uint16_t identifier,
                         uint16_t sequence, bool checkIdentifier)
{
    if (sourceAddress != unitAddress)
        return {};
    std::span<const uint8_t> icmp = datagram;
    if (withIpHeader) {
        if (datagram.empty())
            return {};
        const size_t headerLength = static_cast<size_t>(datagram[0] & 0x0F) * 4;
        if (headerLength < 20 || headerLength > datagram.size())
            return {};
        icmp = datagram.subspan(headerLength);
    }
    if (icmp.size() < kTickOffset + 4 || icmp[0] != kEchoReplyType)
        return {};
    if ((checkIdentifier && readBe16(icmp, 4) != identifier) || readBe16(icmp, 6) != sequence)
        return {};
    return {true, shared::readLe32(icmp, kTickOffset)};
}

uint32_t echoUnit(const char* unit, int32_t* timeoutInOutTime)
{
    const UnitTarget target = prepareUnit(unit);
    if (!target.address)
        return target.result == kNotStarted ? target.result : 1u;
    const int32_t seconds = timeoutInOutTime != nullptr ? *timeoutInOutTime : kDefaultEchoSeconds;
    const uint16_t identifier = ++g_identifier;
    const uint16_t sequence = ++g_sequence;

    auto socket = platform::openIcmp(identifier);
    if (!socket) {
        logFailure(event::kEcho, category::kSocketFailed);
        return reportError("Error socket()\n", socket.error().code);
    }
    const int fd = socket->fd.get();
    const bool raw = socket->kind == platform::IcmpKind::Raw;
    const auto request = buildEchoRequest(identifier, sequence, platform::tickCount());
    if (auto sent = platform::sendDatagram(fd, {*target.address, 0}, request); !sent) {
        logFailure(event::kEcho, category::kSendFailed);
        return 1;
    }

    // Other ICMP traffic (our own request on loopback, other programs'
    // echoes, errors) is skipped until the time-out.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(std::max(seconds, 0));
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        auto ready = platform::waitReadable(fd, std::max(left, std::chrono::milliseconds(0)));
        if (!ready) {
            logFailure(event::kEcho, category::kWaitFailed);
            return 1;
        }
        if (!*ready) {
            logFailure(event::kEcho, category::kWaitTimedOut);
            return 1;
        }
        uint8_t datagram[kEchoReceiveSize] = {};
        platform::Endpoint from;
        auto got = platform::receiveDatagram(fd, datagram, &from);
        if (!got) {
            logFailure(event::kEcho, category::kReceiveFailed);
            return 1;
        }
        // The datagram kernel socket rewrites the identifier itself.
        const EchoMatch match =
            matchEchoReply(std::span(datagram, *got), raw, *target.address, from.address,
                           identifier, sequence, raw);
        if (!match.matched)
            continue;
        if (timeoutInOutTime != nullptr)
            *timeoutInOutTime = static_cast<int32_t>(platform::tickCount() - match.sentTick);
        logSuccess(6000);
        return 0;
    }
}

} // namespace lumarc::mgmt
