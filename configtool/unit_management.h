// The unit management calls the configuration tool makes, behind one
// interface: the program goes through libzorvan.so, tests through a fake.
// Every call blocks for one exchange with the unit (the library delivers
// pending window messages meanwhile); results are the library's codes.
#pragma once

#include "mgmt/zorvan.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace lumarc::configtool {

constexpr size_t kUserRecordSize = 288; // name (32) + host (256)
constexpr size_t kUserSlots = 32;
constexpr size_t kUserListSize = kUserSlots * kUserRecordSize; // 9216
constexpr size_t kUserDatabaseSize = 344320;
constexpr size_t kFirmwareInfoSize = 32;
constexpr const char* kAdminName = "root";

// Result codes the dialogs tell apart.
namespace result {
constexpr uint32_t kOk = 0;
constexpr uint32_t kUnresolvable = 1;
constexpr uint32_t kTableFull = 0x80;
constexpr uint32_t kNameTaken = 0x81;
constexpr uint32_t kWrongPin = 0x84;
constexpr uint32_t kInMaintenance = 0x400;
constexpr uint32_t kTimedOut = 0x500;
constexpr uint32_t kRunning = 0x800;
constexpr uint32_t kExchangeFailed = 0x80000004;
} // namespace result

class UnitManagement {
public:
    virtual ~UnitManagement() = default;
    virtual int32_t startup() = 0; // no notification window
    virtual int32_t cleanup() = 0;
    virtual uint32_t getName(const std::string& unit, UnitNameRecord& out) = 0;
    virtual uint32_t setName(const std::string& unit, const std::string& pin,
                             const UnitNameRecord& record) = 0;
    virtual uint32_t getFirmInfo(const std::string& unit,
                                 std::array<char, kFirmwareInfoSize>& out) = 0;
    virtual uint32_t getNetInfo(const std::string& unit, NetInfoRecord& out) = 0;
    virtual uint32_t maintenanceMode(const std::string& unit, const std::string& pin,
                                     uint32_t flag) = 0;
    virtual uint32_t setAdmin(const std::string& unit, const std::string& pin,
                              const std::string& newPin) = 0;
    virtual uint32_t getUserList(const std::string& unit, const std::string& adminPin,
                                 std::span<uint8_t, kUserListSize> out) = 0;
    virtual uint32_t userEntry(const std::string& unit, const std::string& user,
                               const std::string& pin, const std::string& host) = 0;
    // mode 1 modifies, 2 deletes.
    virtual uint32_t adminUserEntry(const std::string& unit, const std::string& user,
                                    const std::string& pin, const std::string& host,
                                    const std::string& adminPin, uint32_t mode) = 0;
    virtual uint32_t getAllUser(const std::string& unit, const std::string& adminPin,
                                const std::string& key,
                                std::span<uint8_t, kUserDatabaseSize> out) = 0;
    virtual uint32_t putAllUser(const std::string& unit, const std::string& adminPin,
                                const std::string& key,
                                std::span<const uint8_t, kUserDatabaseSize> block) = 0;
};

// The library's exports, with "root" as every administrator name.
class ZorvanManagement : public UnitManagement {
public:
    int32_t startup() override;
    int32_t cleanup() override;
    uint32_t getName(const std::string& unit, UnitNameRecord& out) override;
    uint32_t setName(const std::string& unit, const std::string& pin,
                     const UnitNameRecord& record) override;
    uint32_t getFirmInfo(const std::string& unit,
                         std::array<char, kFirmwareInfoSize>& out) override;
    uint32_t getNetInfo(const std::string& unit, NetInfoRecord& out) override;
    uint32_t maintenanceMode(const std::string& unit, const std::string& pin,
                             uint32_t flag) override;
    uint32_t setAdmin(const std::string& unit, const std::string& pin,
                      const std::string& newPin) override;
    uint32_t getUserList(const std::string& unit, const std::string& adminPin,
                         std::span<uint8_t, kUserListSize> out) override;
    uint32_t userEntry(const std::string& unit, const std::string& user, const std::string& pin,
                       const std::string& host) override;
    uint32_t adminUserEntry(const std::string& unit, const std::string& user,
                            const std::string& pin, const std::string& host,
                            const std::string& adminPin, uint32_t mode) override;
    uint32_t getAllUser(const std::string& unit, const std::string& adminPin,
                        const std::string& key,
                        std::span<uint8_t, kUserDatabaseSize> out) override;
    uint32_t putAllUser(const std::string& unit, const std::string& adminPin,
                        const std::string& key,
                        std::span<const uint8_t, kUserDatabaseSize> block) override;
};

// The message for a result that every dialog maps the same way (0x400,
// 0x500, 0x80000004), or 0 for any other result.
uint32_t sharedResultMessage(uint32_t result);

// The Administrator PIN dialog's message for a failed maintenance-mode
// entry.
uint32_t maintenanceEntryMessage(uint32_t result);

} // namespace lumarc::configtool
