// Socket helpers over the BSD socket interface.
#include "net_socket.h"

#include "error_codes.h"
#include "unit_address.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <vector>
#include <sys/time.h>

namespace lumarc::platform {
namespace {

sockaddr_in toSockaddr(const Endpoint& endpoint)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = endpoint.address;
    return address;
}

Endpoint fromSockaddr(const sockaddr_in& address)
{
    return Endpoint{address.sin_addr.s_addr, ntohs(address.sin_port)};
}

timeval toTimeval(std::chrono::milliseconds timeout)
{
    timeval tv{};
    if (timeout.count() > 0) {
        tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
        tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    } else if (timeout.count() == 0) {
        tv.tv_usec = 1; // zero would mean "no time-out"
    }
    return tv;
}

// Moves past done bytes of the parts from index first on; returns the index
// of the first part not yet complete (its start adjusted).
size_t advanceParts(std::vector<iovec>& parts, size_t first, size_t done)
{
    while (first < parts.size() && done >= parts[first].iov_len) {
        done -= parts[first].iov_len;
        ++first;
    }
    if (first < parts.size()) {
        parts[first].iov_base = static_cast<uint8_t*>(parts[first].iov_base) + done;
        parts[first].iov_len -= done;
    }
    return first;
}

int pollMs(std::chrono::milliseconds timeout)
{
    if (timeout.count() < 0)
        return -1;
    return static_cast<int>(std::min<int64_t>(timeout.count(), 1 << 30));
}

} // namespace

std::string endpointText(const Endpoint& endpoint)
{
    return addressText(endpoint.address) + ":" + std::to_string(endpoint.port);
}

Result<UniqueFd> tcpSocket()
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return socketError("socket", errno);
    return fd;
}

Status connectSocket(int fd, const Endpoint& to, std::chrono::milliseconds timeout)
{
    // A send time-out bounds a blocking connect, which then fails with
    // EINPROGRESS: one system call instead of non-blocking connect and poll.
    const timeval tv = toTimeval(timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const sockaddr_in address = toSockaddr(to);
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        return socketError("connect " + endpointText(to), errno == EINPROGRESS ? ETIMEDOUT : errno);
    const timeval none{};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
    (void)setNoDelay(fd);
    return {};
}

Status connectKeepingTimeout(int fd, const Endpoint& to, std::chrono::milliseconds timeout)
{
    const timeval tv = toTimeval(timeout);
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0)
        return socketError("send time-out", errno);
    const sockaddr_in address = toSockaddr(to);
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        return socketError("connect " + endpointText(to), errno == EINPROGRESS ? ETIMEDOUT : errno);
    return {};
}

Status setNoDelay(int fd)
{
    const int on = 1;
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
        return socketError("no delay", errno);
    return {};
}

void resetOnClose(int fd)
{
    const linger now{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
}

Status bindSocket(int fd, const Endpoint& at)
{
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = toSockaddr(at);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return socketError("bind " + endpointText(at), errno);
    return {};
}

Status listenSocket(int fd)
{
    if (::listen(fd, SOMAXCONN) != 0)
        return socketError("listen", errno);
    return {};
}

Result<UniqueFd> connectTcp(const Endpoint& to, std::chrono::milliseconds timeout)
{
    auto fd = tcpSocket();
    if (!fd)
        return fd;
    if (auto connected = connectSocket(fd->get(), to, timeout); !connected)
        return connected.error();
    return fd;
}

Result<UniqueFd> listenTcp(const Endpoint& at, int backlog)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return socketError("socket", errno);
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Accepted connections inherit it: no system call per connection.
    (void)setNoDelay(fd.get());
    const sockaddr_in address = toSockaddr(at);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return socketError("bind " + endpointText(at), errno);
    if (::listen(fd.get(), backlog) != 0)
        return socketError("listen " + endpointText(at), errno);
    return fd;
}

void sendWithoutPacing(int fd)
{
    for (const char* control : {"cubic", "reno"})
        if (::setsockopt(fd, IPPROTO_TCP, TCP_CONGESTION, control,
                         static_cast<socklen_t>(std::strlen(control))) == 0)
            return;
}

