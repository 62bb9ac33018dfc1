// Assembling a simulated unit.
#include "simulated_unit.h"

#include "platform/unit_address.h"

namespace lumarc::unitsim {

Result<std::unique_ptr<SimulatedUnit>> SimulatedUnit::start(UnitConfig config,
                                                            ManagementServer::LogSink log)
{
    const uint32_t address = config.address;
    std::unique_ptr<SimulatedUnit> unit(new SimulatedUnit(std::move(config)));
    auto management = ManagementServer::start(unit->m_state, address, kManagementPort, log);
    if (!management)
        return management.error();
    unit->m_management = std::move(*management);
    auto discovery = DiscoveryResponder::start(unit->m_state, log);
    if (!discovery)
        return discovery.error();
    unit->m_discovery = std::move(*discovery);
    if (const auto scanner = unit->m_state.config().scanner) {
        unit->m_scanner = std::make_unique<SimulatedScanner>(*scanner);
        auto tunnel = TunnelServer::start(*unit->m_scanner, address, log);
        if (!tunnel)
            return tunnel.error();
        unit->m_tunnel = std::move(*tunnel);
    }
    return unit;
}

Result<SimulatedUnit::PressOutcome> SimulatedUnit::press(const platform::Endpoint& pc,
                                                         const EventMessage& message,
                                                         std::chrono::milliseconds timeout)
{
    const UnitConfig config = m_state.config();
    platform::Endpoint target = pc;
    if (target.port == 0)
        target.port = static_cast<uint16_t>(config.triggerPort);
    auto connection = EventConnection::open(config.address, target, timeout);
    if (!connection)
        return connection.error();
    PressOutcome outcome;
    outcome.greeting = connection->greetingCode();
    if (outcome.greeting != 0)
        return outcome;
    auto acked = connection->send(message, timeout);
    if (!acked)
        return acked.error();
    outcome.acknowledged = *acked;
    // The PC asks for the scan information before it lets the press go;
    // closing at once is what a unit does, the PC then sees the close.
    return outcome;
}

std::string SimulatedUnit::addressText() const
{
    return platform::addressText(m_state.config().address);
}

} // namespace lumarc::unitsim
