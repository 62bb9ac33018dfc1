// What a simulated unit knows and how it answers each management command.
//
// Pure logic, no sockets: handle() takes one request message and returns the
// reply message. The unit's rules: administrator requests need the
// administrator name and PIN (else 0x84); the user table has 32 slots (0x80
// when full, 0x81 for a name already registered); maintenance mode is held by
// one session at a time (0x400 when already held, 0x500 when leaving a
// session that timed out or never began); a busy unit turns changes away
// with 0x800. Any thread may call any member.
#pragma once

#include "scanner_profiles.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumarc::unitsim {

// Unit status words.
namespace status {
constexpr uint32_t kOk = 0;
constexpr uint32_t kTableFull = 0x80;
constexpr uint32_t kNameTaken = 0x81;
constexpr uint32_t kNoSuchUser = 0x82;
constexpr uint32_t kWrongPin = 0x84;
constexpr uint32_t kWrongKey = 0x85;
constexpr uint32_t kChecksum = 0x90;
constexpr uint32_t kFlashRange = 0x91;
constexpr uint32_t kInMaintenance = 0x400;
constexpr uint32_t kTimedOut = 0x500;
constexpr uint32_t kBusy = 0x800;
constexpr uint32_t kBadRequest = 0xFFFE;
constexpr uint32_t kUnknownCommand = 0xFFFF;
} // namespace status

constexpr size_t kUserSlots = 32;
constexpr size_t kFlashSize = 1024 * 1024;
constexpr size_t kUserDatabaseSize = 344080; // what the PC sends back
constexpr size_t kUserDatabaseReply = 344304; // what the unit sends

struct UnitConfig {
    std::string name = "LUMARC-SIM";
    std::string adminName = "root";
    std::string adminPin = "0000";
    uint32_t address = 0x0200007F; // network byte order (127.0.0.2)
    std::array<uint8_t, 6> mac{0x02, 0x4C, 0x4D, 0x00, 0x00, 0x02};
    uint32_t subnetMask = 0xFFFFFF00; // number form
    uint32_t gateway = 0;
    uint32_t primaryDns = 0;
    uint32_t secondaryDns = 0;
    uint32_t triggerPort = 10002;
    std::string firmware = "LM-2.10.0031";
    std::optional<ScannerProfile> scanner = builtInScanners().front();
    std::chrono::seconds maintenanceTimeout{600};
};

struct UserSlot {
    std::string name; // empty: free slot
    std::string pin;
    std::string host;
};

class UnitState {
public:
    explicit UnitState(UnitConfig config);

    // Answers one request (header included). The reply's length word counts
    // its bytes; a non-zero status carries no payload.
    std::vector<uint8_t> handle(std::span<const uint8_t> request);

    // A short readable description of a request, for logs.
    static std::string describe(std::span<const uint8_t> request);

    // What operators and tests observe and change.
    UnitConfig config() const;
    std::vector<UserSlot> users() const;
    std::vector<uint32_t> applicationReports() const;
    std::vector<std::string> panelTexts() const;
    // What the unit's panel showed, in order: "report N" for an
    // application report, the text itself (quoted) for a panel text.
    std::vector<std::string> panelLog() const;
    bool inMaintenance() const;
    bool inScannerInfoMode() const;
    bool inTestMode() const;
    std::vector<uint8_t> flash(size_t offset, size_t length) const;
    std::array<uint32_t, 256> lcdValues() const;
    uint32_t lcdLight() const;
    std::array<uint8_t, 12> deviceInfo() const;
    void setBusy(bool busy);
    bool busy() const;
    // Registers a user directly (operator set-up); false when the table is
    // full or the name is taken.
    bool preloadUser(const UserSlot& user);
    void setFrontPanelStatus(uint32_t status);

private:
    using Reply = std::vector<uint8_t>;
    Reply reply(uint32_t status, std::span<const uint8_t> payload = {}) const;
    bool adminOk(std::span<const uint8_t> payload, size_t offset = 0) const;
    bool maintenanceActive() const;
    Reply userEntry(uint32_t code, std::span<const uint8_t> payload);
    Reply userDatabase(std::span<const uint8_t> key) const;
    Reply restoreUserDatabase(std::span<const uint8_t> payload);
    Reply writeFlash(std::span<const uint8_t> request);
    Reply readFlash(std::span<const uint8_t> payload);
    std::optional<size_t> findUser(const std::string& name) const;

    mutable std::mutex m_mutex;
    UnitConfig m_config;
    std::array<UserSlot, kUserSlots> m_users;
    std::optional<std::chrono::steady_clock::time_point> m_maintenanceSince;
    bool m_scannerInfoMode = false;
    bool m_testMode = false;
    bool m_busy = false;
    uint32_t m_frontPanelStatus = 0;
    std::vector<uint32_t> m_reports;
    std::vector<std::string> m_panelTexts;
    std::vector<std::string> m_panelLog;
    std::vector<uint8_t> m_flash;
    std::array<uint32_t, 256> m_lcdValues{};
    uint32_t m_lcdLight = 0;
    std::array<uint8_t, 12> m_devinfo{};
};

} // namespace lumarc::unitsim
