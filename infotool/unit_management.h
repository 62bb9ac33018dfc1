// The unit management calls the tool makes, behind one interface: the
// program goes through libzorvan.so, tests through a fake unit.
#pragma once

#include "mgmt/zorvan.h"

#include <cstdint>
#include <string>

namespace lumarc::infotool {

class UnitManagement {
public:
    virtual ~UnitManagement() = default;
    virtual int32_t startup() = 0; // no notification window
    virtual int32_t cleanup() = 0;
    virtual uint32_t scannerInfoMode(const std::string& unit, uint32_t flag) = 0;
    virtual uint32_t getName(const std::string& unit, UnitNameRecord& out) = 0;
    virtual uint32_t maintenanceMode(const std::string& unit, const std::string& adminName,
                                     const std::string& pin, uint32_t flag) = 0;
};

// The library's exports. Each call blocks for one exchange with the unit.
class ZorvanManagement : public UnitManagement {
public:
    int32_t startup() override { return Zorvan_Startup(0, 0); }
    int32_t cleanup() override { return Zorvan_Cleanup(); }
    uint32_t scannerInfoMode(const std::string& unit, uint32_t flag) override
    {
        return Zorvan_ScannerInfoMode(unit.c_str(), flag);
    }
    uint32_t getName(const std::string& unit, UnitNameRecord& out) override
    {
        return Zorvan_GetName(unit.c_str(), &out);
    }
    uint32_t maintenanceMode(const std::string& unit, const std::string& adminName,
                             const std::string& pin, uint32_t flag) override
    {
        return Zorvan_MaintenanceMode(unit.c_str(), adminName.c_str(), pin.c_str(), flag);
    }
};

// The message id for a failed mode call: 1, 132 (maintenance mode only),
// 1024, 2048, anything else.
uint32_t modeResultMessage(uint32_t result, bool maintenance);

} // namespace lumarc::infotool
