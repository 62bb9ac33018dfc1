// Serving the SCSI tunnel.
#include "tunnel_server.h"

#include "shared/message_header.h"

#include <cstdio>

namespace lumarc::unitsim {
namespace {

constexpr size_t kHeader = 40;
constexpr size_t kMaxData = 524504;
constexpr size_t kMaxRequestsKept = 10000;

} // namespace

Result<std::unique_ptr<TunnelServer>> TunnelServer::start(SimulatedScanner& scanner,
                                                           uint32_t address, LogSink log)
{
    std::unique_ptr<TunnelServer> server(new TunnelServer(scanner, std::move(log)));
    auto tcp = ConnectionServer::start(
        {address, kTunnelPort}, [s = server.get()](platform::UniqueFd fd, platform::Endpoint peer,
                                                   int wakeFd) { s->serve(std::move(fd), peer, wakeFd); });
    if (!tcp)
        return tcp.error();
    server->m_server = std::move(*tcp);
    return server;
}

TunnelServer::~TunnelServer()
{
    m_server.reset(); // joins every connection before the scanner goes
}

void TunnelServer::setFaults(const TunnelFaults& faults)
{
    std::scoped_lock lock(m_mutex);
    m_faults = faults;
}

std::vector<TunnelRequestRecord> TunnelServer::requests() const
{
    std::scoped_lock lock(m_mutex);
    return m_requests;
}

size_t TunnelServer::connections() const
{
    return m_server->connections();
}

namespace {

// Reads exactly into.size() bytes; false when the peer closed or shut-down
// came first.
bool readExactly(int fd, int wakeFd, std::span<uint8_t> into)
{
    size_t got = 0;
    while (got < into.size()) {
        auto ready = platform::waitReadable(fd, std::chrono::milliseconds(-1), wakeFd);
        if (!ready || !*ready)
            return false;
        auto n = platform::receiveSome(fd, into.subspan(got));
        if (!n || *n == 0)
            return false;
        got += *n;
    }
    return true;
}

} // namespace

void TunnelServer::serve(platform::UniqueFd connection, platform::Endpoint peer, int wakeFd)
{
    const int fd = connection.get();
    TunnelFaults faults;
    {
        std::scoped_lock lock(m_mutex);
        faults = m_faults;
    }
    if (!platform::sendAll(fd, shared::encodeHeader(shared::bareHeader(faults.greetingCode))))
        return;
    if (faults.greetingCode != 0)
        return;
    if (m_log)
        m_log("tunnel opened by " + platform::endpointText(peer));
    std::vector<uint8_t> dataOut;
    for (;;) {
        std::array<uint8_t, kHeader> header{};
        if (!readExactly(fd, wakeFd, header))
            break;
        const uint32_t cdbLength = std::min<uint32_t>(shared::readLe32(header, 12), 16);
        uint32_t inLength = shared::readLe32(header, 16);
        // An F1 announcement carries no lengths, yet the PC reads its data-in
        // buffer behind the reply: the unit takes the CDB's allocation length.
        if (header[24] == 0xF1 && inLength == 0)
            inLength = cdbLength >= 10 ? static_cast<uint32_t>(header[31] << 8 | header[32])
                                       : header[28];
        const uint32_t outLength = shared::readLe32(header, 20);
        if (inLength > kMaxData || outLength > kMaxData)
            break; // a broken peer: drop the connection
        dataOut.resize(outLength);
        if (!readExactly(fd, wakeFd, dataOut))
            break;
        {
            std::scoped_lock lock(m_mutex);
            faults = m_faults;
            if (m_requests.size() < kMaxRequestsKept)
                m_requests.push_back({{header.begin(), header.end()}, outLength});
        }
        if (faults.silent)
            continue;
        if (faults.delay.count() > 0 && m_server->stopEvent().wait(faults.delay))
            break;
        ScsiResult result;
        if (faults.failOpcode && cdbLength > 0 && header[24] == *faults.failOpcode) {
            result.status = 0x02;
            result.sense[0] = 0x70;
            result.sense[2] = 0x04; // HARDWARE ERROR
            result.sense[7] = 10;
            result.dataIn.assign(inLength, 0);
        } else {
            result = m_scanner.execute(std::span(header).subspan(24, cdbLength), dataOut,
                                       inLength);
        }
        const size_t total = kHeader + result.dataInSize();
        std::array<uint8_t, kHeader> reply{};
        shared::writeLe32(reply, 0, static_cast<uint32_t>(total));
        shared::writeLe32(reply, 4, shared::kPcMagic);
        shared::writeLe32(reply, 8, 1);
        reply[12] = result.status;
        std::copy(result.sense.begin(), result.sense.end(), reply.begin() + 16);
        // Image data go out from the scanner's page, without a copy.
        std::span<const uint8_t> parts[] = {reply, result.image, result.dataIn};
        if (faults.closeAfter && *faults.closeAfter < total) {
            size_t left = *faults.closeAfter;
            for (auto& part : parts) {
                part = part.first(std::min(left, part.size()));
                left -= part.size();
            }
            (void)platform::sendAllParts(fd, parts);
            break;
        }
        if (!platform::sendAllParts(fd, parts))
            break;
    }
    if (m_log)
        m_log("tunnel closed by " + platform::endpointText(peer));
}

} // namespace lumarc::unitsim
