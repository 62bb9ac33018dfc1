// The simulated unit's answer to discovery: listens on UDP port 10005 (any
// address, shared with the other simulated units of the machine) and answers
// each well-formed request with one datagram describing the unit.
#pragma once

#include "unit_state.h"

#include "platform/event.h"
#include "platform/net_socket.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace lumarc::unitsim {

constexpr uint16_t kDiscoveryPort = 10005;

// The reply datagram: unit magic, address (number form, little-endian), MAC,
// name (44), busy flag, scanner present, INQUIRY data. A unit without a
// scanner sends only the first 68 bytes.
std::vector<uint8_t> discoveryReply(const UnitConfig& config, bool busy);

struct DiscoveryFaults {
    bool wrongMagic = false;                // answer with a magic the PC must ignore
    std::chrono::milliseconds delay{0};     // answer late
    bool silent = false;                    // do not answer
    // Answer only requests from this machine (loopback or one of its own
    // addresses): a simulated unit on a desktop never answers the LAN.
    bool localRequestersOnly = false;
};

class DiscoveryResponder {
public:
    using LogSink = std::function<void(const std::string& line)>;

    static Result<std::unique_ptr<DiscoveryResponder>> start(UnitState& state, LogSink log = {});
    ~DiscoveryResponder();

    void setFaults(const DiscoveryFaults& faults);
    size_t requestsSeen() const;

private:
    DiscoveryResponder(UnitState& state, platform::UniqueFd socket, platform::Event stop,
                       LogSink log);
    void run();

    UnitState& m_state;
    platform::UniqueFd m_socket;
    platform::Event m_stop;
    LogSink m_log;
    mutable std::mutex m_mutex;
    DiscoveryFaults m_faults;
    size_t m_requests = 0;
    std::jthread m_thread;
};

} // namespace lumarc::unitsim
