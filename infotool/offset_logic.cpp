// The Offset dialog's logic: offsets and magnification in the EEPROM image.
#include "offset_logic.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace lumarc::infotool {
namespace {

bool oneOf(ModelClass c, std::initializer_list<ModelClass> classes)
{
    return std::find(classes.begin(), classes.end(), c) != classes.end();
}

uint8_t pair(int low, int high)
{
    return static_cast<uint8_t>(encodeNibble(low) | encodeNibble(high) << 4);
}

} // namespace

uint8_t encodeNibble(int value)
{
    return static_cast<uint8_t>((value < 0 ? 0x8 : 0) | (std::abs(value) & 0x7));
}

int decodeNibble(uint8_t nibble)
{
    const int magnitude = nibble & 0x7;
    return (nibble & 0x8) != 0 ? -magnitude : magnitude;
}

uint8_t encodeSignMagnitude(int value)
{
    return static_cast<uint8_t>((value < 0 ? 0x80 : 0) | (std::abs(value) & 0x7F));
}

int decodeSignMagnitude(uint8_t byte, uint8_t magnitudeMask)
{
    const int magnitude = byte & magnitudeMask;
    return (byte & 0x80) != 0 ? -magnitude : magnitude;
}

uint8_t encodeClass18Magnification(int value)
{
    const int magnitude = std::abs(value) & 0x1F;
    return static_cast<uint8_t>((magnitude & 0x0F) | ((magnitude & 0x10) != 0 ? 0x20 : 0) |
                                (value < 0 ? 0x10 : 0));
}

int decodeClass18Magnification(uint8_t byte)
{
    const int magnitude = (byte & 0x0F) | ((byte & 0x20) != 0 ? 0x10 : 0);
    return (byte & 0x10) != 0 ? -magnitude : magnitude;
}

OffsetLogic::OffsetLogic(const ScannerIdentity& identity, const ScannerData& data,
                         const EepromImage& image, const Texts& texts)
    : m_identity(identity), m_data(data), m_image(image), m_texts(texts),
      m_class(identity.modelClass())
{
    const auto& b = image;
    const ModelFlags& flags = identity.flags;
    OffsetValues& v = m_values;
    const auto nibbles = [&](size_t at, int& low, int& high) {
        low = decodeNibble(b[at] & 0x0F);
        high = decodeNibble(b[at] >> 4);
    };
    const UnitItem flatbed{texts(sid::kUnitFlatbed), unit::kFlatbed};
    const UnitItem adf{texts(sid::kUnitAdf), unit::kAdfFront};
    const UnitItem front{texts(sid::kUnitAdfFront), unit::kAdfFront};
    const UnitItem back{texts(sid::kUnitAdfBack), unit::kAdfBack};

    switch (m_class) {
    case 1:
    case 2:
    case 6:
    case 9:
        v.fbMain = decodeSignMagnitude(b[0]);
        v.fbSub = decodeSignMagnitude(b[1]);
        v.adfMain = decodeSignMagnitude(b[2]);
        v.adfSub = decodeSignMagnitude(b[3]);
        if (m_class == 1) {
            m_units = {flatbed, adf};
        } else {
            v.backMain = decodeSignMagnitude(b[7]);
            v.backSub = decodeSignMagnitude(b[8]);
            m_units = {flatbed, front, back};
        }
        break;
    case 3:
    case 7:
    case 12:
        v.adfMain = static_cast<int8_t>(b[30]);
        v.adfSub = static_cast<int8_t>(b[31]);
        v.backMain = static_cast<int8_t>(b[32]);
        v.backSub = static_cast<int8_t>(b[33]);
        m_units = {front, back};
        break;
    case 13:
    case 14:
    case 16:
    case 18:
        nibbles(53, v.adfMain, v.adfSub);
        nibbles(54, v.backMain, v.backSub);
        m_bottomInByte55 = flags.hasBottomOffset && !flags.hasFlatbed;
        if (m_bottomInByte55) {
            nibbles(55, v.adfBottom, v.backBottom);
            m_bottomEnabled = !flags.singleSidedAdf;
        } else {
            nibbles(55, v.fbMain, v.fbSub);
        }
        if (flags.hasFlatbed)
            m_units.push_back(flatbed);
        if (flags.singleSidedAdf) {
            m_units.push_back(adf);
        } else {
            m_units.push_back(front);
            m_units.push_back(back);
        }
        break;
    case 15:
        nibbles(222, v.fbMain, v.fbSub);
        nibbles(220, v.adfMain, v.adfSub);
        nibbles(221, v.backMain, v.backSub);
        if (flags.hasFlatbed)
            m_units.push_back(flatbed);
        m_units.push_back(front);
        m_units.push_back(back);
        break;
    case 17:
        nibbles(55, v.fbMain, v.fbSub);
        m_units = {flatbed};
        break;
    case 8:
        break;
    default:
        m_units = {adf};
        break;
    }
    if (!m_units.empty())
        m_selected = m_units.front().id;

    m_checksVisible = m_class == 13 && flags.hasFlatbed;
    if (m_checksVisible) {
        v.top = (b[37] & 0x02) != 0;
        v.left = (b[37] & 0x01) != 0;
    }

    // Magnification.
    const bool wide = m_class == 15;
    if (oneOf(m_class, {13, 14, 15, 16, 18})) {
        m_magnificationEnabled = true;
        if (m_class == 18) {
            v.adfMagnification = decodeClass18Magnification(b[10]);
            v.fbMagnification = decodeClass18Magnification(b[11]);
        } else if (wide) {
            v.adfMagnification = decodeSignMagnitude(b[218], 0x3F);
            v.fbMagnification = decodeSignMagnitude(b[219], 0x3F);
        } else {
            v.adfMagnification = decodeSignMagnitude(b[56], 0x1F);
            if (flags.hasFlatbed)
                v.fbMagnification = decodeSignMagnitude(b[57], 0x1F);
        }
        if (m_class == 18 || flags.hasFlatbed)
            m_magnificationUnits.push_back({texts(sid::kUnitFlatbed), unit::kFlatbed});
        m_magnificationUnits.push_back({texts(sid::kUnitAdf), unit::kAdfFront});
        m_magnificationSelected = m_magnificationUnits.front().id;
        m_magnificationRange = wide ? SpinRange{-63, 63} : SpinRange{-31, 31};
        m_lowLabel = texts(wide ? sid::kLow63 : sid::kLow31);
        m_highLabel = texts(wide ? sid::kHigh63 : sid::kHigh31);
        m_rangeLabel = texts(wide ? sid::kRange63 : sid::kRange31);
    }
}

