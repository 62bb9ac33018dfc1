// The scanner models the tool knows: the model table, the capability
// records beside it, the model lookup, the VPD override and the model
// flags that name particular models.
//
// A model class is a small number that selects every model-specific
// behaviour of the two pages and the Offset dialog. Class 20 means "not in
// the table"; classes 0, 4, 5 and 20 have no EEPROM access.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace lumarc::infotool {

using ModelClass = uint16_t;
constexpr ModelClass kClassNotFound = 20;

constexpr size_t kInquiryLength = 96;
constexpr size_t kVpdLength = 100;

struct ModelRow {
    uint16_t vendorLength; // 0 ends the table
    const char* vendor;
    uint32_t productLength;
    const char* product;
    const char* library; // carried, not used by the tool
    ModelClass modelClass;
};

namespace capability {
constexpr uint32_t kPaperSize = 0x001;
constexpr uint32_t kWindow = 0x004;
constexpr uint32_t kInterface = 0x010;
constexpr uint32_t kVpdOverride = 0x080; // this or above
constexpr uint32_t kResolutions = 0x100;
} // namespace capability

// Miscellaneous function bits of a capability record.
namespace misc {
constexpr uint32_t kSleepMode = 0x001;
constexpr uint32_t kBackgroundSwitch = 0x002;
constexpr uint32_t kMultifeed = 0x004;
constexpr uint32_t kDropoutColor = 0x008;
constexpr uint32_t kBufferedScan = 0x010;
constexpr uint32_t kBlankPage = 0x020;
constexpr uint32_t kPageEnd = 0x040;
constexpr uint32_t kBatch = 0x080;
constexpr uint32_t kSkew = 0x100;
constexpr uint32_t kLongPaper = 0x400;
constexpr uint32_t kCalibration = 0x800;
} // namespace misc

constexpr size_t kVpdOverrideSize = 19;

struct ModelCapabilities {
    uint32_t flags;
    uint16_t paperSize; // 1 A4/Legal, 2 A3/Double Letter, 4 A6
    uint32_t windowWidth, windowLength; // pixels
    uint16_t interfaceCode;             // 1 SCSI, 2 SCSI-I/SCSI-II, 16 USB
    uint32_t misc;
    const uint8_t* vpdOverride; // kVpdOverrideSize bytes, or null
    std::array<uint16_t, 6> resolutions; // basic X, Y, maximum X, Y, minimum X, Y
};

constexpr size_t kModelRows = 100;

// The 100 rows and the terminating row.
std::span<const ModelRow> modelTable();
// The capability record of a row; null for -1 or a row outside the table.
const ModelCapabilities* capabilitiesOf(int row);

struct ModelMatch {
    ModelClass modelClass = kClassNotFound;
    int row = -1;
};

// Finds the model by the device record's vendor and device description.
// The description is cut at its first blank when an "o" follows it (the
// " on NET" the device server appends); comparison is exact and
// case-sensitive. Not found, or found with class 0: class 20, row -1.
ModelMatch lookupModel(std::string_view vendor, std::string_view description);

// Completes VPD page F0 from the row's override block (only for rows whose
// record has one): classes 10 and 11 take every group, the others only the
// groups the scanner left zero.
void applyVpdOverride(ModelClass modelClass, int row, std::span<uint8_t, kVpdLength> vpd);

// Flags of particular models, by the beginning of the device description.
struct ModelFlags {
    bool hasFlatbed = false;      // flatbed counter, offsets and magnification
    bool singleSidedAdf = false;  // the feeder reads the front only
    bool hasBottomOffset = false; // bottom offsets in byte 55
};
ModelFlags modelFlags(std::string_view description);

// Whether the product identification names the model whose "Flatbed" row
// shows Yes whatever its VPD page says.
bool forcesFlatbed(std::string_view productIdentification);

// Whether the first word of the local name, VPD page and INQUIRY data give
// the narrow back-side offset range (-50..50) of some feeders.
bool narrowBackOffsetRange(std::string_view localName, std::span<const uint8_t> vpd,
                           std::span<const uint8_t> inquiry);

// Class traits used on several pages.
bool hasEepromAccess(ModelClass c);      // all but 0, 4, 5, 20
bool keepsPowerSaving(ModelClass c);     // 14, 15, 16, 18: slider instead of lamp timer
bool mayHaveEndorser(ModelClass c);      // 13, 14, 15, 16, 18
bool hasSecondPadCounter(ModelClass c);  // 8, 13, 14, 16, 18
bool sendsLampTimer(ModelClass c);       // all but 8, 10, 13, 14, 15, 16, 18

} // namespace lumarc::infotool
