// The benchmark servers. They talk to sockets directly: they stand for the
// wire, and every system call they make is one a benchmark pays for.
#include "responders.h"

#include "shared/message_header.h"
#include "unitsim/simulated_scanner.h"
#include "unitsim/unit_state.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace lumarc::bench {
namespace {

constexpr size_t kManagementLimit = 2 * 1024 * 1024;
constexpr uint64_t kStopKey = ~uint64_t{0};
constexpr uint64_t kTunnelListenerKey = kStopKey - 1;
constexpr uint64_t kManagementListenerKey = kStopKey - 2;

Result<platform::UniqueFd> listenOn(uint32_t address, uint16_t port)
{
    auto listener = platform::listenTcp({address, port}, 64);
    // They stand for the wire: nothing throttles what they send.
    if (listener)
        platform::sendWithoutPacing(listener->get());
    return listener;
}

bool sendAll(int fd, const iovec* parts, size_t count)
{
    std::array<iovec, 2> left{};
    std::copy(parts, parts + count, left.begin());
    size_t first = 0;
    while (first < count) {
        msghdr message{};
        message.msg_iov = &left[first];
        message.msg_iovlen = count - first;
        const ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd room{fd, POLLOUT, 0};
            if (::poll(&room, 1, 10000) == 1)
                continue;
        }
        if (n < 0)
            return false;
        auto done = static_cast<size_t>(n);
        while (first < count && done >= left[first].iov_len)
            done -= left[first++].iov_len;
        if (first < count) {
            left[first].iov_base = static_cast<uint8_t*>(left[first].iov_base) + done;
            left[first].iov_len -= done;
        }
    }
    return true;
}

bool readExactly(int fd, uint8_t* into, size_t length)
{
    size_t got = 0;
    while (got < length) {
        const ssize_t n = ::recv(fd, into + got, length - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

void makeBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

std::vector<uint8_t> managementRequest(uint32_t code)
{
    std::vector<uint8_t> request(shared::kHeaderSize);
    shared::writeHeader(request, shared::MessageHeader{shared::kHeaderSize, shared::kPcMagic,
                                                       code, 0});
    return request;
}

} // namespace

const std::vector<uint8_t>& chartBytes()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b;
        b.reserve(kMaxTunnelData + 3 * 2480);
        for (uint32_t line = 0; b.size() < kMaxTunnelData; ++line)
            for (uint32_t x = 0; x < 2480; ++x) {
                const auto rgb = unitsim::chartPixel(x * 4, line * 4);
                b.insert(b.end(), rgb.begin(), rgb.end());
            }
        b.resize(kMaxTunnelData);
        return b;
    }();
    return bytes;
}

// ---------------------------------------------------------------------------
// FastResponder

Result<std::unique_ptr<FastResponder>> FastResponder::start(uint32_t address)
{
    std::unique_ptr<FastResponder> r(new FastResponder);
    auto poller = platform::Poller::create();
    if (!poller)
        return poller.error();
    r->m_poller = std::make_unique<platform::Poller>(std::move(*poller));
    auto stop = platform::Event::create(platform::EventReset::Manual);
    if (!stop)
        return stop.error();
    r->m_stop = std::make_unique<platform::Event>(std::move(*stop));
    auto tunnel = listenOn(address, kTunnelPort);
    if (!tunnel)
        return tunnel.error();
    auto management = listenOn(address, kManagementPort);
    if (!management)
        return management.error();
    r->m_tunnelListener = std::move(*tunnel);
    r->m_managementListener = std::move(*management);
    for (int fd : {r->m_tunnelListener.get(), r->m_managementListener.get()})
        if (auto nb = platform::setNonBlocking(fd); !nb)
            return nb.error();

    // Everything a reply can carry, prepared now.
    (void)chartBytes();
    r->m_zeros.assign(kMaxTunnelData, 0);
    r->m_inquiry = unitsim::inquiryData(unitsim::builtInScanners().front());
    r->m_inquiry.resize(kMaxTunnelData, 0);
    unitsim::UnitConfig config;
    config.address = address;
    unitsim::UnitState state(config);
    for (uint32_t code : {0x05u, 0x10u, 0x20u, 0x140u})
        r->m_managementReplies[code] = state.handle(managementRequest(code));
    r->m_unknownCommand = state.handle(managementRequest(0xFFFFFF));

    if (auto w = r->m_poller->watch(r->m_stop->fd(), platform::Poller::kReadable, kStopKey); !w)
        return w.error();
    if (auto w = r->m_poller->watch(r->m_tunnelListener.get(), platform::Poller::kReadable,
                                    kTunnelListenerKey);
        !w)
        return w.error();
    if (auto w = r->m_poller->watch(r->m_managementListener.get(), platform::Poller::kReadable,
                                    kManagementListenerKey);
        !w)
        return w.error();
    r->m_thread = std::jthread([p = r.get()] { p->run(); });
    return r;
}

