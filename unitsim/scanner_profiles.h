// Scanners the simulated unit can have attached: invented models with their
// SCSI INQUIRY identification.
#pragma once

#include "platform/result.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumarc::unitsim {

struct ScannerProfile {
    std::string model;    // the product identification as the tools show it
    std::string vendor;   // 8 characters on the wire
    std::string product;  // 16 characters on the wire
    std::string revision; // 4 characters on the wire
};

// The built-in profiles.
const std::vector<ScannerProfile>& builtInScanners();

// A built-in profile by model name (case-insensitive).
std::optional<ScannerProfile> findScanner(std::string_view model);

// A profile from an ini file: [Scanner] Model, Vendor, Product, Revision
// (Model defaults to Product). Fails when Product is missing.
Result<ScannerProfile> loadScannerProfile(const std::string& path);

// The 96-byte standard INQUIRY data of a scanner (peripheral type 6,
// blank-padded vendor at 8, product at 16, revision at 32).
std::vector<uint8_t> inquiryData(const ScannerProfile& scanner);

} // namespace lumarc::unitsim
