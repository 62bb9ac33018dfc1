// Serving the management port.
#include "management_server.h"

#include "shared/message_header.h"

#include <cstdio>

namespace lumarc::unitsim {
namespace {

// A request larger than the biggest command (the user database restore) is
// a broken peer: the connection is dropped.
constexpr size_t kMaxRequest = 2 * 1024 * 1024;
constexpr std::chrono::seconds kRequestTimeout{30};
constexpr std::chrono::seconds kRefusalHold{2};

} // namespace

// One management connection:
//
//   greeting --> reading --request complete--> [delay] --> replying --> closed
//                                              (a split reply pauses halfway)
//
// A refused greeting, no greeting at all and a silent unit hold the
// connection ("holding") until the peer sends or closes, or a wait ends.
class ManagementServer::Session : public ConnectionServer::Session {
public:
    explicit Session(ManagementServer& server) : m_server(server) {}

    void started(ConnectionServer::Connection& c) override
    {
        bool refuse = false;
        {
            std::scoped_lock lock(m_server.m_mutex);
            m_faults = m_server.m_faults;
            if (m_server.m_faults.refuseGreetings > 0) {
                --m_server.m_faults.refuseGreetings;
                refuse = true;
            }
        }
        if (m_faults.noGreeting) {
            // Hold the connection open in silence until the peer gives up.
            hold(c, kRequestTimeout);
            return;
        }
        m_greeting = shared::encodeHeader(shared::bareHeader(refuse ? m_faults.refusalCode : 0));
        c.send(m_greeting);
        if (refuse) {
            m_server.log(platform::endpointText(c.peer()) + ": greeting refused with code " +
                         std::to_string(m_faults.refusalCode));
            // Let the peer close first, as a unit does.
            hold(c, kRefusalHold);
            return;
        }
        m_state = State::Reading;
        c.startTimer(kRequestTimeout);
    }

    void received(ConnectionServer::Connection& c) override
    {
        if (m_state != State::Reading) {
            c.close(); // the peer spoke while held: the wait is over
            return;
        }
        c.startTimer(kRequestTimeout); // each wait for more is bounded
        const auto in = c.input();
        if (in.size() < 4)
            return;
        const uint32_t length = shared::readLe32(in, 0);
        if (length < shared::kHeaderSize || length > kMaxRequest) {
            noRequest(c);
            return;
        }
        if (in.size() < length)
            return;
        std::vector<uint8_t> request(in.begin(), in.begin() + length);
        c.consume(length);
        c.stopTimer();
        answer(c, std::move(request));
    }

    void peerClosed(ConnectionServer::Connection& c) override
    {
        if (m_state == State::Reading)
            m_server.log(platform::endpointText(c.peer()) + ": no complete request");
        c.close();
    }

    void timerExpired(ConnectionServer::Connection& c) override
    {
        switch (m_state) {
        case State::Reading:
            noRequest(c);
            break;
        case State::Delaying:
            reply(c);
            break;
        case State::Pausing:
            c.send(m_rest);
            c.closeAfterSending();
            break;
        case State::Holding:
        case State::Replying:
            c.close();
            break;
        }
    }

    void sent(ConnectionServer::Connection& c) override
    {
        // The first half of a split reply is out: pause before the rest.
        if (m_state == State::Pausing && !m_paused) {
            m_paused = true;
            c.startTimer(*m_faults.splitPause);
        }
    }

private:
    enum class State { Holding, Reading, Delaying, Replying, Pausing };

    // Waits until the peer sends or closes, or the time passes, then closes.
    void hold(ConnectionServer::Connection& c, std::chrono::milliseconds limit)
    {
        m_state = State::Holding;
        c.startTimer(limit);
    }

    void noRequest(ConnectionServer::Connection& c)
    {
        m_server.log(platform::endpointText(c.peer()) + ": no complete request");
        c.close();
    }

    void answer(ConnectionServer::Connection& c, std::vector<uint8_t> request)
    {
        {
            std::scoped_lock lock(m_server.m_mutex);
            m_server.m_requests.push_back({c.peer(), request});
        }
        m_reply = m_server.m_state.handle(request);
        if (m_server.m_log) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%X", shared::decodeHeader(m_reply)->code);
            m_server.log(platform::endpointText(c.peer()) + ": " + UnitState::describe(request) +
                         " -> status 0x" + hex);
        }
        if (m_faults.silent) {
            // Bytes behind the request end the wait at once.
            if (!c.input().empty())
                c.close();
            else
                hold(c, kRequestTimeout);
            return;
        }
        // Nothing more is read: a unit answers one request per connection.
        c.setReading(false);
        if (m_faults.lengthWord)
            shared::writeLe32(m_reply, 0, *m_faults.lengthWord);
        m_reply.resize(m_reply.size() + m_faults.trailingBytes, 0xEE);
        if (m_faults.replyDelay.count() > 0) {
            m_state = State::Delaying;
            c.startTimer(m_faults.replyDelay);
            return;
        }
        reply(c);
    }

    void reply(ConnectionServer::Connection& c)
    {
        std::span<const uint8_t> out(m_reply);
        if (m_faults.closeAfter)
            out = out.first(std::min(*m_faults.closeAfter, out.size()));
        if (m_faults.splitPause && out.size() > 1) {
            const size_t half = out.size() / 2;
            c.send(out.first(half));
            m_rest = out.subspan(half);
            m_state = State::Pausing;
            return;
        }
        m_state = State::Replying;
        c.send(out);
        // The unit closes the connection after its reply.
        c.closeAfterSending();
    }

    ManagementServer& m_server;
    FaultPlan m_faults;
    State m_state = State::Holding;
    bool m_paused = false;
    std::array<uint8_t, shared::kHeaderSize> m_greeting{};
    std::vector<uint8_t> m_reply;
    std::span<const uint8_t> m_rest;
};

Result<std::unique_ptr<ManagementServer>> ManagementServer::start(UnitState& state,
                                                                   uint32_t address,
                                                                   uint16_t port, LogSink log)
{
    std::unique_ptr<ManagementServer> server(new ManagementServer(state, std::move(log)));
    auto tcp = ConnectionServer::start({address, port}, [s = server.get()] {
        return std::make_unique<Session>(*s);
    });
    if (!tcp)
        return tcp.error();
    server->m_server = std::move(*tcp);
    return server;
}

ManagementServer::~ManagementServer()
{
    m_server.reset(); // closes every connection before the state goes
}

void ManagementServer::log(const std::string& line) const
{
    if (m_log)
        m_log(line);
}

void ManagementServer::setFaults(const FaultPlan& plan)
{
    std::scoped_lock lock(m_mutex);
    m_faults = plan;
}

std::vector<LoggedRequest> ManagementServer::requests() const
{
    std::scoped_lock lock(m_mutex);
    return m_requests;
}

void ManagementServer::clearRequests()
{
    std::scoped_lock lock(m_mutex);
    m_requests.clear();
}

size_t ManagementServer::connections() const
{
    return m_server->connections();
}

} // namespace lumarc::unitsim
