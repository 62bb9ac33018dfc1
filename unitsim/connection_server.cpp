// The event loop of a simulated unit's TCP server.
#include "connection_server.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace lumarc::unitsim {
namespace {

constexpr uint64_t kStopKey = 0;
constexpr uint64_t kListenerKey = 1;
constexpr int kBacklog = 64;
// Room the input buffer keeps for a receive; it grows when a request needs
// more (the largest is the user table a PC restores, 2 MiB).
constexpr size_t kReceiveRoom = 16 * 1024;
constexpr size_t kMaxParts = 8; // pieces written with one system call

} // namespace

void ConnectionServer::Session::peerClosed(Connection& connection)
{
    connection.close();
}

void ConnectionServer::Session::timerExpired(Connection&) {}

void ConnectionServer::Session::sent(Connection&) {}

void ConnectionServer::Session::closed(Connection&) {}

void ConnectionServer::Connection::consume(size_t bytes)
{
    m_begin += std::min(bytes, m_end - m_begin);
    if (m_begin == m_end)
        m_begin = m_end = 0;
}

void ConnectionServer::Connection::setReading(bool reading)
{
    m_reading = reading;
}

void ConnectionServer::Connection::send(std::span<const uint8_t> bytes)
{
    if (bytes.empty())
        return;
    m_output.push_back(bytes);
    m_sentPending = true;
}

void ConnectionServer::Connection::startTimer(std::chrono::milliseconds after)
{
    m_deadline = Clock::now() + after;
}

Result<std::unique_ptr<ConnectionServer>> ConnectionServer::start(const platform::Endpoint& at,
                                                                   NewSession newSession)
{
    auto listener = platform::listenTcp(at, kBacklog);
    if (!listener)
        return listener.error();
    // A unit's own network stack paces nothing.
    platform::sendWithoutPacing(listener->get());
    if (auto nonBlocking = platform::setNonBlocking(listener->get()); !nonBlocking)
        return nonBlocking.error();
    auto poller = platform::Poller::create();
    if (!poller)
        return poller.error();
    auto stop = platform::Event::create(platform::EventReset::Manual);
    if (!stop)
        return stop.error();
    if (auto w = poller->watch(stop->fd(), platform::Poller::kReadable, kStopKey); !w)
        return w.error();
    if (auto w = poller->watch(listener->get(), platform::Poller::kReadable, kListenerKey); !w)
        return w.error();
    std::unique_ptr<ConnectionServer> server(new ConnectionServer(
        std::move(*listener), std::move(*poller), std::move(*stop), std::move(newSession)));
    server->m_thread = std::jthread([s = server.get()] { s->run(); });
    return server;
}

ConnectionServer::ConnectionServer(platform::UniqueFd listener, platform::Poller poller,
                                   platform::Event stop, NewSession newSession)
    : m_listener(std::move(listener)), m_poller(std::move(poller)), m_stop(std::move(stop)),
      m_newSession(std::move(newSession))
{
}

ConnectionServer::~ConnectionServer()
{
    (void)m_stop.set();
    if (m_thread.joinable())
        m_thread.join();
}

void ConnectionServer::run()
{
    std::array<platform::Poller::Ready, 32> ready;
    bool stopping = false;
    while (!stopping) {
        auto n = m_poller.wait(ready, untilNextTimer(Clock::now()));
        if (!n)
            break; // the poller itself failed: nothing more can be served
        for (size_t i = 0; i < *n && !stopping; ++i) {
            const uint64_t key = ready[i].key;
            if (key == kStopKey) {
                stopping = true;
            } else if (key == kListenerKey) {
                acceptOne();
            } else if (const auto found = m_open.find(key); found != m_open.end()) {
                serve(*found->second, ready[i].readable); // writes: settle() tries them anyway
            }
        }
        if (!stopping)
            expireTimers(Clock::now());
    }
    // Shut-down: every connection closes, its session hearing of it.
    while (!m_open.empty())
        finish(*m_open.begin()->second);
}

void ConnectionServer::acceptOne()
{
    // One connection per readiness report: the poller reports the listener
    // again while more are waiting.
    platform::Endpoint peer;
    auto accepted = platform::tryAccept(m_listener.get(), &peer);
    if (!accepted || !*accepted)
        return;
    m_connections.fetch_add(1);
    auto connection = std::make_unique<Connection>();
    Connection& c = *connection;
    c.m_fd = std::move(**accepted);
    c.m_peer = peer;
    c.m_key = m_nextKey++;
    c.m_session = m_newSession();
    if (!m_poller.watch(c.m_fd.get(), platform::Poller::kReadable, c.m_key))
        return;
    m_open.emplace(c.m_key, std::move(connection));
    c.m_session->started(c);
    settle(c);
}