Result<UniqueFd> acceptTcp(int listenFd, Endpoint* peer)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    int fd;
    do {
        fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return socketError("accept", errno);
    (void)setNoDelay(fd);
    if (peer != nullptr)
        *peer = fromSockaddr(address);
    return UniqueFd(fd);
}

Status setNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return socketError("non-blocking mode", errno);
    return {};
}

Status setSendTimeout(int fd, std::chrono::milliseconds timeout)
{
    const timeval tv = toTimeval(timeout);
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0)
        return socketError("send time-out", errno);
    return {};
}

Status setKeepAlive(int fd, int idleSeconds, int intervalSeconds, int probes)
{
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds) != 0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds) !=
            0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) != 0)
        return socketError("keep-alive", errno);
    return {};
}

Status sendAll(int fd, std::span<const uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return socketError("send", errno);
        }
        bytes = bytes.subspan(static_cast<size_t>(n));
    }
    return {};
}

Status sendAllUnbounded(int fd, std::span<const uint8_t> bytes)
{
    bool bounded = true;
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && bounded) {
                // The send time-out expired: from now on wait without one.
                const timeval none{};
                if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none) != 0)
                    return socketError("send time-out", errno);
                bounded = false;
                continue;
            }
            return socketError("send", errno);
        }
        bytes = bytes.subspan(static_cast<size_t>(n));
    }
    return {};
}

Status sendAllParts(int fd, std::span<const std::span<const uint8_t>> parts)
{
    std::vector<iovec> vectors;
    vectors.reserve(parts.size());
    for (const auto& part : parts)
        if (!part.empty())
            vectors.push_back({const_cast<uint8_t*>(part.data()), part.size()});
    size_t first = 0;
    while (first < vectors.size()) {
        msghdr message{};
        message.msg_iov = &vectors[first];
        message.msg_iovlen = vectors.size() - first;
        const ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return socketError("send", errno);
        }
        // Skip what went out; a partly sent buffer continues where it stopped.
        first = advanceParts(vectors, first, static_cast<size_t>(n));
    }
    return {};
}

Result<bool> waitReadable(int fd, std::chrono::milliseconds timeout, int wakeFd)
{
    pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const nfds_t count = wakeFd >= 0 ? 2 : 1;
    int n;
    do {
        n = ::poll(p, count, pollMs(timeout));
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return socketError("poll", errno);
    if (count == 2 && (p[1].revents & POLLIN) != 0)
        return Error{win32::kOperationAborted, "wait ended for shut-down"};
    return n > 0;
}

Result<bool> waitReadableAtLeast(int fd, size_t bytes, std::chrono::milliseconds timeout)
{
    // The low-water mark makes poll report readiness only once that much
    // has arrived; it goes back to one byte before returning.
    const int mark = static_cast<int>(std::min<size_t>(std::max<size_t>(bytes, 1), 1 << 20));
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &mark, sizeof mark) != 0)
        return socketError("receive low-water mark", errno);
    auto ready = waitReadable(fd, timeout);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &one, sizeof one);
    return ready;
}

Result<size_t> receiveSome(int fd, std::span<uint8_t> bytes)
{
    for (;;) {
        const ssize_t n = ::recv(fd, bytes.data(), bytes.size(), 0);
        if (n >= 0)
            return static_cast<size_t>(n);
        if (errno != EINTR)
            return socketError("recv", errno);
    }
}

Status setReceiveTimeout(int fd, std::chrono::milliseconds timeout)
{
    const timeval tv = toTimeval(timeout);
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0)
        return socketError("receive time-out", errno);
    return {};
}

Result<size_t> receiveWithin(int fd, std::span<uint8_t> bytes)
{
    for (;;) {
        const ssize_t n = ::recv(fd, bytes.data(), bytes.size(), 0);
        if (n >= 0)
            return static_cast<size_t>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return socketError("recv", ETIMEDOUT);
        if (errno != EINTR)
            return socketError("recv", errno);
    }
}

