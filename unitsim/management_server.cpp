// Serving the management port.
#include "management_server.h"

#include "shared/message_header.h"

#include <cstdio>
#include <thread>

namespace lumarc::unitsim {
namespace {

// A request larger than the biggest command (the user database restore) is
// a broken peer: the connection is dropped.
constexpr size_t kMaxRequest = 2 * 1024 * 1024;
constexpr std::chrono::seconds kRequestTimeout{30};

} // namespace

Result<std::unique_ptr<ManagementServer>> ManagementServer::start(UnitState& state,
                                                                   uint32_t address,
                                                                   uint16_t port, LogSink log)
{
    std::unique_ptr<ManagementServer> server(new ManagementServer(state, std::move(log)));
    auto tcp = ConnectionServer::start(
        {address, port}, [s = server.get()](platform::UniqueFd fd, platform::Endpoint peer,
                                            int wakeFd) { s->serve(std::move(fd), peer, wakeFd); });
    if (!tcp)
        return tcp.error();
    server->m_server = std::move(*tcp);
    return server;
}

ManagementServer::~ManagementServer()
{
    m_server.reset(); // joins every connection before the state goes
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

bool ManagementServer::readRequest(int fd, int wakeFd, std::vector<uint8_t>& request)
{
    size_t wanted = 4;
    request.assign(4, 0);
    size_t received = 0;
    while (received < wanted) {
        auto ready = platform::waitReadable(fd, kRequestTimeout, wakeFd);
        if (!ready || !*ready)
            return false;
        auto got = platform::receiveSome(fd, std::span(request).subspan(received, wanted - received));
        if (!got || *got == 0)
            return false;
        received += *got;
        if (received == 4 && wanted == 4) {
            const uint32_t length = shared::readLe32(request, 0);
            if (length < shared::kHeaderSize || length > kMaxRequest)
                return false;
            wanted = length;
            request.resize(wanted);
        }
    }
    return true;
}

void ManagementServer::serve(platform::UniqueFd connection, platform::Endpoint peer, int wakeFd)
{
    const int fd = connection.get();
    FaultPlan faults;
    bool refuse = false;
    {
        std::scoped_lock lock(m_mutex);
        faults = m_faults;
        if (m_faults.refuseGreetings > 0) {
            --m_faults.refuseGreetings;
            refuse = true;
        }
    }
    const auto waitOrStop = [&](std::chrono::milliseconds pause) {
        // True when the pause passed without shut-down.
        return !m_server->stopEvent().wait(pause);
    };
    if (faults.noGreeting) {
        // Hold the connection open in silence until the peer gives up.
        (void)platform::waitReadable(fd, kRequestTimeout, wakeFd);
        return;
    }
    const auto greeting =
        shared::encodeHeader(shared::bareHeader(refuse ? faults.refusalCode : 0));
    if (!platform::sendAll(fd, greeting))
        return;
    if (refuse) {
        log(platform::endpointText(peer) + ": greeting refused with code " +
            std::to_string(faults.refusalCode));
        // Let the peer close first, as a unit does.
        (void)platform::waitReadable(fd, std::chrono::seconds(2), wakeFd);
        return;
    }

    std::vector<uint8_t> request;
    if (!readRequest(fd, wakeFd, request)) {
        log(platform::endpointText(peer) + ": no complete request");
        return;
    }
    {
        std::scoped_lock lock(m_mutex);
        m_requests.push_back({peer, request});
    }
    std::vector<uint8_t> reply = m_state.handle(request);
    log(platform::endpointText(peer) + ": " + UnitState::describe(request) + " -> status 0x" +
        [&] {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%X", shared::decodeHeader(reply)->code);
            return std::string(hex);
        }());

    if (faults.silent) {
        (void)platform::waitReadable(fd, kRequestTimeout, wakeFd);
        return;
    }
    if (faults.lengthWord)
        shared::writeLe32(reply, 0, *faults.lengthWord);
    reply.resize(reply.size() + faults.trailingBytes, 0xEE);
    if (faults.replyDelay.count() > 0 && !waitOrStop(faults.replyDelay))
        return;
    std::span<const uint8_t> out(reply);
    if (faults.closeAfter)
        out = out.first(std::min(*faults.closeAfter, out.size()));
    if (faults.splitPause && out.size() > 1) {
        const size_t half = out.size() / 2;
        if (!platform::sendAll(fd, out.first(half)) || !waitOrStop(*faults.splitPause))
            return;
        out = out.subspan(half);
    }
    if (!platform::sendAll(fd, out))
        return;
    // The unit closes the connection after its reply.
    platform::shutdownBoth(fd);
}

} // namespace lumarc::unitsim
