// Events over eventfd: poll to wait, read to clear.
#include "event.h"

#include "error_codes.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

// The thread sanitizer cannot see the ordering an eventfd gives between the
// thread that signals and the one that wakes (a manual-reset wait never
// reads the descriptor). In its builds only, the signal's write and the
// waiter's wake-up pass through a per-descriptor mutex, which it does see.
#if defined(__SANITIZE_THREAD__)
#include <mutex>
namespace {
std::mutex g_eventOrder[64];
std::mutex& orderFor(int fd)
{
    return g_eventOrder[static_cast<unsigned>(fd) % 64];
}
} // namespace
#define LUMARC_EVENT_SIGNAL_ORDER(fd) std::scoped_lock eventOrderLock_(orderFor(fd))
#define LUMARC_EVENT_WAKE_ORDER(fd) std::scoped_lock eventOrderLock_(orderFor(fd))
#else
#define LUMARC_EVENT_SIGNAL_ORDER(fd) (void)(fd)
#define LUMARC_EVENT_WAKE_ORDER(fd) (void)(fd)
#endif

namespace lumarc::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline for poll (-1 for none).
int remainingMs(std::optional<Clock::time_point> deadline)
{
    if (!deadline)
        return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
}

std::optional<Clock::time_point> deadlineAfter(std::chrono::milliseconds timeout)
{
    if (timeout < std::chrono::milliseconds::zero())
        return std::nullopt;
    return Clock::now() + timeout;
}

} // namespace

Result<Event> Event::create(EventReset reset, bool initiallySignalled)
{
    UniqueFd fd(::eventfd(initiallySignalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!fd)
        return win32Error("eventfd", errno);
    return Event(std::move(fd), reset);
}

Status Event::signal(int eventFd)
{
    LUMARC_EVENT_SIGNAL_ORDER(eventFd);
    const uint64_t one = 1;
    while (::write(eventFd, &one, sizeof one) != static_cast<ssize_t>(sizeof one)) {
        if (errno == EINTR)
            continue;
        // A counter at its maximum is still signalled.
        if (errno == EAGAIN)
            return {};
        return win32Error("signal event", errno);
    }
    return {};
}

Status Event::set() const
{
    return signal(m_fd.get());
}

Status Event::reset() const
{
    consume();
    return {};
}

bool Event::consume() const
{
    uint64_t value = 0;
    for (;;) {
        if (::read(m_fd.get(), &value, sizeof value) == static_cast<ssize_t>(sizeof value))
            return true;
        if (errno != EINTR)
            return false; // EAGAIN: another waiter took it first
    }
}

bool Event::wait(std::chrono::milliseconds timeout) const
{
    const Event* self = this;
    return waitForAny(std::span(&self, 1), timeout).has_value();
}

std::optional<size_t> waitForAny(std::span<const Event* const> events,
                                 std::chrono::milliseconds timeout)
{
    std::vector<pollfd> fds;
    fds.reserve(events.size());
    for (const Event* event : events)
        fds.push_back({event->fd(), POLLIN, 0});
    const auto deadline = deadlineAfter(timeout);
    for (;;) {
        const int n = ::poll(fds.data(), fds.size(), remainingMs(deadline));
        if (n < 0 && errno != EINTR)
            return std::nullopt;
        for (size_t i = 0; n > 0 && i < fds.size(); ++i) {
            if ((fds[i].revents & POLLIN) == 0)
                continue;
            // An auto-reset event is won by exactly one waiter; a loser goes
            // back to waiting.
            if (events[i]->resetMode() == EventReset::Manual || events[i]->consume()) {
                LUMARC_EVENT_WAKE_ORDER(events[i]->fd());
                return i;
            }
        }
        if (deadline && Clock::now() >= *deadline)
            return std::nullopt;
    }
}

} // namespace lumarc::platform
