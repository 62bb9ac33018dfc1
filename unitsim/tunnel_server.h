// The simulated unit's SCSI tunnel: TCP 10001 on the unit's address. Greets
// each connection, then answers tunnel requests with the simulated scanner
// until the PC closes, one at a time and in order; image data go out from
// the scanner's rendered page without a copy. Faults on request: a refused
// greeting, a reply that never comes, a late reply, a reply cut short by
// closing, CHECK CONDITION for one opcode.
#pragma once

#include "connection_server.h"
#include "simulated_scanner.h"

#include "platform/event.h"
#include "platform/net_socket.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace lumarc::unitsim {

constexpr uint16_t kTunnelPort = 10001;

struct TunnelFaults {
    uint32_t greetingCode = 0;            // non-zero refuses the connection
    bool silent = false;                  // read requests, never answer
    std::optional<size_t> closeAfter;     // send only this many reply bytes, then close
    std::optional<uint8_t> failOpcode;    // CHECK CONDITION (hardware error) for this opcode
    uint8_t failStatus = 0x02;            // the status failOpcode gets (0x08: BUSY, no sense)
    std::chrono::milliseconds delay{0};   // answer late
};

struct TunnelRequestRecord {
    std::vector<uint8_t> header; // the 40 header bytes
    size_t dataOutLength = 0;
};

class TunnelServer {
public:
    using LogSink = std::function<void(const std::string& line)>;

    static Result<std::unique_ptr<TunnelServer>> start(SimulatedScanner& scanner, uint32_t address,
                                                       LogSink log = {});
    ~TunnelServer();

    void setFaults(const TunnelFaults& faults);
    std::vector<TunnelRequestRecord> requests() const;
    size_t connections() const;

private:
    class Session;

    TunnelServer(SimulatedScanner& scanner, LogSink log)
        : m_scanner(scanner), m_log(std::move(log))
    {
    }

    SimulatedScanner& m_scanner;
    LogSink m_log;
    mutable std::mutex m_mutex;
    TunnelFaults m_faults;
    std::vector<TunnelRequestRecord> m_requests;
    std::unique_ptr<ConnectionServer> m_server; // last: stops before the rest goes
};

} // namespace lumarc::unitsim
