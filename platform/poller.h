// Readiness of many descriptors at once, for one thread that serves them
// all (an event loop), and the non-blocking socket calls that go with it.
//
// The poller is level-triggered: a descriptor stays ready until its data are
// read or its buffer has room. A peer's close and socket errors report as
// readable, so the next receive tells what happened.
#pragma once

#include "net_socket.h"
#include "result.h"
#include "unique_fd.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

namespace lumarc::platform {

class Poller {
public:
    static constexpr uint32_t kReadable = 1;
    static constexpr uint32_t kWritable = 2;

    struct Ready {
        uint64_t key = 0; // as given to watch()
        bool readable = false;
        bool writable = false;
    };

    static Result<Poller> create();

    // Starts watching fd for the interests (kReadable, kWritable or both;
    // 0 keeps the descriptor registered without waking for it); key comes
    // back with its readiness.
    Status watch(int fd, uint32_t interests, uint64_t key);
    // Changes the interests (and key) of a descriptor being watched.
    Status change(int fd, uint32_t interests, uint64_t key);
    // Stops watching fd; closing fd does that as well.
    void forget(int fd);

    // Waits at most timeout (negative: without end) until something is
    // ready; fills ready and returns how many entries it filled, 0 on
    // time-out or when a signal interrupted the wait.
    Result<size_t> wait(std::span<Ready> ready, std::chrono::milliseconds timeout);

    // The poller's own descriptor: readable while a watched descriptor is
    // ready for reading, so another program's loop can wait on several
    // descriptors of ours as on one.
    int fd() const { return m_fd.get(); }

private:
    explicit Poller(UniqueFd fd) : m_fd(std::move(fd)) {}
    UniqueFd m_fd;
};

// setNonBlocking (net_socket.h) makes every later call on fd return at once.

// Sends what the socket takes now of the parts, in order, with one system
// call; never waits and never raises SIGPIPE. Returns the bytes taken (0
// when the socket's buffer is full). At most 8 parts.
Result<size_t> sendSomeParts(int fd, std::span<const std::span<const uint8_t>> parts);

// Accepts one waiting connection without waiting (nullopt when none is
// waiting). The new socket is non-blocking and inherits the listener's
// TCP_NODELAY (listenTcp sets it).
Result<std::optional<UniqueFd>> tryAccept(int listenFd, Endpoint* peer = nullptr);

} // namespace lumarc::platform