Result<size_t> receiveAllParts(int fd, std::span<const std::span<uint8_t>> parts, size_t* taken)
{
    std::vector<iovec> vectors;
    vectors.reserve(parts.size());
    for (const auto& part : parts)
        if (!part.empty())
            vectors.push_back({part.data(), part.size()});
    size_t total = 0;
    size_t first = 0;
    const auto failed = [&](int error) {
        if (taken != nullptr)
            *taken = total;
        return socketError("recv", error);
    };
    while (first < vectors.size()) {
        msghdr message{};
        message.msg_iov = &vectors[first];
        message.msg_iovlen = vectors.size() - first;
        const ssize_t n = ::recvmsg(fd, &message, MSG_WAITALL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return failed(ETIMEDOUT);
            return failed(errno);
        }
        if (n == 0)
            break; // the peer closed
        total += static_cast<size_t>(n);
        first = advanceParts(vectors, first, static_cast<size_t>(n));
    }
    return total;
}

void shutdownBoth(int fd)
{
    ::shutdown(fd, SHUT_RDWR);
}

Result<Endpoint> localEndpoint(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return socketError("getsockname", errno);
    return fromSockaddr(address);
}

Result<Endpoint> peerEndpoint(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return socketError("getpeername", errno);
    return fromSockaddr(address);
}

Status enableBroadcast(int fd)
{
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return socketError("broadcast option", errno);
    return {};
}

Result<UniqueFd> bindUdp(const Endpoint& at)
{
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return socketError("socket", errno);
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    const sockaddr_in address = toSockaddr(at);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return socketError("bind " + endpointText(at), errno);
    return fd;
}

Status sendDatagram(int fd, const Endpoint& to, std::span<const uint8_t> bytes)
{
    const sockaddr_in address = toSockaddr(to);
    ssize_t n;
    do {
        n = ::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return socketError("sendto " + endpointText(to), errno);
    if (static_cast<size_t>(n) != bytes.size())
        return Error{wsa::kMessageSize, "sendto " + endpointText(to) + ": datagram cut short"};
    return {};
}

Result<size_t> receiveDatagram(int fd, std::span<uint8_t> bytes, Endpoint* from)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ssize_t n;
    do {
        n = ::recvfrom(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address),
                       &length);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return socketError("recvfrom", errno);
    if (from != nullptr)
        *from = fromSockaddr(address);
    return static_cast<size_t>(n);
}

namespace {

Result<std::optional<size_t>> receiveNow(int fd, std::span<uint8_t> bytes, int flags)
{
    for (;;) {
        const ssize_t n = ::recv(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | flags);
        if (n >= 0)
            return std::optional<size_t>(static_cast<size_t>(n));
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return std::optional<size_t>();
        if (errno != EINTR)
            return socketError("recv", errno);
    }
}

} // namespace

Result<std::optional<size_t>> tryReceive(int fd, std::span<uint8_t> bytes)
{
    return receiveNow(fd, bytes, 0);
}

Result<std::optional<size_t>> tryPeek(int fd, std::span<uint8_t> bytes)
{
    return receiveNow(fd, bytes, MSG_PEEK);
}

Result<std::optional<size_t>> tryReceiveDatagram(int fd, std::span<uint8_t> bytes)
{
    return receiveNow(fd, bytes, 0);
}

void setReceiveBuffer(int fd, int bytes)
{
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

Result<IcmpSocket> openIcmp(uint16_t identifier)
{
    UniqueFd raw(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (raw)
        return IcmpSocket{std::move(raw), IcmpKind::Raw};
    const int rawError = errno;
    UniqueFd dgram(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!dgram)
        return socketError("ICMP socket (raw refused too)", rawError);
    const sockaddr_in address = toSockaddr(Endpoint{0, identifier});
    if (::bind(dgram.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return socketError("bind ICMP identifier", errno);
    return IcmpSocket{std::move(dgram), IcmpKind::Datagram};
}

} // namespace lumarc::platform
