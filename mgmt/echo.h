// Reachability test: one ICMP echo to a unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lumarc::mgmt {

constexpr size_t kEchoRequestSize = 48;

// The 48-byte echo request: type 8, code 0, checksum, identifier and
// sequence (network byte order), 4 zero bytes, the tick count (little-endian)
// at offset 12, then the bytes 0x20 to 0x3F.
std::vector<uint8_t> buildEchoRequest(uint16_t identifier, uint16_t sequence, uint32_t tick);

// The Internet checksum (RFC 1071) of bytes.
uint16_t internetChecksum(std::span<const uint8_t> bytes);

// The echo reply that matches a request, found in a received datagram that
// may start with an IPv4 header (of any length) or directly with the ICMP
// message. Returns the tick count the request carried, or nothing when the
// datagram is not that reply.
struct EchoMatch {
    bool matched = false;
    uint32_t sentTick = 0;
};
EchoMatch matchEchoReply(std::span<const uint8_t> datagram, bool withIpHeader,
                         uint32_t unitAddress, uint32_t sourceAddress, uint16_t identifier,
                         uint16_t sequence, bool checkIdentifier);

// Zorvan_EchoRequests: 0 when the reply arrived (the echo time is written to
// *timeoutInOutTime when it is not null; in, it is the time-out in seconds,
// null meaning 5), 1 otherwise, or the Windows Sockets code when no ICMP
// socket could be made.
uint32_t echoUnit(const char* unit, int32_t* timeoutInOutTime);

} // namespace lumarc::mgmt
