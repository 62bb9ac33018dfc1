// The shared settings file "Quenty.ini": where it is, its sections, keys and
// defaults, and the operations every deliverable uses on it.
//
// The file is always <app-data>/Velorin/Orbtwain/Quenty.ini, and the launch
// settings file "Lanyard.ini" lies beside it, whichever program asks. There
// is no lock and no server: each read and write is one atomic profile
// operation, and a writer flushes a group of writes before it asks another
// program to read them.
//
// Readers differ in some defaults (Current is 1 for the unit list and the
// still-image device, 0 for the event module and the scanner tool; IP is
// "0.0.0.0" for the configuration tool and "" elsewhere), so those reads take
// the default from the caller, who picks one of the named constants below.
#pragma once

#include "platform/profile.h"
#include "platform/result.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace lumarc::shared {

// Where the files are.
std::filesystem::path settingsFolder();   // <app-data>/Velorin/Orbtwain
std::filesystem::path settingsFilePath(); // .../Quenty.ini
std::filesystem::path launchFilePath();   // .../Lanyard.ini

namespace section {
constexpr std::string_view kCommon = "Common";
constexpr std::string_view kTimeOut = "TimeOut";
} // namespace section

// The unit sections are "1" to Total, the index in decimal without padding.
std::string unitSection(uint32_t index);

namespace key {
// [Common]
constexpr std::string_view kTotal = "Total";
constexpr std::string_view kCurrent = "Current";
constexpr std::string_view kSelect = "Select";
constexpr std::string_view kRefresh = "Refresh";
constexpr std::string_view kTrgPort = "TrgPort";
constexpr std::string_view kShowViewMode = "ShowViewMode";
// [TimeOut]
constexpr std::string_view kSearchBox = "SearchBox";
constexpr std::string_view kMonIf = "MonIf";
// unit sections
constexpr std::string_view kIp = "IP";
constexpr std::string_view kNetBoxName = "NetBoxName";
constexpr std::string_view kScanner = "Scanner";
constexpr std::string_view kMac = "MAC";
constexpr std::string_view kStatus = "Status";
constexpr std::string_view kAuto = "Auto";
} // namespace key

namespace defaults {
constexpr int32_t kTotal = 0;
constexpr int32_t kCurrentInUnitList = 1;   // configuration tool, still-image device
constexpr int32_t kCurrentInEventModule = 0; // event module, scanner information tool
constexpr int32_t kSelect = 0;
constexpr int32_t kRefresh = 0;
constexpr int32_t kTrgPort = 10002;
constexpr int32_t kShowViewMode = 0;
constexpr int32_t kSearchBoxSeconds = 5;
constexpr int32_t kMonIfSeconds = 10;
constexpr std::string_view kIpInConfigTool = "0.0.0.0"; // means "missing"
constexpr std::string_view kIpElsewhere = "";
constexpr int32_t kStatus = 0;
constexpr int32_t kAuto = 0;
} // namespace defaults

// The configuration tool keeps the trigger port within this range.
constexpr uint32_t kTrgPortMin = 2000;
constexpr uint32_t kTrgPortMax = 60000;

// The event module and the scanner tool read Scanner into 16 bytes.
constexpr size_t kScannerCapacity = 16;

// Status of a unit section.
enum class UnitStatus : uint32_t { Inactive = 0, Active = 1, Busy = 2, MarkedForDeletion = 5 };

// The refresh handshake: the configuration tool writes Refresh = "0", flushes,
// posts kRefreshRequest to the window titled kEventModuleTitle, and polls
// Refresh every kRefreshPollInterval until it reads 1 or refreshWaitLimit
// has passed; the event module writes "1" and flushes when done.
constexpr uint32_t kRefreshRequest = 0x8100;
constexpr std::string_view kEventModuleTitle = "Kicklet";
constexpr std::string_view kRefreshPending = "0";
constexpr std::string_view kRefreshDone = "1";
// The still-image device server posts these to the same window around each
// scanner command, so that the event module can tell the unit's panel.
constexpr uint32_t kScannerChannelTaken = 0x8200;
constexpr uint32_t kScannerChannelFree = 0x8201;
constexpr std::chrono::milliseconds kRefreshPollInterval{100};
// (SearchBox + MonIf + 5) seconds: 20000 ms with the defaults.
std::chrono::milliseconds refreshWaitLimit(uint32_t searchBoxSeconds, uint32_t monIfSeconds);

// One unit section as read in one go.
struct UnitRecord {
    std::string ip;
    std::string netBoxName;
    std::string scanner;
    std::string mac;
    uint32_t status = defaults::kStatus;
    uint32_t autoFound = defaults::kAuto; // 1: answered the broadcast search
};

class SettingsFile {
public:
    SettingsFile(); // the file at settingsFilePath()
    explicit SettingsFile(std::filesystem::path path);

    const std::filesystem::path& path() const { return m_profile.path(); }
    platform::Profile& profile() { return m_profile; }
    const platform::Profile& profile() const { return m_profile; }

    // [Common] and [TimeOut], with the defaults of the table where every
    // reader agrees.
    uint32_t total() const;
    uint32_t current(int32_t fallback) const;
    uint32_t select() const;
    uint32_t refresh() const;
    uint32_t trgPort() const;
    uint32_t showViewMode() const;
    uint32_t searchBoxSeconds() const;
    uint32_t monIfSeconds() const;

    // A unit section; ipFallback is the reader's IP default.
    UnitRecord unit(uint32_t index, std::string_view ipFallback) const;

    // Single writes, made once.
    Status write(std::string_view section, std::string_view key, std::string_view value);
    Status writeNumber(std::string_view section, std::string_view key, uint32_t value);

    // A write made once more when the first attempt fails (the configuration
    // tool's rule for Select, Current, Status, TrgPort, Refresh = "1" and the
    // launch keys).
    Status writeWithRetry(std::string_view section, std::string_view key, std::string_view value);

    // Copies unit section from over section to, key lines as they are (the
    // event module closes the gap a deleted unit leaves this way).
    Status moveUnit(uint32_t from, uint32_t to);

    Status flush() const;

    // The event module's first start: creates the two folder levels and, when
    // the file is missing, the file with [Common] Total = "0", flushed. A
    // Total that another program wrote meanwhile is kept.
    Status createIfMissing();

private:
    platform::Profile m_profile;
};

// Writes once more when the first attempt fails, on any profile (the launch
// settings file shares the rule).
Status writeWithRetry(platform::Profile& profile, std::string_view section, std::string_view key,
                      std::string_view value);

} // namespace lumarc::shared
