// The management library's exports for the configuration tool.
#include "unit_management.h"

#include "texts.h"

namespace lumarc::configtool {

int32_t ZorvanManagement::startup()
{
    return Zorvan_Startup(0, 0);
}

int32_t ZorvanManagement::cleanup()
{
    return Zorvan_Cleanup();
}

uint32_t ZorvanManagement::getName(const std::string& unit, UnitNameRecord& out)
{
    return Zorvan_GetName(unit.c_str(), &out);
}

uint32_t ZorvanManagement::setName(const std::string& unit, const std::string& pin,
                                   const UnitNameRecord& record)
{
    return Zorvan_SetName(unit.c_str(), kAdminName, pin.c_str(), &record);
}

uint32_t ZorvanManagement::getFirmInfo(const std::string& unit,
                                       std::array<char, kFirmwareInfoSize>& out)
{
    // The third argument is not used by the library; the tool passes 21.
    return Zorvan_GetFirmInfo(unit.c_str(), out.data(), 21);
}

uint32_t ZorvanManagement::getNetInfo(const std::string& unit, NetInfoRecord& out)
{
    return Zorvan_GetNetInfo(unit.c_str(), &out);
}

uint32_t ZorvanManagement::maintenanceMode(const std::string& unit, const std::string& pin,
                                           uint32_t flag)
{
    return Zorvan_MaintenanceMode(unit.c_str(), kAdminName, pin.c_str(), flag);
}

uint32_t ZorvanManagement::setAdmin(const std::string& unit, const std::string& pin,
                                    const std::string& newPin)
{
    return Zorvan_SetAdmin(unit.c_str(), kAdminName, pin.c_str(), kAdminName, newPin.c_str());
}

uint32_t ZorvanManagement::getUserList(const std::string& unit, const std::string& adminPin,
                                       std::span<uint8_t, kUserListSize> out)
{
    return Zorvan_GetUserList(unit.c_str(), kAdminName, adminPin.c_str(), out.data());
}

uint32_t ZorvanManagement::userEntry(const std::string& unit, const std::string& user,
                                     const std::string& pin, const std::string& host)
{
    return Zorvan_UserEntry(unit.c_str(), user.c_str(), pin.c_str(), "", host.c_str(), 0);
}

uint32_t ZorvanManagement::adminUserEntry(const std::string& unit, const std::string& user,
                                          const std::string& pin, const std::string& host,
                                          const std::string& adminPin, uint32_t mode)
{
    return Zorvan_AdminUserEntry(unit.c_str(), user.c_str(), pin.c_str(), host.c_str(),
                                 kAdminName, adminPin.c_str(), mode);
}

uint32_t ZorvanManagement::getAllUser(const std::string& unit, const std::string& adminPin,
                                      const std::string& key,
                                      std::span<uint8_t, kUserDatabaseSize> out)
{
    return Zorvan_GetAllUser(unit.c_str(), kAdminName, adminPin.c_str(), key.c_str(), out.data(),
                             static_cast<uint32_t>(out.size()));
}

uint32_t ZorvanManagement::putAllUser(const std::string& unit, const std::string& adminPin,
                                      const std::string& key,
                                      std::span<const uint8_t, kUserDatabaseSize> block)
{
    return Zorvan_PutAllUser(unit.c_str(), kAdminName, adminPin.c_str(), key.c_str(),
                             block.data(), static_cast<uint32_t>(block.size()));
}

uint32_t sharedResultMessage(uint32_t code)
{
    switch (code) {
    case result::kInMaintenance:
        return sid::kInMaintenance;
    case result::kTimedOut:
        return sid::kUnitTimeout;
    case result::kExchangeFailed:
        return sid::kCannotCommunicate;
    default:
        return 0;
    }
}

uint32_t maintenanceEntryMessage(uint32_t code)
{
    switch (code) {
    case result::kUnresolvable:
        return sid::kAddressIncorrect;
    case result::kWrongPin:
        return sid::kPinMismatch;
    case result::kInMaintenance:
        return sid::kInMaintenance;
    case result::kRunning:
        return sid::kUnitRunning;
    default:
        return sid::kCannotCommunicate;
    }
}

} // namespace lumarc::configtool
