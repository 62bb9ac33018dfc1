// The EEPROM dump file: the image, the INQUIRY data and VPD page F0 of the
// scanner in one 2304-byte file in the Windows directory's
// twain_32/orbscan32/DUMP/ folder, named after the product.
#pragma once

#include "device_set_logic.h"
#include "scanner_data.h"

#include <ctime>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace lumarc::infotool {

constexpr size_t kDumpFileSize = 2304;

// The product identification (INQUIRY bytes 16-31) without its padding:
// trailing blanks and NULs go, lowercase option letters stay.
std::string dumpName(std::span<const uint8_t, kInquiryLength> inquiry);

// <Windows directory>/twain_32/orbscan32/DUMP/EEP<name>.bin
std::filesystem::path dumpPath(std::span<const uint8_t, kInquiryLength> inquiry);

std::vector<uint8_t> dumpBytes(std::time_t written, const EepromImage& image,
                               const ScannerData& data);

// Writes the file when its folder exists; false (and nothing reported) when
// it cannot be written. The folder is never created.
bool writeDumpFile(const EepromImage& image, const ScannerData& data);

} // namespace lumarc::infotool
