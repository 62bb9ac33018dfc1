// The Device Set page's logic: counters, clears, timers, write-back.
#include "device_set_logic.h"

#include <algorithm>
#include <charconv>

namespace lumarc::infotool {
namespace {

using C = SetControl;

constexpr uint32_t kLampTimerStart = 60;
constexpr uint32_t kLampTimerMax = 255;
constexpr int kPowerSavingMin = 3;
constexpr int kPowerSavingMax = 11;
constexpr uint32_t kFullInk = 100;
constexpr size_t kNarrowReadLength = 127;
constexpr size_t kClass8ReadLength = 96;
// Class 15 writes bytes 0-331; the length word counts the four bytes of
// offset and length as well.
constexpr size_t kWideWriteLength = 332;

uint32_t u16(std::span<const uint8_t, kEepromLength> b, size_t at)
{
    return b[at] + 256u * b[at + 1];
}

uint32_t be(std::span<const uint8_t, kEepromLength> b, size_t at, size_t width)
{
    uint32_t v = 0;
    for (size_t i = 0; i < width; ++i)
        v = v << 8 | b[at + i];
    return v;
}

// A counter of 500-page units, low byte first.
void put500(EepromImage& image, size_t at, uint32_t count)
{
    image[at] = static_cast<uint8_t>((count / 500) & 0xFF);
    image[at + 1] = static_cast<uint8_t>((count / 128000) & 0xFF);
}

uint8_t powerSavingByte(uint32_t minutes)
{
    return static_cast<uint8_t>((minutes / 5) | 0x80);
}

bool oneOf(ModelClass c, std::initializer_list<ModelClass> classes)
{
    return std::find(classes.begin(), classes.end(), c) != classes.end();
}

std::optional<uint32_t> parseNumber(const std::string& text)
{
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// The narrow vendor write of a region of the working copy.
EepromWrite narrowWrite(const EepromImage& working, size_t offset, size_t count)
{
    EepromWrite write{VendorCommand::EepromWrite, {}};
    write.payload.push_back(static_cast<uint8_t>(offset));
    write.payload.push_back(static_cast<uint8_t>(count));
    write.payload.insert(write.payload.end(), working.begin() + static_cast<ptrdiff_t>(offset),
                         working.begin() + static_cast<ptrdiff_t>(offset + count));
    return write;
}

bool regionDiffers(const EepromImage& a, const EepromImage& b, size_t offset, size_t count)
{
    return !std::equal(a.begin() + static_cast<ptrdiff_t>(offset),
                       a.begin() + static_cast<ptrdiff_t>(offset + count),
                       b.begin() + static_cast<ptrdiff_t>(offset));
}

} // namespace

Counters decodeCounters(ModelClass m, std::span<const uint8_t, kEepromLength> b)
{
    Counters c;
    const uint32_t tens38 = b[38] * 10u;
    const uint32_t adf = tens38 + u16(b, 46) * 500;
    const uint32_t flatbed = b[39] * 10u + u16(b, 44) * 500;
    switch (m) {
    case 1:
    case 2:
        c.adfTotal = adf;
        c.first = tens38 + u16(b, 60) * 500;
        break;
    case 6:
    case 9:
        c.adfTotal = adf;
        c.flatbedTotal = flatbed;
        c.first = tens38 + u16(b, 60) * 500;
        break;
    case 13:
    case 14:
    case 16:
        c.adfTotal = adf;
        c.flatbedTotal = flatbed;
        c.first = u16(b, 124) * 500;
        c.pick = u16(b, 60) * 500;
        break;
    case 18:
        c.adfTotal = adf;
        c.flatbedTotal = flatbed;
        c.first = tens38 + u16(b, 124) * 500;
        c.pick = tens38 + u16(b, 60) * 500;
        break;
    case 15:
        c.adfTotal = adf;
        c.flatbedTotal = flatbed;
        c.first = u16(b, 62) * 500;
        c.pick = u16(b, 60) * 500;
        break;
    case 17:
        c.flatbedTotal = b[39] * 10u + b[47] * 500u + b[46] * 128000u;
        break;
    case 8:
        c.adfTotal = b[68] * 65536u + b[33] * 256u + b[32];
        c.first = b[86] * 65536u + b[57] * 256u + b[56];
        c.pick = b[87] * 65536u + b[63] * 256u + b[62];
        break;
    case 7:
    case 12:
        c.adfTotal = be(b, 103, 4);
        c.first = be(b, 109, 3);
        break;
    case 3:
        c.adfTotal = static_cast<uint32_t>(b[104]) << 24 | b[103] << 16 | b[106] << 8 | b[105];
        c.first = static_cast<uint32_t>(b[109]) << 16 | b[111] << 8 | b[110];
        break;
    case 10:
        c.adfTotal = (b[4] & 3u) * 65536 + u16(b, 2);
        c.first = u16(b, 0);
        break;
    default:
        c.adfTotal = 0;
        c.first = 0;
        break;
    }
    return c;
}

std::optional<std::vector<EepromWrite>> eepromWrites(ModelClass m, const EepromImage& image,
                                                     const PageValues& v)
{
    EepromImage working = image;
    std::vector<EepromWrite> writes;
    size_t offset = 0, count = 0;
    switch (m) {
    case 1:
    case 2:
    case 6:
    case 9:
        put500(working, 60, v.first);
        count = 62;
        break;
    case 13:
    case 14:
    case 16:
    case 18:
        put500(working, 60, v.pick);
        put500(working, 124, v.first);
        // Classes 14, 16 and 18 keep the power-saving time here in the form
        // MODE SENSE reports it.
        if (m != 13 && v.powerSavingKnown)
            working[64] = powerSavingByte(v.minutes);
        count = 127;
        break;
    case 15: {
        put500(working, 60, v.pick);
        put500(working, 62, v.first);
        if (v.powerSavingKnown)
            working[328] = powerSavingByte(v.minutes);
        if (regionDiffers(working, image, 0, kWideWriteLength)) {
            EepromWrite write{VendorCommand::EepromWriteWide, {}};
            const size_t length = kWideWriteLength + 4;
            write.payload = {0, 0, static_cast<uint8_t>(length >> 8),
                             static_cast<uint8_t>(length & 0xFF)};
            write.payload.insert(write.payload.end(), working.begin(),
                                 working.begin() + kWideWriteLength);
            writes.push_back(std::move(write));
        }
        return writes;
    }
    case 7:
    case 12:
        working[109] = static_cast<uint8_t>(v.first >> 16);
        working[110] = static_cast<uint8_t>(v.first >> 8);
        working[111] = static_cast<uint8_t>(v.first);
        count = 113;
        break;
    case 8:
        if (v.first == 0) {
            // Byte 57 is the middle byte of the pad counter; without it a
            // cleared counter would read back as a multiple of 256.
            for (const size_t at : {56, 57, 60, 61, 86, 88, 90})
                working[at] = 0;
        }
        if (v.pick == 0) {
            for (const size_t at : {62, 63, 64, 65, 66, 87, 89, 91})
                working[at] = 0;
        }
        count = 92;
        break;
    case 3:
        offset = 30;
        count = 4;
        break;
    default:
        return std::nullopt;
    }
    if (regionDiffers(working, image, offset, count))
        writes.push_back(narrowWrite(working, offset, count));
    if (m == 3) {
        const uint8_t bytes[3] = {static_cast<uint8_t>(v.first >> 16),
                                  static_cast<uint8_t>(v.first),
                                  static_cast<uint8_t>(v.first >> 8)};
        if (!std::equal(bytes, bytes + 3, image.begin() + 109))
            writes.push_back({VendorCommand::EepromWrite, {109, 3, bytes[0], bytes[1], bytes[2]}});
    }
    return writes;
}

DeviceSetLogic::DeviceSetLogic(ScannerCommands& commands, const ScannerIdentity& identity,
                               ScannerData& data, const Texts& texts, MessageBoxes& boxes,
                               AdminCheck& admin)
    : m_commands(commands), m_identity(identity), m_data(data), m_texts(texts), m_boxes(boxes),
      m_admin(admin)
{
    m_values.minutes = kPowerSavingMin * 5;
}

bool DeviceSetLogic::readEeprom()
{
    const ModelClass m = m_identity.modelClass();
    m_image.fill(0);
    m_endorser = endorserFitted(m, m_data);
    bool done = true;
    if (hasEepromAccess(m)) {
        const std::span<uint8_t> image(m_image);
        switch (m) {
        case 8:
            done = m_commands.sendDiagnostic(VendorCommand::EepromRead) &&
                   m_commands.receiveDiagnostic(image.first(kClass8ReadLength));
            break;
        case 10:
            done = m_commands.readBlock(image.first<kBlockLength>());
            break;
        case 15:
            done = m_commands.sendDiagnostic(VendorCommand::EepromReadWide) &&
                   m_commands.receiveDiagnostic(image);
            break;
        default:
            done = m_commands.sendDiagnostic(VendorCommand::EepromRead) &&
                   m_commands.receiveDiagnostic(image.first(kNarrowReadLength));
            break;
        }
    }
    if (!done)
        m_image.fill(0); // what arrived of a failed read is not the scanner's image
    m_eepromRead = done;
    if (m_endorser) {
        std::array<uint8_t, kHardwareStatusLength> status{};
        m_ink = m_commands.readHardwareStatus(status) ? status[kHardwareStatusInk] : 0;
    }
    return done;
}

bool DeviceSetLogic::writeEeprom()
{
    const ModelClass m = m_identity.modelClass();
    if (!hasEepromAccess(m))
        return true;
    if (!m_eepromRead)
        return false;
    if (m == 10) {
        m_image[0] = static_cast<uint8_t>(m_values.first & 0xFF);
        m_image[1] = static_cast<uint8_t>((m_values.first >> 8) & 0xFF);
        return m_commands.writeBlock(std::span(m_image).first<kBlockLength>());
    }
    const auto writes = eepromWrites(m, m_image, m_values);
    if (!writes)
        return false;
    for (const auto& write : *writes)
        if (!m_commands.sendDiagnostic(write.kind, write.payload))
            return false;
    if (!writes->empty() || oneOf(m, {1, 2, 6, 7, 9, 12, 13, 14, 15, 16, 18}))
        if (!m_commands.sendDiagnostic(VendorCommand::EepromCommit))
            return false;
    if (m_endorser && m_inkCleared)
        return m_commands.sendDiagnostic(VendorCommand::ClearInk) &&
               m_commands.sendDiagnostic(VendorCommand::GetImprinterLife);
    return true;
}

void DeviceSetLogic::layOut()
{
    const ModelClass m = m_identity.modelClass();
    const ModelFlags& flags = m_identity.flags;
    const Texts& t = m_texts;
    for (auto& state : m_controls)
        state = {};
    c(C::AdfLabel).text = t(sid::kTotalAdf);
    c(C::FlatbedLabel).text = t(sid::kTotalFlatbed);
    c(C::FirstLabel).text = t(sid::kAblation);
    c(C::PickLabel).text = t(sid::kPickRoller);
    c(C::FourthLabel).text = t(sid::kFourthCounter);
    for (const C unit : {C::AdfUnit, C::FlatbedUnit, C::FirstUnit, C::PickUnit, C::FourthUnit})
        c(unit).text = t(sid::kPages);
    c(C::InkLabel).text = t(sid::kRemainingInk);
    c(C::InkUnit).text = t(sid::kPercent);
    c(C::ClearFirst).text = t(sid::kClear1);
    c(C::ClearPick).text = t(sid::kClear2);
    c(C::ClearInk).text = t(sid::kClear3);
    c(C::ClearFourth).text = t(sid::kClear4);
    c(C::LampLabel).text = t(sid::kFluorescentTime);
    c(C::LampUnit).text = t(sid::kMinutes);
    c(C::MinutesUnit).text = t(sid::kMinutes);
    c(C::OffsetButton).text = t(sid::kOffsetButton);
    c(C::PowerSavingButton).text = t(sid::kPowerSavingButton);
    c(C::LogButton).text = t(sid::kLogButton);
    c(C::ResetButton).text = t(sid::kResetButton);
    c(C::ResetButton).visible = false;
    c(C::ResetButton).enabled = false;
    c(C::Status).visible = false;

    // Lamp timer or power-saving time.
    const bool powerSaving = keepsPowerSaving(m);
    for (const C lamp : {C::LampLabel, C::LampEdit, C::LampUnit})
        c(lamp).visible = !powerSaving;
    for (const C saving : {C::Slider, C::MinutesEdit, C::MinutesUnit})
        c(saving).visible = powerSaving;
    c(C::TimerGroup).text = t(powerSaving ? sid::kPowerSavingGroup : sid::kLampGroup);
    if (powerSaving)
        c(C::PowerSavingButton).visible = false;
    if (!m_endorser) {
        c(C::InkLabel).text.clear();
        c(C::InkUnit).text.clear();
    }
    for (const C ink : {C::InkLabel, C::InkEdit, C::ClearInk})
        c(ink).enabled = false;

    // The Offset dialog and the power-saving button.
    const bool offset = m == 8 || oneOf(m, {13, 14, 15, 16, 17, 18});
    c(C::OffsetButton).enabled = offset;
    c(C::PowerSavingButton).enabled = m == 8;
    if (m == 17)
        for (const C row : {C::AdfLabel, C::AdfEdit, C::AdfUnit, C::FirstLabel, C::FirstEdit,
                            C::FirstUnit, C::PickLabel, C::PickEdit, C::PickUnit})
            c(row).enabled = false;

    // Row labels.
    if (hasSecondPadCounter(m)) {
        c(C::FirstLabel).text = t(sid::kPad);
    } else if (m == 15) {
        c(C::FirstLabel).text = t(sid::kBrakeRoller);
    } else if (m == 17) {
        for (const C row : {C::AdfLabel, C::AdfUnit, C::FirstLabel, C::FirstUnit, C::PickLabel,
                            C::PickUnit})
            c(row).text.clear();
    } else {
        c(C::PickLabel).text.clear();
        c(C::PickUnit).text.clear();
    }
    const bool flatbedShown = m == 6 || m == 9 || m == 17 ||
                              (oneOf(m, {13, 14, 15, 16, 18}) && flags.hasFlatbed);
    if (!flatbedShown) {
        c(C::FlatbedLabel).text.clear();
        c(C::FlatbedUnit).text.clear();
    }
    if (m == 8 || (m >= 13 && m <= 18))
        c(C::FourthUnit).text.clear();

    // Which controls work.
    c(C::ClearFirst).enabled = m != 17;
    c(C::ClearPick).enabled = oneOf(m, {8, 13, 14, 15, 16, 18});
    for (const C fourth : {C::FourthLabel, C::FourthEdit, C::FourthUnit, C::ClearFourth})
        c(fourth).enabled = false;
    c(C::LampEdit).enabled = !(m == 8 || m == 17 || oneOf(m, {13, 14, 15, 16, 18}));
    c(C::FlatbedEdit).enabled = flatbedShown;
}

void DeviceSetLogic::showValues()
{
    const ModelClass m = m_identity.modelClass();
    const auto text = [](const std::optional<uint32_t>& v) {
        return v ? std::to_string(*v) : std::string();
    };
    m_counters = decodeCounters(m, m_image);
    m_values.first = m_counters->first.value_or(0);
    m_values.pick = m_counters->pick.value_or(0);
    c(C::AdfEdit).text = text(m_counters->adfTotal);
    const bool flatbedValue =
        m == 17 || (m_identity.flags.hasFlatbed && m_counters->flatbedTotal.has_value());
    c(C::FlatbedEdit).text = flatbedValue ? text(m_counters->flatbedTotal) : std::string();
    c(C::FirstEdit).text = m == 17 ? std::string() : text(m_counters->first);
    c(C::PickEdit).text = text(m_counters->pick);
    if (m_endorser) {
        c(C::InkEdit).text = std::to_string(m_ink);
        for (const C ink : {C::InkLabel, C::InkEdit, C::InkUnit, C::ClearInk})
            c(ink).enabled = true;
    }
    c(C::LampEdit).text = m_lampText;
}

void DeviceSetLogic::setUpPowerSaving()
{
    bool sensed = false;
    uint32_t v = m_commands.modeSensePowerSaving(&sensed);
    v = (v & 0x80) == 0 ? kPowerSavingMin : (v & 0x7F);
    bool inRange = true;
    if (v < kPowerSavingMin)
        v = kPowerSavingMin;
    if (v > kPowerSavingMax) {
        v = 0;
        inRange = false;
    }
    m_sliderMinimum = kPowerSavingMin;
    m_sliderMaximum = kPowerSavingMax;
    m_sliderPosition = static_cast<int>(v);
    m_values.minutes = v * 5;
    // A time the scanner did not tell is never written back.
    m_values.powerSavingKnown = sensed && inRange;
    c(C::MinutesEdit).text = std::to_string(m_values.minutes);
    for (const C saving : {C::Slider, C::MinutesEdit, C::MinutesUnit})
        c(saving).enabled = m_values.powerSavingKnown;
}

void DeviceSetLogic::disableWrites()
{
    for (const C write : {C::ClearFirst, C::ClearPick, C::ClearInk, C::Slider, C::MinutesEdit,
                          C::LampEdit, C::OffsetButton})
        c(write).enabled = false;
}

bool DeviceSetLogic::open()
{
    m_opened = true;
    m_usable = m_commands.usable();
    if (m_usable) {
        (void)m_commands.inquiry(false, 0, m_data.inquiry);
        (void)m_commands.inquiry(true, 0xF0, m_data.vpd);
    }
    m_endorser = endorserFitted(m_identity.modelClass(), m_data);
    layOut();
    if (!m_usable) {
        m_boxes.show(m_texts(sid::kDeviceNotUsable), m_texts(sid::kAttention), BoxIcon::Warning,
                     BoxButtons::Ok);
        disableWrites();
        return false;
    }
    (void)readEeprom();
    if (!m_eepromRead) {
        c(C::Status).text = m_texts(sid::kCountersUnread);
        c(C::Status).visible = true;
        disableWrites();
        return true;
    }
    showValues();
    if (keepsPowerSaving(m_identity.modelClass()))
        setUpPowerSaving();
    setModified(false);
    m_inkCleared = false;
    return true;
}

void DeviceSetLogic::setModified(bool modified)
{
    m_modified = modified;
    c(C::ResetButton).enabled = modified;
}

void DeviceSetLogic::clearFirst()
{
    if (!m_eepromRead || !control(C::ClearFirst).enabled || m_values.first == 0)
        return;
    m_values.first = 0;
    c(C::FirstEdit).text = "0";
    setModified(true);
}

void DeviceSetLogic::clearPick()
{
    if (!m_eepromRead || !control(C::ClearPick).enabled || m_values.pick == 0)
        return;
    m_values.pick = 0;
    c(C::PickEdit).text = "0";
    setModified(true);
}

void DeviceSetLogic::clearInk()
{
    if (!m_eepromRead || !control(C::ClearInk).enabled || m_ink == kFullInk)
        return;
    m_ink = kFullInk;
    c(C::InkEdit).text = std::to_string(kFullInk);
    m_inkCleared = true;
    setModified(true);
}

void DeviceSetLogic::setSliderPosition(int position)
{
    if (!control(C::Slider).enabled)
        return;
    position = std::clamp(position, m_sliderMinimum, m_sliderMaximum);
    m_sliderPosition = position;
    m_values.minutes = static_cast<uint32_t>(position) * 5;
    c(C::MinutesEdit).text = std::to_string(m_values.minutes);
    setModified(true);
}

void DeviceSetLogic::setLampText(const std::string& text)
{
    if (text == m_lampText)
        return;
    m_lampText = text;
    c(C::LampEdit).text = text;
    const auto value = parseNumber(text);
    if (value && *value != m_lampTimer && control(C::LampEdit).enabled && m_eepromRead) {
        m_lampTimer = *value;
        setModified(true);
    }
}

ApplyOutcome DeviceSetLogic::apply()
{
    const ModelClass m = m_identity.modelClass();
    // Nothing changed: nothing to write, and OK closes the sheet.
    if (!m_modified)
        return {true, std::nullopt};
    if (!m_eepromRead)
        return {false, std::nullopt};
    if (control(C::FirstEdit).text.empty())
        return {false, C::FirstEdit};
    if (const auto first = parseNumber(control(C::FirstEdit).text))
        m_values.first = *first;
    else
        return {false, C::FirstEdit};
    if (!oneOf(m, {8, 13, 14, 15, 16, 18})) {
        const auto lamp = parseNumber(m_lampText);
        if (!lamp || *lamp < 1 || *lamp > kLampTimerMax)
            return {false, C::LampEdit};
        m_lampTimer = *lamp;
    }
    if (m_boxes.show(m_texts(sid::kWriteConfirm), m_texts(sid::kAttention), BoxIcon::Warning,
                     BoxButtons::OkCancel) != BoxAnswer::Ok)
        return {false, std::nullopt};
    if (!m_admin.run())
        return {false, std::nullopt};
    if (!m_commands.usable()) {
        // Nothing was written: the sheet stays open with the changes pending.
        m_boxes.show(m_texts(sid::kDeviceNotUsable), m_texts(sid::kAttention), BoxIcon::Warning,
                     BoxButtons::Ok);
        return {false, std::nullopt};
    }
    const bool timer = keepsPowerSaving(m)
                           ? (!m_values.powerSavingKnown ||
                              m_commands.modeSelectPowerSaving(m_values.minutes))
                           : m_commands.modeSelectLampTimer(m_lampTimer);
    if (!timer || !writeEeprom())
        return {false, std::nullopt};
    setModified(false);
    if (!readEeprom())
        disableWrites();
    m_inkCleared = false;
    return {true, std::nullopt};
}

} // namespace lumarc::infotool
