// Events: the counterpart of Windows event objects, over eventfd.
//
// The descriptor is a plain eventfd, so any client can wait on it with poll
// and read without linking this library; signalling writes 1 to it. A
// manual-reset event stays signalled until reset; an auto-reset event is
// cleared by the one wait that it releases.
#pragma once

#include "result.h"
#include "unique_fd.h"

#include <chrono>
#include <optional>
#include <span>

namespace lumarc::platform {

enum class EventReset { Manual, Auto };

// Waits that never end (use sparingly: every wait should have a time-out).
constexpr std::chrono::milliseconds kInfinite{-1};

class Event {
public:
    static Result<Event> create(EventReset reset, bool initiallySignalled = false);

    int fd() const { return m_fd.get(); }
    EventReset resetMode() const { return m_reset; }

    Status set() const;
    Status reset() const;

    // True when the event was signalled within the time-out (consuming the
    // signal of an auto-reset event), false on time-out.
    bool wait(std::chrono::milliseconds timeout) const;

    // Writes 1 to an eventfd that someone else owns (a client's completion
    // event).
    static Status signal(int eventFd);

    // Takes the signal if it is there (without waiting); false when it was
    // not (or another waiter took it first).
    bool consume() const;

private:
    Event(UniqueFd fd, EventReset reset) : m_fd(std::move(fd)), m_reset(reset) {}

    UniqueFd m_fd;
    EventReset m_reset;
};

// Waits for the first of several events; returns its index (lowest index
// first when several are signalled), or nullopt on time-out.
std::optional<size_t> waitForAny(std::span<const Event* const> events,
                                 std::chrono::milliseconds timeout);

} // namespace lumarc::platform
