// The simulated unit's SCSI tunnel: TCP 10001 on the unit's address. Greets
// each connection, then answers tunnel requests with the simulated scanner
// until the PC closes. Faults on request: a refused greeting, a reply that
// never comes, a reply cut short by closing.
#pragma once

#include "simulated_scanner.h"

#include "platform/event.h"
#include "platform/net_socket.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace lumarc::unitsim {

constexpr uint16_t kTunnelPort = 10001;

struct TunnelFaults {
    uint32_t greetingCode = 0;            // non-zero refuses the connection
    bool silent = false;                  // read requests, never answer
    std::optional<size_t> closeAfter;     // send only this many reply bytes, then close
    std::optional<uint8_t> failOpcode;    // CHECK CONDITION (hardware error) for this opcode
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
    TunnelServer(SimulatedScanner& scanner, platform::UniqueFd listener, platform::Event stop,
                 LogSink log);
    void acceptLoop();
    void serve(platform::UniqueFd connection, platform::Endpoint peer);
    bool readExactly(int fd, std::span<uint8_t> into);

    SimulatedScanner& m_scanner;
    platform::UniqueFd m_listener;
    platform::Event m_stop;
    LogSink m_log;
    mutable std::mutex m_mutex;
    TunnelFaults m_faults;
    std::vector<TunnelRequestRecord> m_requests;
    size_t m_connections = 0;
    struct Worker {
        std::shared_ptr<std::atomic<bool>> done;
        std::jthread thread;
    };
    std::list<Worker> m_workers;
    std::jthread m_acceptor;
};

} // namespace lumarc::unitsim
