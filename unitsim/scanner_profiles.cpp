// Built-in scanner profiles and profile files.
#include "scanner_profiles.h"

#include "scanner_models.h"

#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "platform/ini_document.h"
#include "platform/profile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <limits>

namespace lumarc::unitsim {
namespace {

constexpr size_t kInquiryLength = 96;
constexpr uint8_t kScannerDeviceType = 0x06;
constexpr uint8_t kVpdPage = 0xF0;
constexpr size_t kFirstUseOffset = 96;
constexpr size_t kSerialOffset = 100;
constexpr uint32_t kMaxSerial = 0xFFFFFF;

void putPadded(std::vector<uint8_t>& bytes, size_t offset, size_t width, std::string_view text)
{
    for (size_t i = 0; i < width; ++i)
        bytes[offset + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

template <size_t N> void putBe(std::array<uint8_t, N>& bytes, size_t at, size_t width, uint32_t v)
{
    for (size_t i = 0; i < width; ++i)
        bytes[at + i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
}

// A4 at the basic resolution: the paper every built-in scanner takes.
constexpr uint32_t kA4Pixels300Wide = 2480;
constexpr uint32_t kA4Pixels300Long = 3507;

ScannerProfile orbix4000()
{
    ScannerProfile p;
    p.model = p.product = "ORBIX-4000";
    p.vendor = "VELORIN";
    p.revision = "1.07";
    // A departmental sheet-fed scanner: duplex feeder, endorser, 64 MB.
    p.vpd.windowWidth = kA4Pixels300Wide;
    p.vpd.windowLength = kA4Pixels300Long;
    p.vpd.videoOutput = 0xEE;
    p.vpd.physicalFunction = 0x9200; // panel, duplex, feeder
    p.vpd.bufferSize = 64u << 20;
    p.vpd.brightnessSteps = 255;
    p.vpd.thresholdSteps = 255;
    p.vpd.contrastSteps = 255;
    p.vpd.dither = 0x52;
    p.vpd.gamma = 0x42;
    p.vpd.imageProcessing = 0xFCC0;
    p.vpd.compression = 0xE800;
    p.vpd.endorser = 0xA1;
    p.firmware = "1.0702100105";
    p.eeprom = orbix4000Eeprom(); // class 15
    p.powerSavingByte = 328;
    p.powerSaving = 0x84;
    p.hardwareStatus[0] = 0x01; // ready
    p.hardwareStatus[kHardwareStatusInk] = 64;
    return p;
}

ScannerProfile orbix2200()
{
    ScannerProfile p;
    p.model = p.product = "ORBIX-2200";
    p.vendor = "VELORIN";
    p.revision = "2.01";
    // A flatbed with a feeder, up to 1200 dpi, no endorser, never registered.
    p.vpd.maximumX = p.vpd.maximumY = 1200;
    p.vpd.windowWidth = kA4Pixels300Wide;
    p.vpd.windowLength = kA4Pixels300Long;
    p.vpd.videoOutput = 0xEE;
    p.vpd.physicalFunction = 0xC200; // panel, flatbed, feeder
    p.vpd.bufferSize = 32u << 20;
    p.vpd.dither = 0x30;
    p.vpd.gamma = 0x30;
    p.vpd.imageProcessing = 0x0880;
    p.vpd.compression = 0x0800;
    p.firmware = "2.0103000000";
    p.eeprom = orbix2200Eeprom(); // class 13, with a flatbed
    p.hardwareStatus[0] = 0x01;
    p.lampTimer = 15;
    return p;
}

ScannerProfile talvenS60()
{
    ScannerProfile p;
    p.model = p.product = "TALVEN-S60";
    p.vendor = "TALVEN";
    p.revision = "0.93";
    // A small feeder scanner with an electrical endorser and 8 MB.
    p.vpd.windowWidth = kA4Pixels300Wide;
    p.vpd.windowLength = kA4Pixels300Long;
    p.vpd.videoOutput = 0xEE;
    p.vpd.physicalFunction = 0x8000;
    p.vpd.bufferSize = 8u << 20;
    p.vpd.brightnessSteps = 64;
    p.vpd.contrastSteps = 64;
    p.vpd.dither = 0x10;
    p.vpd.gamma = 0x10;
    p.vpd.endorser = 0x21;
    p.firmware = "0.9301010011";
    p.eeprom = makeEeprom({25, 11, 2}, 256);
    p.hardwareStatus[0] = 0x01;
    p.hardwareStatus[kHardwareStatusInk] = 91;
    p.powerSaving = 0x86;
    return p;
}

// Reads a profile file strictly: every value present must fit its field.
class ProfileFileReader {
public:
    ProfileFileReader(std::string path, platform::IniDocument doc)
        : m_path(std::move(path)), m_doc(std::move(doc))
    {
    }

    template <class T> void number(std::string_view section, std::string_view key, T& field)
    {
        const auto text = m_doc.value(section, key);
        if (!text || !m_error.empty())
            return;
        uint64_t value = 0;
        std::string_view digits = *text;
        int base = 10;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            digits.remove_prefix(2);
            base = 16;
        }
        const auto [end, ec] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
        if (ec != std::errc{} || end != digits.data() + digits.size() || digits.empty() ||
            value > std::numeric_limits<T>::max()) {
            fail(section, key,
                 "\"" + *text + "\" is not a number from 0 to " +
                     std::to_string(static_cast<uint64_t>(std::numeric_limits<T>::max())));
            return;
        }
        field = static_cast<T>(value);
    }

    void text(std::string_view section, std::string_view key, std::string& field,
              size_t maxLength, bool exact = false)
    {
        const auto value = m_doc.value(section, key);
        if (!value || !m_error.empty())
            return;
        if (exact ? value->size() != maxLength : value->size() > maxLength) {
            fail(section, key,
                 "\"" + *value + "\" must be " + (exact ? "exactly " : "at most ") +
                     std::to_string(maxLength) + " characters");
            return;
        }
        field = *value;
    }

    std::optional<std::string> raw(std::string_view section, std::string_view key) const
    {
        return m_doc.value(section, key);
    }

    void fail(std::string_view section, std::string_view key, const std::string& why)
    {
        if (m_error.empty())
            m_error = m_path + ": [" + std::string(section) + "] " + std::string(key) + ": " + why;
    }

    const std::string& error() const { return m_error; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    platform::IniDocument m_doc;
    std::string m_error;
};

void readVpd(ProfileFileReader& in, VpdFacts& v)
{
    constexpr std::string_view s = "VPD";
    in.number(s, "BasicX", v.basicX);
    in.number(s, "BasicY", v.basicY);
    in.number(s, "MaximumX", v.maximumX);
    in.number(s, "MaximumY", v.maximumY);
    in.number(s, "MinimumX", v.minimumX);
    in.number(s, "MinimumY", v.minimumY);
    in.number(s, "WindowWidth", v.windowWidth);
    in.number(s, "WindowLength", v.windowLength);
    in.number(s, "VideoOutput", v.videoOutput);
    in.number(s, "PhysicalFunction", v.physicalFunction);
    in.number(s, "BufferSize", v.bufferSize);
    in.number(s, "BrightnessSteps", v.brightnessSteps);
    in.number(s, "ThresholdSteps", v.thresholdSteps);
    in.number(s, "ContrastSteps", v.contrastSteps);
    in.number(s, "Dither", v.dither);
    in.number(s, "Gamma", v.gamma);
    in.number(s, "ImageProcessing", v.imageProcessing);
    in.number(s, "Compression", v.compression);
    in.number(s, "Endorser", v.endorser);
    if (in.error().empty() && (v.minimumX == 0 || v.minimumY == 0 || v.minimumX > v.maximumX ||
                               v.minimumY > v.maximumY))
        in.fail(s, "MinimumX", "the resolutions must satisfy 0 < minimum <= maximum");
}

void readEeprom(ProfileFileReader& in, std::array<uint8_t, kEepromSize>& image)
{
    constexpr std::string_view s = "EEPROM";
    if (const auto file = in.raw(s, "Image")) {
        const auto where = std::filesystem::path(in.path()).parent_path() / *file;
        const auto bytes = platform::readWholeFile(where, kEepromSize);
        if (!bytes && bytes.error().code == platform::win32::kFileTooLarge) {
            in.fail(s, "Image", where.string() + " holds more than 511 bytes");
            return;
        }
        if (!bytes) {
            in.fail(s, "Image", bytes.error().text);
            return;
        }
        std::copy(bytes->begin(), bytes->end(), image.begin());
    }
    if (const auto date = in.raw(s, "FirstUse")) {
        unsigned y = 0, m = 0, d = 0;
        char tail = 0;
        if (std::sscanf(date->c_str(), "%2u/%2u/%2u%c", &y, &m, &d, &tail) != 3 || m > 12 ||
            d > 31) {
            in.fail(s, "FirstUse", "\"" + *date + "\" is not YY/MM/DD");
            return;
        }
        image[kFirstUseOffset] = static_cast<uint8_t>(y);
        image[kFirstUseOffset + 1] = static_cast<uint8_t>(m);
        image[kFirstUseOffset + 2] = static_cast<uint8_t>(d);
    }
    if (in.raw(s, "Serial")) {
        uint32_t serial = 0;
        in.number(s, "Serial", serial);
        if (serial > kMaxSerial)
            in.fail(s, "Serial", "a serial number has at most 24 bits (16777215)");
        putBe(image, kSerialOffset, 3, serial);
    }
}

} // namespace

std::array<uint8_t, kVpdF0Size> encodeVpdF0(const VpdFacts& v)
{
    std::array<uint8_t, kVpdF0Size> page{};
    page[0] = kScannerDeviceType;
    page[1] = kVpdPage;
    page[3] = static_cast<uint8_t>(kVpdF0Size - 4);
    putBe(page, 0x05, 2, v.basicX);
    putBe(page, 0x07, 2, v.basicY);
    putBe(page, 0x0A, 2, v.maximumX);
    putBe(page, 0x0C, 2, v.maximumY);
    putBe(page, 0x0E, 2, v.minimumX);
    putBe(page, 0x10, 2, v.minimumY);
    putBe(page, 0x14, 4, v.windowWidth);
    putBe(page, 0x18, 4, v.windowLength);
    page[0x1C] = v.videoOutput;
    putBe(page, 0x20, 2, v.physicalFunction);
    putBe(page, 0x22, 4, v.bufferSize);
    page[0x52] = v.brightnessSteps;
    page[0x53] = v.thresholdSteps;
    page[0x54] = v.contrastSteps;
    page[0x56] = v.dither;
    page[0x57] = v.gamma;
    putBe(page, 0x58, 2, v.imageProcessing);
    putBe(page, 0x5A, 2, v.compression);
    page[0x5C] = v.endorser;
    page[0x62] = v.connectedInterface;
    return page;
}

std::array<uint8_t, kEepromSize> makeEeprom(std::array<uint8_t, 3> firstUse, uint32_t serial)
{
    std::array<uint8_t, kEepromSize> image{};
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 13 + 7);
    std::copy(firstUse.begin(), firstUse.end(), image.begin() + kFirstUseOffset);
    putBe(image, kSerialOffset, 3, std::min(serial, kMaxSerial));
    return image;
}

const std::vector<ScannerProfile>& builtInScanners()
{
    static const std::vector<ScannerProfile> profiles = [] {
        std::vector<ScannerProfile> all{orbix4000(), orbix2200(), talvenS60()};
        for (auto& scanner : classScanners())
            all.push_back(std::move(scanner));
        return all;
    }();
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
    // A profile is an ini file, and as large as one may be.
    auto bytes = platform::readWholeFile(path, platform::kMaxProfileFileSize);
    if (!bytes && bytes.error().code == platform::win32::kFileNotFound)
        return Error{platform::win32::kFileNotFound, "no scanner profile " + path};
    if (!bytes)
        return bytes.error();
    ProfileFileReader in(path, platform::IniDocument::parse(*bytes));

    ScannerProfile profile = builtInScanners().front();
    profile.product.clear();
    in.text("Scanner", "Product", profile.product, 16);
    if (in.error().empty() && profile.product.empty())
        in.fail("Scanner", "Product", "missing; every profile names its product");
    profile.model = profile.product;
    in.text("Scanner", "Model", profile.model, 64);
    in.text("Scanner", "Vendor", profile.vendor, 8);
    in.text("Scanner", "Revision", profile.revision, 4);
    in.text("Scanner", "Firmware", profile.firmware, kFirmwareSize, true);
    in.number("Scanner", "Ink", profile.hardwareStatus[kHardwareStatusInk]);
    in.number("Scanner", "PowerSaving", profile.powerSaving);
    in.number("Scanner", "LampTimer", profile.lampTimer);
    if (in.error().empty() && profile.hardwareStatus[kHardwareStatusInk] > 100)
        in.fail("Scanner", "Ink", "a percentage from 0 to 100");
    readVpd(in, profile.vpd);
    readEeprom(in, profile.eeprom);
    if (!in.error().empty())
        return Error{platform::win32::kInvalidData, in.error()};
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