FastResponder::~FastResponder()
{
    if (m_stop)
        (void)m_stop->set();
    if (m_thread.joinable())
        m_thread.join();
}

void FastResponder::run()
{
    std::array<platform::Poller::Ready, 16> ready;
    for (;;) {
        auto n = m_poller->wait(ready, std::chrono::milliseconds(-1));
        if (!n)
            return;
        for (size_t i = 0; i < *n; ++i) {
            const uint64_t key = ready[i].key;
            if (key == kStopKey)
                return;
            if (key == kTunnelListenerKey || key == kManagementListenerKey) {
                acceptOne(key == kTunnelListenerKey ? m_tunnelListener.get()
                                                    : m_managementListener.get(),
                          key == kTunnelListenerKey);
                continue;
            }
            // Closing a descriptor takes it off the poller.
            const auto found = m_connections.find(static_cast<int>(key));
            if (found != m_connections.end() && !serve(*found->second))
                m_connections.erase(found);
        }
    }
}

void FastResponder::acceptOne(int listener, bool tunnel)
{
    // One connection per readiness report: the poller reports the listener
    // again while more are waiting, and an accept that finds none is a
    // system call for nothing.
    auto accepted = platform::tryAccept(listener);
    if (!accepted || !*accepted)
        return;
    auto c = std::make_unique<Connection>();
    c->fd = std::move(**accepted);
    c->tunnel = tunnel;
    if (tunnel) {
        // Tunnel replies are up to 512 KiB: blocking sends, as a plain
        // server writes them. Management replies fit the socket's buffer,
        // so those sockets stay non-blocking and cost no extra calls.
        makeBlocking(c->fd.get());
        c->input.resize(kTunnelHeader + kMaxTunnelData);
    } else {
        c->input.resize(256);
    }
    const auto greeting = shared::encodeHeader(shared::bareHeader(0));
    const iovec part{const_cast<uint8_t*>(greeting.data()), greeting.size()};
    const int fd = c->fd.get();
    if (!sendAll(fd, &part, 1) ||
        !m_poller->watch(fd, platform::Poller::kReadable, static_cast<uint64_t>(fd)))
        return;
    m_connections[fd] = std::move(c);
}

bool FastResponder::serve(Connection& c)
{
    const ssize_t n = ::recv(c.fd.get(), c.input.data() + c.filled, c.input.size() - c.filled,
                             MSG_DONTWAIT);
    if (n < 0)
        return errno == EAGAIN || errno == EINTR;
    if (n == 0)
        return false;
    c.filled += static_cast<size_t>(n);
    for (;;) {
        if (c.tunnel) {
            if (c.filled < kTunnelHeader)
                return true;
            const size_t out = shared::readLe32(c.input, 20);
            if (out > kMaxTunnelData)
                return false;
            if (c.filled < kTunnelHeader + out)
                return true;
            if (!answerTunnel(c, out))
                return false;
        } else {
            if (c.filled < 4)
                return true;
            const size_t length = shared::readLe32(c.input, 0);
            if (length < shared::kHeaderSize || length > kManagementLimit)
                return false;
            if (length > c.input.size())
                c.input.resize(length);
            if (c.filled < length)
                return true;
            answerManagement(c);
            return false; // one request per connection
        }
    }
}

bool FastResponder::answerTunnel(Connection& c, size_t outLength)
{
    const uint8_t opcode = c.input[24];
    size_t in = shared::readLe32(c.input, 16);
    if (in > kMaxTunnelData)
        return false;
    std::array<uint8_t, kTunnelHeader> reply{};
    shared::writeLe32(reply, 0, static_cast<uint32_t>(kTunnelHeader + in));
    shared::writeLe32(reply, 4, shared::kPcMagic);
    shared::writeLe32(reply, 8, 1);
    const uint8_t* data = opcode == 0x28   ? chartBytes().data()
                          : opcode == 0x12 && (c.input[25] & 1) == 0 ? m_inquiry.data()
                                                                     : m_zeros.data();
    const iovec parts[2] = {{reply.data(), reply.size()}, {const_cast<uint8_t*>(data), in}};
    if (!sendAll(c.fd.get(), parts, in != 0 ? 2 : 1))
        return false;
    // Usually the request was all there was; a pipelined one moves up.
    const size_t used = kTunnelHeader + outLength;
    if (c.filled > used)
        std::memmove(c.input.data(), c.input.data() + used, c.filled - used);
    c.filled -= used;
    return true;
}

