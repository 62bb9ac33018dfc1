// A TCP server of the simulated unit. One thread runs an event loop that
// accepts and serves every connection, so a connection costs no thread of
// its own and no hand-off between threads. Each connection is driven by a
// Session of the protocol, which the loop calls when bytes arrive, when the
// session's timer runs out and when its replies have gone out. The
// destructor stops the loop and closes every connection.
//
// A connection's life, as its session sees it:
//
//   started --> { received | timerExpired | sent | peerClosed }* --> closed
//
// closed comes once, whoever ends the connection: the session (close, or
// closeAfterSending once everything queued has gone out, after shutting the
// connection down both ways as a unit does after its reply), the peer
// (peerClosed, whose default closes), a reset or failed send, or the
// server's shut-down.
#pragma once

#include "platform/event.h"
#include "platform/net_socket.h"
#include "platform/poller.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <unordered_map>
#include <vector>

namespace lumarc::unitsim {

class ConnectionServer {
public:
    class Connection;

    // What a protocol does with one connection. Every call comes from the
    // loop thread, and none may block: waits are timers.
    class Session {
    public:
        virtual ~Session() = default;
        // The connection was accepted.
        virtual void started(Connection& connection) = 0;
        // New bytes are in connection.input().
        virtual void received(Connection& connection) = 0;
        // The peer closed its side, or the connection broke; unread bytes may
        // remain in input(). The default closes the connection.
        virtual void peerClosed(Connection& connection);
        // The timer started with Connection::startTimer ran out.
        virtual void timerExpired(Connection& connection);
        // Everything queued with send() has gone to the socket.
        virtual void sent(Connection& connection);
        // The connection is closed, whoever closed it (shut-down included).
        virtual void closed(Connection& connection);
    };

    using NewSession = std::function<std::unique_ptr<Session>()>;

    // Listens at the endpoint and starts the loop thread.
    static Result<std::unique_ptr<ConnectionServer>> start(const platform::Endpoint& at,
                                                           NewSession newSession);
    // Stops the loop and closes every connection (their sessions hear of it
    // through closed(), on the loop thread, before this returns).
    ~ConnectionServer();

    // Connections accepted so far; any thread.
    size_t connections() const { return m_connections.load(); }

private:
    using Clock = std::chrono::steady_clock;

    ConnectionServer(platform::UniqueFd listener, platform::Poller poller, platform::Event stop,
                     NewSession newSession);
    void run();
    void acceptOne();
    // Reads when the connection is readable, then settles it.
    void serve(Connection& connection, bool readable);
    // Writes what is queued, calls sent() when all went out, and closes a
    // connection that asked for it; false when the connection is gone.
    bool settle(Connection& connection);
    void finish(Connection& connection);
    std::chrono::milliseconds untilNextTimer(Clock::time_point now) const;
    void expireTimers(Clock::time_point now);

    platform::UniqueFd m_listener;
    platform::Poller m_poller;
    platform::Event m_stop;
    NewSession m_newSession;
    std::atomic<size_t> m_connections{0};
    uint64_t m_nextKey = 2; // 0: the stop event, 1: the listener
    std::unordered_map<uint64_t, std::unique_ptr<Connection>> m_open;
    std::jthread m_thread;
};

// One connection as its session sees it. Only the loop thread touches it.
class ConnectionServer::Connection {
public:
    const platform::Endpoint& peer() const { return m_peer; }

    // Bytes received and not yet consumed.
    std::span<const uint8_t> input() const
    {
        return std::span<const uint8_t>(m_input.get() + m_begin, m_end - m_begin);
    }
    void consume(size_t bytes);

    // Whether the loop reads from the socket. A session that is not ready
    // for more (while it waits out a delay) stops reading; bytes then wait
    // in the socket, and so does the news of a close.
    void setReading(bool reading);

    // Queues bytes behind those queued before; they go out when the session
    // returns to the loop, header and data in one system call, without a
    // copy: the bytes must stay where they are until the session hears
    // sent() or closed().
    void send(std::span<const uint8_t> bytes);
    bool sending() const { return !m_output.empty(); }

    // Closes once everything queued has gone out, after shutting the
    // connection down in both directions.
    void closeAfterSending() { m_closeWhenSent = true; }
    // Closes at once; what is queued is dropped.
    void close() { m_closeNow = true; }

    // One timer per connection; starting it again moves it.
    void startTimer(std::chrono::milliseconds after);
    void stopTimer() { m_deadline.reset(); }

private:
    friend class ConnectionServer;

    platform::UniqueFd m_fd;
    platform::Endpoint m_peer;
    uint64_t m_key = 0;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<uint8_t[]> m_input;
    size_t m_capacity = 0;
    size_t m_begin = 0, m_end = 0; // the unread bytes
    std::deque<std::span<const uint8_t>> m_output;
    bool m_reading = true;
    bool m_watchingWrites = false;
    bool m_watchingReads = true;
    bool m_sentPending = false; // sent() is due once the queue is empty
    bool m_closeWhenSent = false;
    bool m_closeNow = false;
    bool m_peerGone = false;
    std::optional<Clock::time_point> m_deadline;
};

} // namespace lumarc::unitsim
