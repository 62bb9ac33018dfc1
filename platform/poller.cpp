// The poller over epoll, and non-blocking sends and accepts.
#include "poller.h"

#include "error_codes.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace lumarc::platform {
namespace {

constexpr size_t kMaxParts = 8;
constexpr size_t kMaxEvents = 64;

uint32_t epollEvents(uint32_t interests)
{
    uint32_t events = 0;
    if ((interests & Poller::kReadable) != 0)
        events |= EPOLLIN | EPOLLRDHUP;
    if ((interests & Poller::kWritable) != 0)
        events |= EPOLLOUT;
    return events;
}

} // namespace

Result<Poller> Poller::create()
{
    UniqueFd fd(::epoll_create1(EPOLL_CLOEXEC));
    if (!fd)
        return win32Error("epoll_create1", errno);
    return Poller(std::move(fd));
}

Status Poller::watch(int fd, uint32_t interests, uint64_t key)
{
    epoll_event event{};
    event.events = epollEvents(interests);
    event.data.u64 = key;
    if (::epoll_ctl(m_fd.get(), EPOLL_CTL_ADD, fd, &event) != 0)
        return win32Error("epoll_ctl add " + std::to_string(fd), errno);
    return {};
}

Status Poller::change(int fd, uint32_t interests, uint64_t key)
{
    epoll_event event{};
    event.events = epollEvents(interests);
    event.data.u64 = key;
    if (::epoll_ctl(m_fd.get(), EPOLL_CTL_MOD, fd, &event) != 0)
        return win32Error("epoll_ctl modify " + std::to_string(fd), errno);
    return {};
}

void Poller::forget(int fd)
{
    (void)::epoll_ctl(m_fd.get(), EPOLL_CTL_DEL, fd, nullptr);
}

Result<size_t> Poller::wait(std::span<Ready> ready, std::chrono::milliseconds timeout)
{
    std::array<epoll_event, kMaxEvents> events;
    const int capacity = static_cast<int>(std::min(ready.size(), events.size()));
    const int ms = timeout.count() < 0
                       ? -1
                       : static_cast<int>(std::min<int64_t>(timeout.count(), 1 << 30));
    const int n = ::epoll_wait(m_fd.get(), events.data(), capacity, ms);
    if (n < 0) {
        if (errno == EINTR)
            return size_t{0};
        return win32Error("epoll_wait", errno);
    }
    for (int i = 0; i < n; ++i) {
        const uint32_t e = events[static_cast<size_t>(i)].events;
        auto& r = ready[static_cast<size_t>(i)];
        r.key = events[static_cast<size_t>(i)].data.u64;
        // A close or an error is news for the reader; a writer hears of it
        // too, so that a send fails instead of waiting for room that never
        // comes.
        r.readable = (e & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
        r.writable = (e & (EPOLLOUT | EPOLLHUP | EPOLLERR)) != 0;
    }
    return static_cast<size_t>(n);
}

Result<size_t> sendSomeParts(int fd, std::span<const std::span<const uint8_t>> parts)
{
    std::array<iovec, kMaxParts> vectors{};
    size_t count = 0;
    for (const auto& part : parts) {
        if (part.empty())
            continue;
        if (count == vectors.size())
            return Error{win32::kInvalidParameter, "send: more than 8 parts"};
        vectors[count++] = {const_cast<uint8_t*>(part.data()), part.size()};
    }
    if (count == 0)
        return size_t{0};
    msghdr message{};
    message.msg_iov = vectors.data();
    message.msg_iovlen = count;
    for (;;) {
        const ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0)
            return static_cast<size_t>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return size_t{0};
        if (errno != EINTR)
            return socketError("send", errno);
    }
}

Result<std::optional<UniqueFd>> tryAccept(int listenFd, Endpoint* peer)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    for (;;) {
        const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&address), &length,
                                 SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            if (peer != nullptr)
                *peer = Endpoint{address.sin_addr.s_addr, ntohs(address.sin_port)};
            return std::optional<UniqueFd>(UniqueFd(fd));
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return std::optional<UniqueFd>();
        // A connection that was reset while it waited is no reason to stop.
        if (errno == ECONNABORTED || errno == EINTR)
            continue;
        return socketError("accept", errno);
    }
}

} // namespace lumarc::platform
