// Sockets for the protocol code: TCP connections with time-outs, listeners,
// datagrams and ICMP, with every failure reported as a Windows Sockets code.
//
// Addresses are IPv4 in network byte order, as resolveUnitAddress gives them.
// Every wait has a time-out; functions that block say how long.
#pragma once

#include "result.h"
#include "unique_fd.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace lumarc::platform {

struct Endpoint {
    uint32_t address = 0; // network byte order
    uint16_t port = 0;    // host byte order
    bool operator==(const Endpoint&) const = default;
};

std::string endpointText(const Endpoint& endpoint); // "192.0.2.7:10002"

// A new TCP socket (not connected).
Result<UniqueFd> tcpSocket();

// Connects a new TCP socket, waiting at most timeout; on failure the socket
// is of no further use. TCP_NODELAY is set on success.
Status connectSocket(int fd, const Endpoint& to, std::chrono::milliseconds timeout);

// Connects a new TCP socket, waiting at most timeout, for a connection that
// carries one exchange: the time-out stays on the socket as its send
// time-out (sendAllUnbounded then sends regardless of it), and TCP_NODELAY
// is not set (setNoDelay). Two system calls fewer than connectSocket.
Status connectKeepingTimeout(int fd, const Endpoint& to, std::chrono::milliseconds timeout);

// Sends small segments at once, whatever is unacknowledged.
Status setNoDelay(int fd);

// Makes close() reset the connection, as closing it with bytes unread does.
void resetOnClose(int fd);

// Binds a socket to a local address and port (SO_REUSEADDR, so a restarted
// server binds at once while old connections linger). Fails with 10048 when
// another socket listens there.
Status bindSocket(int fd, const Endpoint& at);

// Listens with the largest backlog the system allows.
Status listenSocket(int fd);

// tcpSocket and connectSocket in one, waiting at most timeout. TCP_NODELAY is set: the
// protocols send small requests and wait for the answer. Fails with 10061
// (refused), 10060 (timed out), 10065 (unreachable), ...
Result<UniqueFd> connectTcp(const Endpoint& to, std::chrono::milliseconds timeout);

// A listening TCP socket (SO_REUSEADDR, so a restarted server can bind at
// once; TCP_NODELAY, which the connections it accepts inherit). Fails with
// 10048 when another socket has the port.
Result<UniqueFd> listenTcp(const Endpoint& at, int backlog = 16);

// Makes fd (a listening socket: the connections it accepts inherit this)
// send without pacing, by choosing a congestion control that does not pace
// (cubic, else reno). A pacing one, which may be the system's default,
// holds a loopback connection to its estimate of the path's bandwidth, and a
// connection can keep a low estimate for its whole life: servers that stand
// for a unit, whose own stack paces nothing, use this. Best effort.
void sendWithoutPacing(int fd);

// Accepts one connection; TCP_NODELAY is set on it. The peer is stored in
// peer when it is not null.
Result<UniqueFd> acceptTcp(int listenFd, Endpoint* peer = nullptr);

// Makes later calls on fd return at once (accept then fails with 10035 when
// no connection waits).
Status setNonBlocking(int fd);

// Bounds every later blocking send on fd: it then fails with 10060.
Status setSendTimeout(int fd, std::chrono::milliseconds timeout);

// Keep-alive probing on a connection: idle seconds, interval, probes.
Status setKeepAlive(int fd, int idleSeconds, int intervalSeconds, int probes);

// Sends every byte (never raises SIGPIPE).
Status sendAll(int fd, std::span<const uint8_t> bytes);

// Sends every byte, however long the peer takes to accept them, also on a
// socket with a send time-out (connectKeepingTimeout): a send that waits
// that long removes the time-out and goes on (never raises SIGPIPE).
Status sendAllUnbounded(int fd, std::span<const uint8_t> bytes);

// Sends several buffers as one stream in as few system calls as possible,
// so that a header and its data leave together.
Status sendAllParts(int fd, std::span<const std::span<const uint8_t>> parts);

// Waits until fd is readable (or the peer closed), or the time-out passes;
// true when readable. A negative time-out waits without end. With a wake
// descriptor (an eventfd, -1 for none) the wait also ends when it becomes
// readable, reported as Error code 995 (operation aborted).
Result<bool> waitReadable(int fd, std::chrono::milliseconds timeout, int wakeFd = -1);

// Waits until at least bytes bytes can be read from a TCP socket (or the
// peer closed, or an error is pending), or the time-out passes; true unless
// it timed out.
Result<bool> waitReadableAtLeast(int fd, size_t bytes, std::chrono::milliseconds timeout);

// Reads what is there, at most bytes.size(); 0 means the peer closed.
Result<size_t> receiveSome(int fd, std::span<uint8_t> bytes);

// Reads what is there without waiting: nullopt when nothing has arrived.
Result<std::optional<size_t>> tryReceive(int fd, std::span<uint8_t> bytes);

// Looks at what is there without taking it and without waiting: nullopt
// when nothing has arrived, 0 when the peer closed.
Result<std::optional<size_t>> tryPeek(int fd, std::span<uint8_t> bytes);

// Bounds every later blocking receive on fd: receiveWithin then fails with
// 10060 when nothing arrives within timeout (a negative one never expires).
Status setReceiveTimeout(int fd, std::chrono::milliseconds timeout);

// A blocking read bounded by the receive time-out: what is there, at most
// bytes.size(); 0 means the peer closed; Error 10060 when the time-out passed.
Result<size_t> receiveWithin(int fd, std::span<uint8_t> bytes);

// Reads until every part is full, in as few system calls as possible, each
// wait bounded by the receive time-out. Returns the bytes received: fewer
// than asked means the peer closed the connection. Error 10060 when the
// time-out passed; the bytes taken before an error go to *taken when it is
// not null.
Result<size_t> receiveAllParts(int fd, std::span<const std::span<uint8_t>> parts,
                               size_t* taken = nullptr);

// Shuts a connection down in both directions.
void shutdownBoth(int fd);

// The local and remote ends of a socket.
Result<Endpoint> localEndpoint(int fd);
Result<Endpoint> peerEndpoint(int fd);

// UDP: a socket bound to at (SO_REUSEADDR and SO_REUSEPORT, so several
// listeners on one machine share a port).
Result<UniqueFd> bindUdp(const Endpoint& at);

// Allows sending to broadcast addresses from a UDP socket.
Status enableBroadcast(int fd);
Status sendDatagram(int fd, const Endpoint& to, std::span<const uint8_t> bytes);
// One datagram, at most bytes.size() of it; the sender goes to from.
Result<size_t> receiveDatagram(int fd, std::span<uint8_t> bytes, Endpoint* from);

// One datagram if one is waiting: nullopt when none is.
Result<std::optional<size_t>> tryReceiveDatagram(int fd, std::span<uint8_t> bytes);

// The kernel's receive buffer of a socket, in bytes (best effort).
void setReceiveBuffer(int fd, int bytes);

// ICMP echo. A raw socket when allowed (replies then start with the IPv4
// header), else the unprivileged ICMP datagram socket (replies without IP
// header, identifier chosen by binding). kind tells which one was made.
enum class IcmpKind { Raw, Datagram };
struct IcmpSocket {
    UniqueFd fd;
    IcmpKind kind = IcmpKind::Raw;
};
// identifier is used by the datagram kind, whose kernel writes the bound
// "port" into the echo's identifier field.
Result<IcmpSocket> openIcmp(uint16_t identifier);

} // namespace lumarc::platform
