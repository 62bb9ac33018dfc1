// What the pages know about the scanner: who it is, and the data read from
// it that several pages share.
#pragma once

#include "model_table.h"

#include <array>
#include <cstdint>
#include <string>

namespace lumarc::infotool {

constexpr size_t kEepromLength = 511;

struct ScannerIdentity {
    std::string vendor;      // the device record's vendor description
    std::string description; // its device description ("ORBIX-4000 on NET")
    std::string localName;   // its local name
    ModelMatch match;
    ModelFlags flags; // from the description

    ModelClass modelClass() const { return match.modelClass; }
};

// The identity of a device record's texts, with the model looked up.
ScannerIdentity identify(std::string vendor, std::string description, std::string localName);

struct ScannerData {
    std::array<uint8_t, kInquiryLength> inquiry{};
    std::array<uint8_t, kVpdLength> vpd{};
};

// Whether the scanner has an endorser the Device Set page looks after:
// classes 13, 14, 15, 16 and 18 with VPD byte 0x5C of 32 or more.
bool endorserFitted(ModelClass modelClass, const ScannerData& data);

} // namespace lumarc::infotool
