// Signals read from a signalfd on a thread of their own.
#include "signal_watch.h"

#include "error_codes.h"

#include <csignal>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace lumarc::platform {
namespace {

sigset_t setOf(std::initializer_list<int> signals)
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : signals)
        sigaddset(&set, s);
    return set;
}

} // namespace

void blockSignals(std::initializer_list<int> signals)
{
    const sigset_t set = setOf(signals);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

Result<std::unique_ptr<SignalWatch>> SignalWatch::start(std::initializer_list<int> signals,
                                                        WindowHandle window, uint32_t message)
{
    const sigset_t set = setOf(signals);
    UniqueFd fd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!fd)
        return win32Error("signalfd", errno);
    UniqueFd stop(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!stop)
        return win32Error("eventfd", errno);
    std::unique_ptr<SignalWatch> watch(new SignalWatch(std::move(fd), std::move(stop)));
    watch->m_thread = std::thread([w = watch.get(), window, message] { w->run(window, message); });
    return watch;
}

SignalWatch::~SignalWatch()
{
    const uint64_t one = 1;
    (void)!::write(m_stop.get(), &one, sizeof one);
    if (m_thread.joinable())
        m_thread.join();
}

void SignalWatch::run(WindowHandle window, uint32_t message)
{
    for (;;) {
        pollfd fds[2] = {{m_signals.get(), POLLIN, 0}, {m_stop.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if ((fds[1].revents & POLLIN) != 0)
            return;
        signalfd_siginfo info;
        while (::read(m_signals.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            (void)postMessage(window, message, info.ssi_signo);
    }
}

} // namespace lumarc::platform
