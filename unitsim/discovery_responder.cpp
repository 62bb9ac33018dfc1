// Answering discovery requests.
#include "discovery_responder.h"

#include "platform/unit_address.h"
#include "shared/message_header.h"

#include <arpa/inet.h>
#include <cstring>

namespace lumarc::unitsim {
namespace {

constexpr size_t kReplySize = 1068;
constexpr size_t kReplyWithoutScanner = 68;

} // namespace

std::vector<uint8_t> discoveryReply(const UnitConfig& config, bool busy)
{
    std::vector<uint8_t> reply(config.scanner ? kReplySize : kReplyWithoutScanner, 0);
    shared::writeLe32(reply, 0, shared::kUnitMagic);
    shared::writeLe32(reply, 4, ntohl(config.address));
    std::copy(config.mac.begin(), config.mac.end(), reply.begin() + 8);
    std::memcpy(&reply[16], config.name.data(), std::min<size_t>(config.name.size(), 43));
    reply[60] = busy ? 1 : 0;
    if (config.scanner) {
        shared::writeLe32(reply, 64, 1);
        const auto inquiry = inquiryData(*config.scanner);
        std::copy(inquiry.begin(), inquiry.end(), reply.begin() + 68);
    }
    return reply;
}

Result<std::unique_ptr<DiscoveryResponder>> DiscoveryResponder::start(UnitState& state,
                                                                       LogSink log)
{
    auto socket = platform::bindUdp({0, kDiscoveryPort});
    if (!socket)
        return socket.error();
    auto stop = platform::Event::create(platform::EventReset::Manual);
    if (!stop)
        return stop.error();
    std::unique_ptr<DiscoveryResponder> responder(
        new DiscoveryResponder(state, std::move(*socket), std::move(*stop), std::move(log)));
    responder->m_thread = std::jthread([r = responder.get()] { r->run(); });
    return responder;
}

DiscoveryResponder::DiscoveryResponder(UnitState& state, platform::UniqueFd socket,
                                       platform::Event stop, LogSink log)
    : m_state(state), m_socket(std::move(socket)), m_stop(std::move(stop)), m_log(std::move(log))
{
}

DiscoveryResponder::~DiscoveryResponder()
{
    (void)m_stop.set();
    if (m_thread.joinable())
        m_thread.join();
}

void DiscoveryResponder::setFaults(const DiscoveryFaults& faults)
{
    std::scoped_lock lock(m_mutex);
    m_faults = faults;
}

size_t DiscoveryResponder::requestsSeen() const
{
    std::scoped_lock lock(m_mutex);
    return m_requests;
}

namespace {

// Whether address is this machine's: loopback, or an address a socket can
// be bound to here.
bool isLocalAddress(uint32_t address)
{
    if ((ntohl(address) >> 24) == 127)
        return true;
    auto probe = platform::bindUdp({address, 0});
    return static_cast<bool>(probe);
}

} // namespace

void DiscoveryResponder::run()
{
    for (;;) {
        auto ready = platform::waitReadable(m_socket.get(), std::chrono::milliseconds(-1),
                                            m_stop.fd());
        if (!ready)
            return;
        uint8_t request[64] = {};
        platform::Endpoint from;
        auto got = platform::receiveDatagram(m_socket.get(), request, &from);
        if (!got || *got < 12 || shared::readLe32(request, 0) != shared::kPcMagic)
            continue;
        DiscoveryFaults faults;
        {
            std::scoped_lock lock(m_mutex);
            ++m_requests;
            faults = m_faults;
        }
        if (faults.silent || (faults.localRequestersOnly && !isLocalAddress(from.address)))
            continue;
        if (faults.delay.count() > 0 && m_stop.wait(faults.delay))
            return;
        auto reply = discoveryReply(m_state.config(), m_state.busy());
        if (faults.wrongMagic)
            shared::writeLe32(reply, 0, 0x1234565A);
        (void)platform::sendDatagram(m_socket.get(), from, reply);
        if (m_log)
            m_log("discovery request from " + platform::endpointText(from) + " answered");
    }
}

} // namespace lumarc::unitsim