SpinRange OffsetLogic::range(int unitId) const
{
    switch (m_class) {
    case 13:
    case 14:
    case 16:
        return {-4, 4};
    case 15:
        return {-2, 3};
    case 17:
        return {-3, 3};
    case 18:
        return {-4, 6};
    default:
        if (unitId == unit::kAdfBack &&
            narrowBackOffsetRange(m_identity.localName, m_data.vpd, m_data.inquiry))
            return {-50, 50};
        return {-127, 127};
    }
}

int* OffsetLogic::mainOf(int unitId)
{
    switch (unitId) {
    case unit::kFlatbed:
        return &m_values.fbMain;
    case unit::kAdfFront:
        return &m_values.adfMain;
    case unit::kAdfBack:
        return &m_values.backMain;
    default:
        return nullptr;
    }
}

int* OffsetLogic::subOf(int unitId)
{
    switch (unitId) {
    case unit::kFlatbed:
        return &m_values.fbSub;
    case unit::kAdfFront:
        return &m_values.adfSub;
    case unit::kAdfBack:
        return &m_values.backSub;
    default:
        return nullptr;
    }
}

int* OffsetLogic::bottomOf(int unitId)
{
    if (!m_bottomInByte55)
        return nullptr;
    return unitId == unit::kAdfFront  ? &m_values.adfBottom
           : unitId == unit::kAdfBack ? &m_values.backBottom
                                      : nullptr;
}

int OffsetLogic::mainValue() const
{
    const int* value = mainOf(m_selected);
    return value != nullptr ? *value : 0;
}

int OffsetLogic::subValue() const
{
    const int* value = subOf(m_selected);
    return value != nullptr ? *value : 0;
}

int OffsetLogic::bottomValue() const
{
    const int* value = bottomOf(m_selected);
    return value != nullptr ? *value : 0;
}

void OffsetLogic::store(int unitId, int mainEdit, int subEdit, int bottomEdit)
{
    if (int* value = mainOf(unitId))
        *value = mainEdit;
    if (int* value = subOf(unitId))
        *value = subEdit;
    if (int* value = bottomOf(unitId))
        *value = bottomEdit;
}

void OffsetLogic::selectUnit(int unitId, int mainEdit, int subEdit, int bottomEdit)
{
    store(m_selected, mainEdit, subEdit, bottomEdit);
    m_selected = unitId;
}

int OffsetLogic::magnification() const
{
    return m_magnificationSelected == unit::kFlatbed ? m_values.fbMagnification
                                                     : m_values.adfMagnification;
}

std::string OffsetLogic::magnificationText() const
{
    char text[16];
    std::snprintf(text, sizeof text, "%2.1f", magnification() / 10.0);
    return text;
}

