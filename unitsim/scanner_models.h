// The built-in scanners of every model class the scanner information tool
// treats in its own way, each with an EEPROM image that keeps its counters,
// offsets, magnifications and power-saving time where its class keeps them.
#pragma once

#include "scanner_profiles.h"

#include <vector>

namespace lumarc::unitsim {

// One scanner per class 1, 2, 3, 6, 7, 8, 9, 10, 12, 13, 14, 16, 17 and 18
// (classes 13 and 15 are also ORBIX-2200 and ORBIX-4000).
std::vector<ScannerProfile> classScanners();

// The EEPROM images of the two first built-in models: ORBIX-4000 keeps the
// 511-byte layout of class 15, ORBIX-2200 the 127-byte layout of class 13.
std::array<uint8_t, kEepromSize> orbix4000Eeprom();
std::array<uint8_t, kEepromSize> orbix2200Eeprom();

} // namespace lumarc::unitsim
