// Which units the backend offers as SANE devices, and what it says about
// each: the units of lumarc.conf, of the shared settings file (sections with
// an "IP") and of a broadcast search when the configuration asks for one,
// each address once. The device name is the unit's address as written there;
// the SANE dll loader shows it as "lumarc:<address>".
#pragma once

#include "config.h"

#include "shared/scsi_scanner.h"
#include "shared/settings_file.h"

#include <optional>
#include <string>
#include <vector>

namespace lumarc::sane {

// The settings file lists at most this many units for the backend.
constexpr uint32_t kMaxSettingsUnits = 256;

struct UnitEntry {
    std::string address; // dotted IPv4 or host name: the device name
    std::string model;   // the scanner model the settings file or a search names; may be empty
};

// The units to offer, in this order: the configuration's, the settings
// file's (unless the configuration leaves them out; sections marked for
// removal and without a usable IP are skipped), then those a search found.
std::vector<UnitEntry> collectUnits(const BackendConfig& config,
                                    const shared::SettingsFile& settings,
                                    const std::vector<UnitEntry>& discovered);

// The units that answer a broadcast search (through libzorvan; it waits
// [TimeOut] SearchBox seconds of the settings file). Empty when none did.
std::vector<UnitEntry> searchUnits();

// What a SANE frontend shows about a device.
struct DeviceFacts {
    std::string vendor, model, type;
};

// From the scanner's INQUIRY data and VPD page.
DeviceFacts factsOf(const shared::ScannerIdentity& identity,
                    const std::optional<shared::Capabilities>& capabilities);
// For a unit whose scanner cannot be asked now (another program has it).
DeviceFacts fallbackFacts(const UnitEntry& unit);

} // namespace lumarc::sane