void ConnectionServer::serve(Connection& c, bool readable)
{
    if (readable && !c.m_watchingReads) {
        // Reported without being asked for: the connection hung up or
        // broke, and would be reported again and again. Nothing can be sent
        // on it any more.
        finish(c);
        return;
    }
    if (readable && c.m_reading && !c.m_peerGone) {
        if (c.m_capacity - c.m_end < kReceiveRoom) {
            // Move what is unread to the front of a buffer with room
            // enough: the same one when it has, else a larger one (never
            // cleared first: only received bytes are ever read from it).
            const size_t unread = c.m_end - c.m_begin;
            if (c.m_capacity - unread < kReceiveRoom) {
                const size_t capacity = std::max(2 * c.m_capacity, unread + kReceiveRoom);
                auto larger = std::make_unique_for_overwrite<uint8_t[]>(capacity);
                if (unread > 0)
                    std::memcpy(larger.get(), c.m_input.get() + c.m_begin, unread);
                c.m_input = std::move(larger);
                c.m_capacity = capacity;
            } else if (unread > 0) {
                std::memmove(c.m_input.get(), c.m_input.get() + c.m_begin, unread);
            }
            c.m_begin = 0;
            c.m_end = unread;
        }
        auto got = platform::tryReceive(
            c.m_fd.get(), std::span(c.m_input.get() + c.m_end, c.m_capacity - c.m_end));
        if (!got || (*got && **got == 0)) {
            c.m_peerGone = true;
            c.m_session->peerClosed(c);
        } else if (*got) {
            c.m_end += **got;
            c.m_session->received(c);
        }
    }
    settle(c);
}

bool ConnectionServer::settle(Connection& c)
{
    for (;;) {
        if (c.m_closeNow) {
            finish(c);
            return false;
        }
        if (!c.m_output.empty()) {
            std::array<std::span<const uint8_t>, kMaxParts> parts;
            size_t count = 0, offered = 0;
            for (const auto& piece : c.m_output) {
                if (count == parts.size())
                    break;
                parts[count++] = piece;
                offered += piece.size();
            }
            auto taken = platform::sendSomeParts(c.m_fd.get(), std::span(parts).first(count));
            if (!taken) {
                finish(c); // the peer is gone; what it did not take is lost
                return false;
            }
            size_t done = *taken;
            while (done > 0 && !c.m_output.empty()) {
                auto& front = c.m_output.front();
                if (done < front.size()) {
                    front = front.subspan(done);
                    done = 0;
                } else {
                    done -= front.size();
                    c.m_output.pop_front();
                }
            }
            if (*taken < offered)
                break; // the socket is full: wait until it has room
            if (!c.m_output.empty())
                continue; // more pieces than one call takes
        }
        if (c.m_closeWhenSent) {
            platform::shutdownBoth(c.m_fd.get());
            finish(c);
            return false;
        }
        if (c.m_sentPending) {
            c.m_sentPending = false;
            c.m_session->sent(c);
            continue; // the session may have queued more, or closed
        }
        break;
    }
    const bool reads = c.m_reading && !c.m_peerGone;
    const bool writes = !c.m_output.empty();
    if (reads != c.m_watchingReads || writes != c.m_watchingWrites) {
        c.m_watchingReads = reads;
        c.m_watchingWrites = writes;
        const uint32_t interests = (reads ? platform::Poller::kReadable : 0) |
                                   (writes ? platform::Poller::kWritable : 0);
        if (!m_poller.change(c.m_fd.get(), interests, c.m_key)) {
            finish(c);
            return false;
        }
    }
    return true;
}

void ConnectionServer::finish(Connection& c)
{
    const uint64_t key = c.m_key;
    c.m_session->closed(c);
    m_open.erase(key); // closes the socket, which leaves the poller with it
}

std::chrono::milliseconds ConnectionServer::untilNextTimer(Clock::time_point now) const
{
    std::optional<Clock::time_point> next;
    for (const auto& [key, c] : m_open)
        if (c->m_deadline && (!next || *c->m_deadline < *next))
            next = c->m_deadline;
    if (!next)
        return std::chrono::milliseconds(-1);
    if (*next <= now)
        return std::chrono::milliseconds(0);
    // Rounded up: waking early would only mean waiting again.
    return std::chrono::ceil<std::chrono::milliseconds>(*next - now);
}

void ConnectionServer::expireTimers(Clock::time_point now)
{
    std::vector<uint64_t> due;
    for (const auto& [key, c] : m_open)
        if (c->m_deadline && *c->m_deadline <= now)
            due.push_back(key);
    for (const uint64_t key : due) {
        const auto found = m_open.find(key);
        if (found == m_open.end())
            continue;
        Connection& c = *found->second;
        c.m_deadline.reset();
        c.m_session->timerExpired(c);
        settle(c);
    }
}

} // namespace lumarc::unitsim
