// The model table of VELORIN scanners and what the tool looks up in it.
#include "model_table.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace lumarc::infotool {
namespace {

using namespace capability;

// Override blocks: video output, physical function (2), buffer size (4),
// brightness/threshold/contrast steps and the byte behind them (4), dither
// and gamma counts (2), image processing (2), compression (2), endorser,
// and the byte at 0x5E.
constexpr uint8_t kMiroOverride[kVpdOverrideSize] = {
    0x0E, 0x82, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x40,
    0x00, 0x21, 0x21, 0x08, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr uint8_t kOrbix4000Override[kVpdOverrideSize] = {
    0xEE, 0x92, 0x00, 0x04, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF,
    0x00, 0x52, 0x42, 0xFC, 0xC0, 0xE8, 0x00, 0xA1, 0x02};
constexpr uint8_t kKavroOverride[kVpdOverrideSize] = {
    0xEE, 0xD2, 0x00, 0x02, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF,
    0x00, 0x42, 0x42, 0xF8, 0xC0, 0xE8, 0x00, 0x00, 0x01};
constexpr uint8_t kNoviaOverride[kVpdOverrideSize] = {
    0xEE, 0x92, 0x00, 0x08, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF,
    0x00, 0x52, 0x52, 0xFD, 0xE0, 0xE8, 0x00, 0xA3, 0x03};

constexpr uint32_t kOfficeMisc = misc::kSleepMode | misc::kMultifeed | misc::kBufferedScan;
constexpr uint32_t kProductionMisc = misc::kSleepMode | misc::kBackgroundSwitch |
                                     misc::kMultifeed | misc::kDropoutColor |
                                     misc::kBufferedScan | misc::kBlankPage | misc::kPageEnd |
                                     misc::kBatch | misc::kSkew | misc::kCalibration;

// Paper size and interface only, as most records are.
constexpr ModelCapabilities basic(uint16_t paper, uint16_t interfaceCode, uint32_t miscBits)
{
    return {kPaperSize | kInterface, paper, 0, 0, interfaceCode, miscBits, nullptr, {}};
}
constexpr ModelCapabilities withOverride(uint16_t paper, uint16_t interfaceCode,
                                         uint32_t miscBits, const uint8_t* block)
{
    return {kPaperSize | kInterface | kVpdOverride, paper, 0, 0, interfaceCode, miscBits, block,
            {}};
}

constexpr ModelCapabilities kA4Scsi = basic(1, 1, kOfficeMisc);
constexpr ModelCapabilities kA4Scsi2 = basic(1, 2, kOfficeMisc);
constexpr ModelCapabilities kA6Usb = basic(4, 16, misc::kSleepMode);
constexpr ModelCapabilities kA3Scsi = basic(2, 1, kOfficeMisc | misc::kLongPaper);
constexpr ModelCapabilities kA4Dual = basic(1, 2, kProductionMisc);
constexpr ModelCapabilities kA3Dual = basic(2, 2, kProductionMisc | misc::kLongPaper);
constexpr ModelCapabilities kMiro = withOverride(1, 1, misc::kSleepMode, kMiroOverride);
constexpr ModelCapabilities kKavro = withOverride(1, 2, kProductionMisc, kKavroOverride);
constexpr ModelCapabilities kNovia = withOverride(1, 2, kProductionMisc, kNoviaOverride);
// The one record that carries every field.
constexpr ModelCapabilities kOrbix4000 = {
    kPaperSize | kWindow | kInterface | kVpdOverride | kResolutions,
    2, 7016, 9921, 2, kProductionMisc | misc::kLongPaper, kOrbix4000Override,
    {600, 600, 1200, 1200, 50, 100}};

struct Entry {
    const char* product;
    const char* library;
    ModelClass modelClass;
    ModelCapabilities capabilities;
};

constexpr Entry kEntries[kModelRows] = {
    // Class 1: simplex sheet-fed office scanners.
    {"LUMEN-1100", "VLLUM1.DLL", 1, kA4Scsi},
    {"LUMEN-1120", "VLLUM1.DLL", 1, kA4Scsi},
    {"LUMEN-1150", "VLLUM1.DLL", 1, kA4Scsi},
    {"LUMEN-1160", "VLLUM1.DLL", 1, kA4Scsi},
    {"LUMEN-1180", "VLLUM1.DLL", 1, kA4Scsi},
    {"LUMEN-1200", "VLLUM1.DLL", 1, kA4Scsi},
    {"LUMEN-1220", "VLLUM1.DLL", 1, kA4Scsi},
    {"LUMEN-1250", "VLLUM1.DLL", 1, kA4Scsi},
    {"LUMEN-1300", "VLLUM1.DLL", 1, kA4Scsi2},
    // Class 2: duplex versions.
    {"LUMEN-2100", "VLLUM2.DLL", 2, kA4Scsi},
    {"LUMEN-2120", "VLLUM2.DLL", 2, kA4Scsi},
    {"LUMEN-2150", "VLLUM2.DLL", 2, kA4Scsi},
    {"LUMEN-2160", "VLLUM2.DLL", 2, kA4Scsi},
    {"LUMEN-2180", "VLLUM2.DLL", 2, kA4Scsi},
    {"LUMEN-2200", "VLLUM2.DLL", 2, kA4Scsi2},
    {"LUMEN-2220", "VLLUM2.DLL", 2, kA4Scsi2},
    {"LUMEN-2250", "VLLUM2.DLL", 2, kA4Scsi2},
    // Class 3: high-volume feeders with big-endian counters.
    {"SKARA-310", "VLSKARA.DLL", 3, kA3Scsi},
    {"SKARA-320", "VLSKARA.DLL", 3, kA3Scsi},
    {"SKARA-330", "VLSKARA.DLL", 3, kA3Scsi},
    {"SKARA-340", "VLSKARA.DLL", 3, kA3Scsi},
    {"SKARA-350", "VLSKARA.DLL", 3, kA3Scsi},
    {"SKARA-360", "VLSKARA.DLL", 3, kA3Scsi},
    // Class 5: card scanners without EEPROM access.
    {"PIXET-510", "VLPIXET.DLL", 5, kA6Usb},
    {"PIXET-520", "VLPIXET.DLL", 5, kA6Usb},
    {"PIXET-530", "VLPIXET.DLL", 5, kA6Usb},
    {"PIXET-540", "VLPIXET.DLL", 5, kA6Usb},
    {"PIXET-550", "VLPIXET.DLL", 5, kA6Usb},
    {"PIXET-560", "VLPIXET.DLL", 5, kA6Usb},
    // Class 6: flatbed and feeder, IPC4 option.
    {"ORBIX-6100", "VLORB6.DLL", 6, kA4Scsi2},
    {"ORBIX-6200", "VLORB6.DLL", 6, kA4Scsi2},
    {"ORBIX-6300", "VLORB6.DLL", 6, kA4Scsi2},
    {"ORBIX-6400", "VLORB6.DLL", 6, kA3Scsi},
    {"ORBIX-6500", "VLORB6.DLL", 6, kA3Scsi},
    {"ORBIX-6600", "VLORB6.DLL", 6, kA3Scsi},
    // Class 7: counters in three big-endian bytes, H3T diagnostics.
    {"TESSEL-710", "VLTESS.DLL", 7, kA4Scsi},
    {"TESSEL-720", "VLTESS.DLL", 7, kA4Scsi},
    {"TESSEL-730", "VLTESS.DLL", 7, kA4Scsi},
    {"TESSEL-740", "VLTESS.DLL", 7, kA4Scsi},
    {"PLANO-7", "VLTESS.DLL", 7, kA4Scsi},
    {"TESSEL-750", "VLTESS.DLL", 7, kA4Scsi},
    // Class 8: 96-byte EEPROM, three-byte counters.
    {"VANTA-810", "VLVANTA.DLL", 8, kA4Scsi2},
    {"VANTA-820", "VLVANTA.DLL", 8, kA4Scsi2},
    {"VANTA-830", "VLVANTA.DLL", 8, kA4Scsi2},
    {"VANTA-840", "VLVANTA.DLL", 8, kA4Scsi2},
    {"VANTA-850", "VLVANTA.DLL", 8, kA3Scsi},
    {"VANTA-860", "VLVANTA.DLL", 8, kA3Scsi},
    // Class 9: as class 6, larger.
    {"ORBIX-9100", "VLORB9.DLL", 9, kA3Scsi},
    {"ORBIX-9200", "VLORB9.DLL", 9, kA3Scsi},
    {"ORBIX-9300", "VLORB9.DLL", 9, kA3Scsi},
    {"ORBIX-9400", "VLORB9.DLL", 9, kA3Scsi},
    {"ORBIX-9500", "VLORB9.DLL", 9, kA3Scsi},
    {"ORBIX-9600", "VLORB9.DLL", 9, kA3Scsi},
    {"ORBIX-9700", "VLORB9.DLL", 9, kA3Scsi},
    // Class 10: the 128-byte block instead of diagnostics.
    {"MIRO-1010", "VLMIRO.DLL", 10, kMiro},
    {"MIRO-1020", "VLMIRO.DLL", 10, kMiro},
    {"MIRO-1030", "VLMIRO.DLL", 10, kMiro},
    {"MIRO-1040", "VLMIRO.DLL", 10, kMiro},
    {"MIRO-1050", "VLMIRO.DLL", 10, kMiro},
    // Class 12: as class 7, newer firmware.
    {"TESSEL-1210", "VLTESS2.DLL", 12, kA4Scsi2},
    {"TESSEL-1220", "VLTESS2.DLL", 12, kA4Scsi2},
    {"TESSEL-1230", "VLTESS2.DLL", 12, kA4Scsi2},
    {"TESSEL-1240", "VLTESS2.DLL", 12, kA4Scsi2},
    {"TESSEL-1250", "VLTESS2.DLL", 12, kA4Scsi2},
    // Class 13: departmental feeders, pad and pick roller counters.
    {"ORBIX-2200", "VLKAV13.DLL", 13, kA4Dual},
    {"KAVRO-1310", "VLKAV13.DLL", 13, kKavro},
    {"KAVRO-1320", "VLKAV13.DLL", 13, kA4Dual},
    {"KAVRO-13S0", "VLKAV13.DLL", 13, kA4Dual},
    {"KAVRO-13S5", "VLKAV13.DLL", 13, kA4Dual},
    {"KAVRO-1340", "VLKAV13.DLL", 13, kA4Dual},
    {"KAVRO-1350", "VLKAV13.DLL", 13, kA4Dual},
    {"KAVRO-1360", "VLKAV13.DLL", 13, kA4Dual},
    {"KAVRO-1370", "VLKAV13.DLL", 13, kA4Dual},
    // Class 14: as 13, with power saving.
    {"KAVRO-1410", "VLKAV14.DLL", 14, kA4Dual},
    {"KAVRO-1420", "VLKAV14.DLL", 14, kA4Dual},
    {"KAVRO-14F0", "VLKAV14.DLL", 14, kA4Dual},
    {"KAVRO-14F5", "VLKAV14.DLL", 14, kA4Dual},
    {"KAVRO-1440", "VLKAV14.DLL", 14, kA3Dual},
    {"KAVRO-1450", "VLKAV14.DLL", 14, kA3Dual},
    // Class 15: production scanners with the 511-byte EEPROM.
    {"ORBIX-4000", "VLORB4.DLL", 15, kOrbix4000},
    {"ORBIX-4100", "VLORB4.DLL", 15, kA3Dual},
    {"ORBIX-4200", "VLORB4.DLL", 15, kA3Dual},
    {"ORBIX-46F0", "VLORB4.DLL", 15, kA3Dual},
    {"ORBIX-4800", "VLORB4.DLL", 15, kA3Dual},
    {"ORBIX-4900", "VLORB4.DLL", 15, kA3Dual},
    // Class 16: firmware versions in place of the INQUIRY revision.
    {"SELVA-1610", "VLSELVA.DLL", 16, kA4Dual},
    {"SELVA-1620", "VLSELVA.DLL", 16, kA4Dual},
    {"SELVA-16F0", "VLSELVA.DLL", 16, kA4Dual},
    {"SELVA-1640", "VLSELVA.DLL", 16, kA3Dual},
    {"SELVA-1650", "VLSELVA.DLL", 16, kA3Dual},
    // Class 17: flatbeds only.
    {"FLATIS-1710", "VLFLAT.DLL", 17, kA3Scsi},
    {"FLATIS-1720", "VLFLAT.DLL", 17, kA3Scsi},
    {"FLATIS-1730", "VLFLAT.DLL", 17, kA3Scsi},
    {"FLATIS-1740", "VLFLAT.DLL", 17, kA3Scsi},
    // Class 18: compact feeders, magnification in bytes 10 and 11.
    {"NOVIA-1810", "VLNOVIA.DLL", 18, kNovia},
    {"NOVIA-1820", "VLNOVIA.DLL", 18, kNovia},
    {"NOVIA-18F0", "VLNOVIA.DLL", 18, kNovia},
    {"NOVIA-1840", "VLNOVIA.DLL", 18, kA4Dual},
    {"NOVIA-1850", "VLNOVIA.DLL", 18, kA4Dual},
    // A prototype kept in the table with class 0: treated as not found.
    {"ORBIX-PROTO", "VLPROTO.DLL", 0, kA4Scsi},
};

constexpr auto kTable = [] {
    std::array<ModelRow, kModelRows + 1> table{};
    for (size_t i = 0; i < kModelRows; ++i) {
        const Entry& e = kEntries[i];
        table[i] = {7, "VELORIN", static_cast<uint32_t>(std::char_traits<char>::length(e.product)),
                    e.product, e.library, e.modelClass};
    }
    table[kModelRows] = {0, "", 0, "", "", 0};
    return table;
}();

constexpr auto kCapabilities = [] {
    std::array<ModelCapabilities, kModelRows> records{};
    for (size_t i = 0; i < kModelRows; ++i)
        records[i] = kEntries[i].capabilities;
    return records;
}();

// Model names behind the model flags.
constexpr std::string_view kFlatbedPrefixes[] = {"ORBIX-22", "ORBIX-6", "ORBIX-9", "KAVRO-14F", "ORBIX-46F",
                                                 "SELVA-16F", "NOVIA-18F"};
constexpr std::string_view kSingleSidedPrefix = "KAVRO-13S"; // nine characters
constexpr std::string_view kBottomOffsetPrefix = "KAVRO-13"; // eight characters
constexpr std::string_view kForcedFlatbedModel = "PLANO-7";  // seven characters
// Feeders whose back side takes offsets -50..50 at a 4864-pixel window; the
// second is exempt with a letter revision (a later feeder assembly).
constexpr std::string_view kNarrowBackModel = "LUMEN-21";
constexpr std::string_view kNarrowBackModelExempt = "LUMEN-22";

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

bool allZero(std::span<const uint8_t> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

} // namespace

std::span<const ModelRow> modelTable()
{
    return kTable;
}

const ModelCapabilities* capabilitiesOf(int row)
{
    if (row < 0 || static_cast<size_t>(row) >= kModelRows)
        return nullptr;
    return &kCapabilities[static_cast<size_t>(row)];
}

ModelMatch lookupModel(std::string_view vendor, std::string_view description)
{
    // The texts were converted into 64-byte buffers.
    constexpr size_t kTextCapacity = 63;
    vendor = vendor.substr(0, kTextCapacity);
    description = description.substr(0, kTextCapacity);
    if (const size_t blank = description.find(' ');
        blank != std::string_view::npos && blank + 1 < description.size() &&
        description[blank + 1] == 'o')
        description = description.substr(0, blank);
    for (size_t i = 0; kTable[i].vendorLength != 0; ++i) {
        const ModelRow& row = kTable[i];
        if (vendor == std::string_view(row.vendor, row.vendorLength) &&
            description == std::string_view(row.product, row.productLength)) {
            if (row.modelClass == 0)
                break;
            return {row.modelClass, static_cast<int>(i)};
        }
    }
    return {};
}

void applyVpdOverride(ModelClass modelClass, int row, std::span<uint8_t, kVpdLength> vpd)
{
    const ModelCapabilities* record = capabilitiesOf(row);
    if (record == nullptr || record->flags < kVpdOverride || record->vpdOverride == nullptr)
        return;
    const uint8_t* block = record->vpdOverride;
    const bool always = modelClass == 10 || modelClass == 11;
    const auto group = [&](size_t from, size_t vpdAt, size_t count) {
        if (always || allZero(vpd.subspan(vpdAt, count)))
            std::copy_n(block + from, count, vpd.begin() + static_cast<ptrdiff_t>(vpdAt));
    };
    group(0, 0x1C, 1);
    group(1, 0x20, 2);
    group(3, 0x22, 4);
    // The step counts and the dither/gamma counts go together.
    if (always || allZero(vpd.subspan(0x52, 6))) {
        std::copy_n(block + 7, 4, vpd.begin() + 0x52);
        std::copy_n(block + 11, 2, vpd.begin() + 0x56);
    }
    group(13, 0x58, 2);
    group(15, 0x5A, 2);
    group(17, 0x5C, 1);
    group(18, 0x5E, 1);
}

ModelFlags modelFlags(std::string_view description)
{
    ModelFlags flags;
    for (const auto prefix : kFlatbedPrefixes)
        flags.hasFlatbed = flags.hasFlatbed || startsWith(description, prefix);
    flags.singleSidedAdf = startsWith(description, kSingleSidedPrefix);
    flags.hasBottomOffset = startsWith(description, kBottomOffsetPrefix);
    return flags;
}

bool forcesFlatbed(std::string_view productIdentification)
{
    return startsWith(productIdentification, kForcedFlatbedModel);
}

bool narrowBackOffsetRange(std::string_view localName, std::span<const uint8_t> vpd,
                           std::span<const uint8_t> inquiry)
{
    const std::string_view word = localName.substr(0, localName.find(' '));
    const bool named = startsWithIgnoringCase(word, kNarrowBackModel) ||
                       startsWithIgnoringCase(word, kNarrowBackModelExempt);
    const bool window = vpd.size() > 0x17 && vpd[0x14] == 0 && vpd[0x15] == 0 &&
                        vpd[0x16] == 0x13 && vpd[0x17] == 0;
    const bool exempt = startsWithIgnoringCase(word, kNarrowBackModelExempt) &&
                        inquiry.size() > 32 && (inquiry[32] & 0x40) != 0;
    return named && window && !exempt;
}

bool hasEepromAccess(ModelClass c)
{
    return c != 0 && c != 4 && c != 5 && c != kClassNotFound;
}

bool keepsPowerSaving(ModelClass c)
{
    return c == 14 || c == 15 || c == 16 || c == 18;
}

bool mayHaveEndorser(ModelClass c)
{
    return c == 13 || c == 14 || c == 15 || c == 16 || c == 18;
}

bool hasSecondPadCounter(ModelClass c)
{
    return c == 8 || c == 13 || c == 14 || c == 16 || c == 18;
}

bool sendsLampTimer(ModelClass c)
{
    return c != 8 && c != 10 && !mayHaveEndorser(c);
}

} // namespace lumarc::infotool
