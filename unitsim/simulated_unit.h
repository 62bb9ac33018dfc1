// One simulated Lumarc unit: its state and its management port on its own
// address (127.0.0.2, 127.0.0.3, ... inside a test namespace).
#pragma once

#include "management_server.h"
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
    std::string addressText() const;

private:
    explicit SimulatedUnit(UnitConfig config) : m_state(std::move(config)) {}

    UnitState m_state;
    std::unique_ptr<ManagementServer> m_management;
};

} // namespace lumarc::unitsim