bool FastResponder::answerManagement(Connection& c)
{
    const auto found = m_managementReplies.find(shared::readLe32(c.input, 8));
    const auto& reply = found != m_managementReplies.end() ? found->second : m_unknownCommand;
    const iovec part{const_cast<uint8_t*>(reply.data()), reply.size()};
    return sendAll(c.fd.get(), &part, 1);
}

// ---------------------------------------------------------------------------
// BareServer

Result<std::unique_ptr<BareServer>> BareServer::start(uint32_t address)
{
    std::unique_ptr<BareServer> s(new BareServer);
    auto tunnel = listenOn(address, kTunnelPort);
    if (!tunnel)
        return tunnel.error();
    auto management = listenOn(address, kManagementPort);
    if (!management)
        return management.error();
    s->m_tunnelListener = std::move(*tunnel);
    s->m_managementListener = std::move(*management);
    unitsim::UnitConfig config;
    config.address = address;
    s->m_nameReply = unitsim::UnitState(config).handle(managementRequest(0x140));
    (void)chartBytes();
    s->m_tunnelThread = std::jthread([p = s.get()] { p->serveTunnel(); });
    s->m_managementThread = std::jthread([p = s.get()] { p->serveManagement(); });
    return s;
}

BareServer::~BareServer()
{
    m_stopping = true;
    {
        // A listening socket shut down wakes its accept; a connection shut
        // down wakes its recv.
        std::scoped_lock lock(m_mutex);
        ::shutdown(m_tunnelListener.get(), SHUT_RDWR);
        ::shutdown(m_managementListener.get(), SHUT_RDWR);
        for (int fd : m_open)
            ::shutdown(fd, SHUT_RDWR);
    }
    if (m_tunnelThread.joinable())
        m_tunnelThread.join();
    if (m_managementThread.joinable())
        m_managementThread.join();
}

platform::UniqueFd BareServer::next(int listener)
{
    while (!m_stopping) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            track(fd); // TCP_NODELAY comes from the listener
            return platform::UniqueFd(fd);
        }
        if (errno != EINTR && errno != ECONNABORTED)
            break;
    }
    return {};
}

void BareServer::track(int fd)
{
    std::scoped_lock lock(m_mutex);
    if (fd >= 0) {
        m_open.push_back(fd);
        if (m_stopping)
            ::shutdown(fd, SHUT_RDWR);
    }
}

void BareServer::serveTunnel()
{
    for (;;) {
        platform::UniqueFd fd = next(m_tunnelListener.get());
        if (!fd)
            return;
        std::array<uint8_t, 16> greeting{};
        const iovec hello{greeting.data(), greeting.size()};
        std::vector<uint8_t> dataOut(kMaxTunnelData);
        std::array<uint8_t, kTunnelHeader> request{};
        std::array<uint8_t, kTunnelHeader> reply{};
        bool open = sendAll(fd.get(), &hello, 1);
        while (open && readExactly(fd.get(), request.data(), request.size())) {
            const uint32_t in = std::min<uint32_t>(shared::readLe32(request, 16), kMaxTunnelData);
            const uint32_t out = std::min<uint32_t>(shared::readLe32(request, 20), kMaxTunnelData);
            if (out != 0 && !readExactly(fd.get(), dataOut.data(), out))
                break;
            shared::writeLe32(reply, 0, kTunnelHeader + in);
            const iovec parts[2] = {{reply.data(), reply.size()},
                                    {const_cast<uint8_t*>(chartBytes().data()), in}};
            open = sendAll(fd.get(), parts, in != 0 ? 2 : 1);
        }
        std::scoped_lock lock(m_mutex);
        std::erase(m_open, fd.get());
    }
}

void BareServer::serveManagement()
{
    const std::array<uint8_t, 16> greeting = shared::encodeHeader(shared::bareHeader(0));
    for (;;) {
        platform::UniqueFd fd = next(m_managementListener.get());
        if (!fd)
            return;
        std::array<uint8_t, 16> request{};
        const iovec hello{const_cast<uint8_t*>(greeting.data()), greeting.size()};
        const iovec name{m_nameReply.data(), m_nameReply.size()};
        if (sendAll(fd.get(), &hello, 1) && readExactly(fd.get(), request.data(), request.size()))
            (void)sendAll(fd.get(), &name, 1);
        std::scoped_lock lock(m_mutex);
        std::erase(m_open, fd.get());
    }
}

} // namespace lumarc::bench
