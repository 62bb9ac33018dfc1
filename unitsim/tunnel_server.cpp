// Serving the SCSI tunnel.
#include "tunnel_server.h"

#include "shared/message_header.h"

namespace lumarc::unitsim {
namespace {

constexpr size_t kHeader = 40;
constexpr size_t kMaxData = 524504;
constexpr size_t kMaxRequestsKept = 10000;

} // namespace

// One tunnel connection. Requests are answered one at a time: the next is
// taken once the reply to the previous one has gone out.
//
//   greeting --> waiting --request complete--> [delay] --> replying --sent--> waiting
//   refused greeting: closed once it has gone out
class TunnelServer::Session : public ConnectionServer::Session {
public:
    explicit Session(TunnelServer& server) : m_server(server) {}

    void started(ConnectionServer::Connection& c) override
    {
        {
            std::scoped_lock lock(m_server.m_mutex);
            m_faults = m_server.m_faults;
        }
        m_greeting = shared::encodeHeader(shared::bareHeader(m_faults.greetingCode));
        c.send(m_greeting);
        if (m_faults.greetingCode != 0) {
            c.closeAfterSending();
            return;
        }
        m_opened = true;
        if (m_server.m_log)
            m_server.m_log("tunnel opened by " + platform::endpointText(c.peer()));
    }

    void received(ConnectionServer::Connection& c) override { takeRequests(c); }

    void sent(ConnectionServer::Connection& c) override
    {
        m_image.reset();
        m_data.clear();
        takeRequests(c);
    }

    void timerExpired(ConnectionServer::Connection& c) override
    {
        // The delay is over: answer the request still waiting in the input.
        m_delaying = false;
        c.setReading(true);
        answer(c);
    }

    void closed(ConnectionServer::Connection& c) override
    {
        if (m_opened && m_server.m_log)
            m_server.m_log("tunnel closed by " + platform::endpointText(c.peer()));
    }

private:
    // Answers the complete requests in the input, as long as no reply is on
    // its way and no delay runs.
    void takeRequests(ConnectionServer::Connection& c)
    {
        while (!c.sending() && !m_delaying) {
            const auto in = c.input();
            if (in.size() < kHeader)
                return;
            const uint32_t cdbLength = std::min<uint32_t>(shared::readLe32(in, 12), 16);
            uint32_t inLength = shared::readLe32(in, 16);
            // An F1 announcement carries no lengths, yet the PC reads its
            // data-in buffer behind the reply: the unit takes the CDB's
            // allocation length.
            if (in[24] == 0xF1 && inLength == 0)
                inLength = cdbLength >= 10 ? static_cast<uint32_t>(in[31] << 8 | in[32]) : in[28];
            const uint32_t outLength = shared::readLe32(in, 20);
            if (inLength > kMaxData || outLength > kMaxData) {
                c.close(); // a broken peer: drop the connection
                return;
            }
            if (in.size() < kHeader + outLength)
                return;
            m_cdbLength = cdbLength;
            m_inLength = inLength;
            m_outLength = outLength;
            {
                std::scoped_lock lock(m_server.m_mutex);
                m_faults = m_server.m_faults;
                if (m_server.m_requests.size() < kMaxRequestsKept)
                    m_server.m_requests.push_back(
                        {{in.begin(), in.begin() + kHeader}, outLength});
            }
            if (m_faults.silent) {
                c.consume(kHeader + outLength);
                continue;
            }
            if (m_faults.delay.count() > 0) {
                // Answer late; meanwhile read nothing more, as a unit busy
                // with the request does.
                m_delaying = true;
                c.setReading(false);
                c.startTimer(m_faults.delay);
                return;
            }
            answer(c);
        }
    }

    // Answers the request at the front of the input and consumes it.
    void answer(ConnectionServer::Connection& c)
    {
        const auto in = c.input();
        const auto header = in.first(kHeader);
        ScsiResult result;
        if (m_faults.failOpcode && m_cdbLength > 0 && header[24] == *m_faults.failOpcode) {
            result.status = m_faults.failStatus;
            if (result.status == 0x02) {
                result.sense[0] = 0x70;
                result.sense[2] = 0x04; // HARDWARE ERROR
                result.sense[7] = 10;
            }
            result.dataIn.assign(m_inLength, 0);
        } else {
            result = m_server.m_scanner.execute(header.subspan(24, m_cdbLength),
                                                in.subspan(kHeader, m_outLength), m_inLength);
        }
        c.consume(kHeader + m_outLength);

        const size_t total = kHeader + result.dataInSize();
        m_reply = {};
        shared::writeLe32(m_reply, 0, static_cast<uint32_t>(total));
        shared::writeLe32(m_reply, 4, shared::kPcMagic);
        shared::writeLe32(m_reply, 8, 1);
        m_reply[12] = result.status;
        std::copy(result.sense.begin(), result.sense.end(), m_reply.begin() + 16);
        // The reply's pieces live here until they have gone out.
        m_image = std::move(result.imageOwner);
        m_data = std::move(result.dataIn);
        std::span<const uint8_t> pieces[] = {m_reply, result.image, m_data};
        if (m_faults.closeAfter) {
            // Cut the reply short, then close.
            size_t left = *m_faults.closeAfter;
            for (auto& piece : pieces) {
                piece = piece.first(std::min(left, piece.size()));
                left -= piece.size();
            }
        }
        for (const auto& piece : pieces)
            c.send(piece);
        if (m_faults.closeAfter && *m_faults.closeAfter < total)
            c.closeAfterSending();
    }

    TunnelServer& m_server;
    TunnelFaults m_faults;
    bool m_opened = false;
    bool m_delaying = false;
    uint32_t m_cdbLength = 0, m_inLength = 0, m_outLength = 0;
    std::array<uint8_t, shared::kHeaderSize> m_greeting{};
    std::array<uint8_t, kHeader> m_reply{};
    std::shared_ptr<const void> m_image;
    std::vector<uint8_t> m_data;
};

Result<std::unique_ptr<TunnelServer>> TunnelServer::start(SimulatedScanner& scanner,
                                                           uint32_t address, LogSink log)
{
    std::unique_ptr<TunnelServer> server(new TunnelServer(scanner, std::move(log)));
    auto tcp = ConnectionServer::start({address, kTunnelPort}, [s = server.get()] {
        return std::make_unique<Session>(*s);
    });
    if (!tcp)
        return tcp.error();
    server->m_server = std::move(*tcp);
    return server;
}

TunnelServer::~TunnelServer()
{
    m_server.reset(); // closes every connection before the scanner goes
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

} // namespace lumarc::unitsim
