// One simulated Lumarc unit: its state, its management port on its own
// address (127.0.0.2, 127.0.0.3, ... inside a test namespace), its answer to
// discovery, and its buttons.
#pragma once

#include "discovery_responder.h"
#include "event_connection.h"
#include "management_server.h"
#include "simulated_scanner.h"
#include "tunnel_server.h"
#include "unit_state.h"

#include <memory>

namespace lumarc::unitsim {

class SimulatedUnit {
public:
    // Starts serving at config.address. Fails when the port is taken.
    static Result<std::unique_ptr<SimulatedUnit>> start(UnitConfig config,
                                                        ManagementServer::LogSink log = {});

    UnitState& state() { return m_state; }
    ManagementServer& management() { return *m_management; }
    DiscoveryResponder& discovery() { return *m_discovery; }
    // The attached scanner and its tunnel; null for a unit without scanner.
    SimulatedScanner* scanner() { return m_scanner.get(); }
    TunnelServer* tunnel() { return m_tunnel.get(); }
    std::string addressText() const;

    // A button press: connects from the unit's address to pc (port 0: the
    // unit's trigger port), sends the event message and closes.
    struct PressOutcome {
        uint32_t greeting = 0;
        bool acknowledged = false;
    };
    Result<PressOutcome> press(const platform::Endpoint& pc, const EventMessage& message,
                               std::chrono::milliseconds timeout);

private:
    explicit SimulatedUnit(UnitConfig config) : m_state(std::move(config)) {}

    UnitState m_state;
    std::unique_ptr<ManagementServer> m_management;
    std::unique_ptr<DiscoveryResponder> m_discovery;
    std::unique_ptr<SimulatedScanner> m_scanner;
    std::unique_ptr<TunnelServer> m_tunnel;
};

} // namespace lumarc::unitsim
