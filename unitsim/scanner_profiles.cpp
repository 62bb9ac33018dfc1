// Built-in scanner profiles.
#include "scanner_profiles.h"

#include "platform/error_codes.h"
#include "platform/ini_document.h"
#include "platform/profile.h"

#include <filesystem>

#include <algorithm>

namespace lumarc::unitsim {
namespace {

constexpr size_t kInquiryLength = 96;
constexpr uint8_t kScannerDeviceType = 0x06;

void putPadded(std::vector<uint8_t>& bytes, size_t offset, size_t width, std::string_view text)
{
    for (size_t i = 0; i < width; ++i)
        bytes[offset + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

} // namespace

const std::vector<ScannerProfile>& builtInScanners()
{
    static const std::vector<ScannerProfile> profiles{
        {"ORBIX-4000", "VELORIN", "ORBIX-4000", "1.07"},
        {"ORBIX-2200", "VELORIN", "ORBIX-2200", "2.01"},
        {"TALVEN-S60", "TALVEN", "TALVEN-S60", "0.93"},
    };
    return profiles;
}

std::optional<ScannerProfile> findScanner(std::string_view model)
{
    for (const auto& profile : builtInScanners())
        if (platform::equalsIgnoreCase(profile.model, model))
            return profile;
    return std::nullopt;
}

Result<ScannerProfile> loadScannerProfile(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return Error{platform::win32::kFileNotFound, "no scanner profile " + path};
    const platform::Profile file(path);
    ScannerProfile profile;
    profile.product = file.readString("Scanner", "Product");
    if (profile.product.empty())
        return Error{platform::win32::kInvalidData, path + ": [Scanner] Product is missing"};
    profile.model = file.readString("Scanner", "Model", profile.product);
    profile.vendor = file.readString("Scanner", "Vendor", "VELORIN");
    profile.revision = file.readString("Scanner", "Revision", "1.00");
    return profile;
}

std::vector<uint8_t> inquiryData(const ScannerProfile& scanner)
{
    std::vector<uint8_t> data(kInquiryLength, 0);
    data[0] = kScannerDeviceType;
    data[2] = 0x02; // SCSI-2
    data[3] = 0x02; // response data format
    data[4] = static_cast<uint8_t>(kInquiryLength - 5);
    putPadded(data, 8, 8, scanner.vendor);
    putPadded(data, 16, 16, scanner.product);
    putPadded(data, 32, 4, scanner.revision);
    return data;
}

} // namespace lumarc::unitsim
