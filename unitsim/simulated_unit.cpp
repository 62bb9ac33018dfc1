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
    return unit;
}

std::string SimulatedUnit::addressText() const
{
    return platform::addressText(m_state.config().address);
}

} // namespace lumarc::unitsim