void OffsetLogic::selectMagnificationUnit(int unitId)
{
    m_magnificationSelected = unitId;
}

void OffsetLogic::setMagnification(int tenths)
{
    if (!m_magnificationEnabled)
        return;
    tenths = m_magnificationRange.clamp(tenths);
    (m_magnificationSelected == unit::kFlatbed ? m_values.fbMagnification
                                               : m_values.adfMagnification) = tenths;
}

bool OffsetLogic::storeAndCheck(int mainEdit, int subEdit, int bottomEdit, bool top, bool left)
{
    store(m_selected, mainEdit, subEdit, bottomEdit);
    m_values.top = m_checksVisible && top;
    m_values.left = m_checksVisible && left;
    const auto inRange = [&](int unitId, int mainValue, int subValue) {
        const SpinRange r = range(unitId);
        return r.clamp(mainValue) == mainValue && r.clamp(subValue) == subValue;
    };
    OffsetValues& v = m_values;
    if (inRange(unit::kFlatbed, v.fbMain, v.fbSub) && inRange(unit::kAdfFront, v.adfMain, v.adfSub) &&
        inRange(unit::kAdfBack, v.backMain, v.backSub))
        return true;
    v.fbMain = v.fbSub = v.adfMain = v.adfSub = v.backMain = v.backSub = 0;
    return false;
}

OffsetWrite OffsetLogic::build() const
{
    OffsetWrite write;
    write.working = m_image;
    auto& w = write.working;
    const OffsetValues& v = m_values;
    switch (m_class) {
    case 13:
    case 14:
    case 16:
        write.count = 64;
        w[53] = pair(v.adfMain, v.adfSub);
        w[54] = pair(v.backMain, v.backSub);
        w[55] = m_bottomInByte55 ? pair(v.adfBottom, v.backBottom) : pair(v.fbMain, v.fbSub);
        w[37] = static_cast<uint8_t>((w[37] & ~0x03) | (v.top ? 0x02 : 0) | (v.left ? 0x01 : 0));
        w[56] = encodeSignMagnitude(v.adfMagnification);
        if (m_identity.flags.hasFlatbed)
            w[57] = encodeSignMagnitude(v.fbMagnification);
        break;
    case 15:
        write.count = 255;
        w[220] = pair(v.adfMain, v.adfSub);
        w[221] = pair(v.backMain, v.backSub);
        w[222] = pair(v.fbMain, v.fbSub);
        w[218] = encodeSignMagnitude(v.adfMagnification);
        w[219] = encodeSignMagnitude(v.fbMagnification);
        break;
    case 17:
        write.count = 58;
        w[55] = pair(v.fbMain, v.fbSub);
        break;
    case 18:
        write.count = 56;
        w[53] = pair(v.adfMain, v.adfSub);
        w[54] = pair(v.backMain, v.backSub);
        w[55] = pair(v.fbMain, v.fbSub);
        w[10] = encodeClass18Magnification(v.adfMagnification);
        w[11] = encodeClass18Magnification(v.fbMagnification);
        break;
    default:
        write.count = 0;
        break;
    }
    return write;
}

std::optional<bool> OffsetLogic::ok(int mainEdit, int subEdit, int bottomEdit, bool top,
                                    bool left, ScannerCommands& commands, EepromImage& pageImage,
                                    MessageBoxes& boxes, AdminCheck& admin)
{
    if (!storeAndCheck(mainEdit, subEdit, bottomEdit, top, left))
        return std::nullopt;
    if (boxes.show(m_texts(sid::kWriteConfirm), m_texts(sid::kAttention), BoxIcon::Warning,
                   BoxButtons::OkCancel) != BoxAnswer::Ok)
        return std::nullopt;
    if (!admin.run())
        return std::nullopt;
    const auto notUsable = [&] {
        boxes.show(m_texts(sid::kDeviceNotUsable), m_texts(sid::kAttention), BoxIcon::Warning,
                   BoxButtons::Ok);
    };
    if (!commands.usable()) {
        notUsable();
        return false;
    }
    const OffsetWrite write = build();
    std::vector<uint8_t> payload{0, static_cast<uint8_t>(write.count)};
    payload.insert(payload.end(), write.working.begin(),
                   write.working.begin() + static_cast<ptrdiff_t>(write.count));
    const bool written = commands.sendDiagnostic(VendorCommand::EepromWrite, payload);
    if (written)
        std::copy_n(write.working.begin(), write.count, pageImage.begin());
    const bool committed = written && commands.sendDiagnostic(VendorCommand::EepromCommit);
    if (!committed)
        notUsable();
    return committed;
}

} // namespace lumarc::infotool
