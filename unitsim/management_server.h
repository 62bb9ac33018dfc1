// The simulated unit's management port: accepts connections on TCP 10002 of
// its address, greets, reads one request, answers it through UnitState and
// closes, like a unit does. Faults can be injected for the tests.
//
// One thread serves every connection (an event loop, ConnectionServer), so
// exchanges of several PCs (or threads) run side by side without a thread
// each; waits that faults ask for are timers. The destructor closes every
// connection.
#pragma once

#include "connection_server.h"
#include "unit_state.h"

#include "platform/event.h"
#include "platform/net_socket.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace lumarc::unitsim {

constexpr uint16_t kManagementPort = 10002;

// Misbehaviour on request; applies to every following connection until
// changed (refusals count down).
struct FaultPlan {
    int refuseGreetings = 0;        // refuse this many greetings...
    uint32_t refusalCode = 5;       // ...with this code
    bool noGreeting = false;        // accept, then say nothing at all
    std::chrono::milliseconds replyDelay{0};
    std::optional<std::chrono::milliseconds> splitPause; // reply in two segments
    std::optional<size_t> closeAfter; // send only this many reply bytes, then close
    bool silent = false;              // read the request, never answer
    std::optional<uint32_t> lengthWord; // replace the reply's length word
    size_t trailingBytes = 0;           // extra bytes sent behind the reply
};

struct LoggedRequest {
    platform::Endpoint peer;
    std::vector<uint8_t> bytes;
};

class ManagementServer {
public:
    using LogSink = std::function<void(const std::string& line)>;

    // Binds address:port (network byte order address) and starts serving.
    static Result<std::unique_ptr<ManagementServer>> start(UnitState& state, uint32_t address,
                                                           uint16_t port = kManagementPort,
                                                           LogSink log = {});
    ~ManagementServer();

    void setFaults(const FaultPlan& plan);
    // Every request received so far, in arrival order.
    std::vector<LoggedRequest> requests() const;
    void clearRequests();
    // Connections accepted so far.
    size_t connections() const;

private:
    class Session;

    ManagementServer(UnitState& state, LogSink log) : m_state(state), m_log(std::move(log)) {}
    void log(const std::string& line) const;

    UnitState& m_state;
    LogSink m_log;
    mutable std::mutex m_mutex;
    FaultPlan m_faults;
    std::vector<LoggedRequest> m_requests;
    std::unique_ptr<ConnectionServer> m_server; // last: stops before the rest goes
};

} // namespace lumarc::unitsim
