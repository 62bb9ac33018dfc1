// Scanners the simulated unit can have attached: invented models, each with
// everything a host can read from it (INQUIRY identification, the vendor
// VPD page F0, the EEPROM image, firmware versions, hardware status and the
// two mode pages), built in or read from an ini file.
#pragma once

#include "platform/result.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumarc::unitsim {

constexpr size_t kEepromSize = 511;
constexpr size_t kVpdF0Size = 100;
constexpr size_t kFirmwareSize = 12;
constexpr size_t kHardwareStatusSize = 12;
constexpr size_t kHardwareStatusInk = 10; // remaining endorser ink, percent

// The vendor VPD page F0 by field; encodeVpdF0 places each at its offset
// (numbers big-endian).
struct VpdFacts {
    uint16_t basicX = 300, basicY = 300;      // 0x05, 0x07 (dpi)
    uint16_t maximumX = 600, maximumY = 600;  // 0x0A, 0x0C
    uint16_t minimumX = 50, minimumY = 50;    // 0x0E, 0x10
    uint32_t windowWidth = 0, windowLength = 0; // 0x14, 0x18 (pixels at the basic resolution)
    uint8_t videoOutput = 0;       // 0x1C: 0x02 black and white, 0x04 dither, 0x08 grey, 0xE0 colour
    uint16_t physicalFunction = 0; // 0x20-0x21; in 0x20: 0x02 panel, 0x10 duplex,
                                   // 0x20 transparency, 0x40 flatbed, 0x80 document feeder
    uint32_t bufferSize = 0;       // 0x22: bytes
    uint8_t brightnessSteps = 0, thresholdSteps = 0, contrastSteps = 0; // 0x52-0x54
    uint8_t dither = 0, gamma = 0;      // 0x56, 0x57: resident << 4 | registrable
    uint16_t imageProcessing = 0;       // 0x58-0x59 (0x59: 0x80 sub window, 0x40 error diffusion)
    uint16_t compression = 0;           // 0x5A-0x5B
    uint8_t endorser = 0;               // 0x5C: 0x80 mechanical, 0x40 stamper,
                                        //       0x20 electrical, low nibble identifiers
    uint8_t connectedInterface = 0;     // 0x62: 0 SCSI, 1 USB 1.1, 2 USB 2.0
};

std::array<uint8_t, kVpdF0Size> encodeVpdF0(const VpdFacts& facts);

// The date of first use (bytes 96-98, year, month, day; 0 = not registered)
// and the serial number (bytes 100-102, big-endian) in an EEPROM image whose
// other bytes are a recognisable pattern.
std::array<uint8_t, kEepromSize> makeEeprom(std::array<uint8_t, 3> firstUse, uint32_t serial);

struct ScannerProfile {
    std::string model;    // the product identification as the tools show it
    std::string vendor;   // 8 characters on the wire
    std::string product;  // 16 characters on the wire
    std::string revision; // 4 characters on the wire
    VpdFacts vpd;
    // Main controller, second controller and endorser firmware, four
    // characters each.
    std::string firmware;
    std::array<uint8_t, kEepromSize> eeprom{}; // the image at power-on
    std::array<uint8_t, kHardwareStatusSize> hardwareStatus{}; // byte 10: ink at power-on
    uint8_t powerSaving = 0x83; // mode page 34
    uint8_t lampTimer = 30;     // mode page 3D
    // Where the scanner keeps its power-saving time in the EEPROM image, in
    // the form mode page 34 reports it (classes 14, 16 and 18: byte 64; 15:
    // byte 328); none: the mode page alone holds it.
    std::optional<uint16_t> powerSavingByte;
    // The 128-byte block of READ(10)/WRITE(10) page 0x69; none: a pattern.
    std::optional<std::array<uint8_t, 128>> block;
};

// The built-in profiles.
const std::vector<ScannerProfile>& builtInScanners();

// A built-in profile by model name (case-insensitive).
std::optional<ScannerProfile> findScanner(std::string_view model);

// A profile from an ini file. [Scanner]: Product (required), Model (default
// Product), Vendor, Revision, Firmware (12 characters), Ink, PowerSaving,
// LampTimer. [VPD]: one key per VpdFacts field (BasicX ... Endorser).
// [EEPROM]: FirstUse (YY/MM/DD), Serial, or Image, a file of at most 511
// bytes (relative to the profile's folder) laid over the pattern. Every
// missing key keeps the value of the first built-in profile. A value that is
// not a number in its field's range, or a text too long for its field, is an
// error naming the file, section and key. A file larger than an ini file may
// be (platform::kMaxProfileFileSize) is refused with code 223 after reading
// at most that much.
Result<ScannerProfile> loadScannerProfile(const std::string& path);

// The 96-byte standard INQUIRY data of a scanner (peripheral type 6,
// blank-padded vendor at 8, product at 16, revision at 32).
std::vector<uint8_t> inquiryData(const ScannerProfile& scanner);

} // namespace lumarc::unitsim
