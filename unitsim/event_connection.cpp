// Button presses from the simulated unit.
#include "event_connection.h"

#include "platform/error_codes.h"
#include "shared/message_header.h"

#include <cstring>

namespace lumarc::unitsim {
namespace {

constexpr size_t kEventMessageSize = 80;

// Reads exactly 16 bytes within the time-out; nullopt otherwise.
std::optional<shared::MessageHeader> readHeader(int fd, std::chrono::milliseconds timeout)
{
    uint8_t bytes[shared::kHeaderSize];
    size_t got = 0;
    if (!platform::setReceiveTimeout(fd, timeout))
        return std::nullopt;
    while (got < sizeof bytes) {
        auto n = platform::receiveWithin(fd, std::span(bytes).subspan(got));
        if (!n || *n == 0)
            return std::nullopt;
        got += *n;
    }
    return shared::decodeHeader(bytes);
}

} // namespace

std::vector<uint8_t> encodeEventMessage(const EventMessage& message)
{
    std::vector<uint8_t> bytes(kEventMessageSize, 0);
    shared::writeHeader(bytes, {static_cast<uint32_t>(kEventMessageSize), message.magic,
                                message.code, message.flags});
    std::memcpy(&bytes[16], message.user.data(), std::min<size_t>(message.user.size(), 32));
    if (message.truncateTo)
        bytes.resize(std::min(*message.truncateTo, bytes.size()));
    return bytes;
}

Result<EventConnection> EventConnection::open(uint32_t unitAddress, const platform::Endpoint& pc,
                                              std::chrono::milliseconds timeout)
{
    auto fd = platform::tcpSocket();
    if (!fd)
        return fd.error();
    // The PC learns the unit from the connection's source address.
    if (auto bound = platform::bindSocket(fd->get(), {unitAddress, 0}); !bound)
        return bound.error();
    if (auto connected = platform::connectSocket(fd->get(), pc, timeout); !connected)
        return connected.error();
    const auto greeting = readHeader(fd->get(), timeout);
    if (!greeting)
        return Error{platform::wsa::kTimedOut, "no greeting from " + platform::endpointText(pc)};
    return EventConnection(std::move(*fd), greeting->code);
}

Result<bool> EventConnection::send(const EventMessage& message, std::chrono::milliseconds timeout)
{
    if (auto sent = platform::sendAll(m_fd.get(), encodeEventMessage(message)); !sent)
        return sent.error();
    const auto ack = readHeader(m_fd.get(), timeout);
    return ack.has_value() && ack->code == 0;
}

Status EventConnection::sendBurst(std::span<const EventMessage> messages)
{
    for (const EventMessage& message : messages)
        if (auto sent = platform::sendAll(m_fd.get(), encodeEventMessage(message)); !sent)
            return sent;
    return {};
}

size_t EventConnection::acknowledgements(size_t count, std::chrono::milliseconds timeout)
{
    size_t acked = 0;
    while (acked < count) {
        const auto ack = readHeader(m_fd.get(), timeout);
        if (!ack || ack->code != 0)
            break;
        ++acked;
    }
    return acked;
}

bool EventConnection::closedByPeer(std::chrono::milliseconds timeout)
{
    if (!platform::setReceiveTimeout(m_fd.get(), timeout))
        return false;
    uint8_t byte;
    auto n = platform::receiveWithin(m_fd.get(), std::span(&byte, 1));
    return n && *n == 0;
}

} // namespace lumarc::unitsim
