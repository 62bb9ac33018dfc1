// The Device Info page's rows, groups and clicks.
#include "device_info_logic.h"

#include "dump_file.h"

#include <algorithm>
#include <cstdio>

namespace lumarc::infotool {
namespace {

constexpr size_t kLabelLimit = 128;

uint32_t be16(const std::array<uint8_t, kVpdLength>& v, size_t at)
{
    return static_cast<uint32_t>(v[at] << 8 | v[at + 1]);
}

uint32_t be32(const std::array<uint8_t, kVpdLength>& v, size_t at)
{
    return static_cast<uint32_t>(v[at]) << 24 | static_cast<uint32_t>(v[at + 1]) << 16 |
           static_cast<uint32_t>(v[at + 2]) << 8 | v[at + 3];
}

// A fixed-width text field: up to its first NUL, trailing blanks removed.
std::string field(const uint8_t* bytes, size_t width)
{
    std::string text(reinterpret_cast<const char*>(bytes), width);
    if (const size_t nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

bool oneOf(ModelClass c, std::initializer_list<ModelClass> classes)
{
    return std::find(classes.begin(), classes.end(), c) != classes.end();
}

// The image-processing option: among the lowercase letters that end the
// 16-character product identification (the first character excluded), an
// "i".
bool hasIpcOption(const std::array<uint8_t, kInquiryLength>& inquiry)
{
    for (size_t i = 15; i >= 1; --i) {
        const char c = static_cast<char>(inquiry[16 + i]);
        if (c == 'i')
            return true;
        if (c < 'a' || c > 'z')
            return false;
    }
    return false;
}

} // namespace

DeviceInfoLogic::DeviceInfoLogic(ScannerCommands& commands, const ScannerIdentity& identity,
                                 ScannerData& data, DeviceSetLogic& deviceSet, const Texts& texts,
                                 MessageBoxes& boxes)
    : m_commands(commands), m_identity(identity), m_data(data), m_deviceSet(deviceSet),
      m_texts(texts), m_boxes(boxes)
{
}

bool DeviceInfoLogic::open()
{
    if (!m_commands.usable()) {
        m_boxes.show(m_texts(sid::kDeviceNotUsable), m_texts(sid::kAttention), BoxIcon::Warning,
                     BoxButtons::Ok);
        return false;
    }
    (void)m_commands.inquiry(false, 0, m_data.inquiry);
    (void)m_commands.inquiry(true, 0xF0, m_data.vpd);
    (void)m_deviceSet.readEeprom();
    applyVpdOverride(m_identity.modelClass(), m_identity.match.row, m_data.vpd);

    InfoSource source;
    source.modelClass = m_identity.modelClass();
    source.row = m_identity.match.row;
    source.inquiry = m_data.inquiry;
    source.vpd = m_data.vpd;
    source.eeprom = m_deviceSet.image();
    if (oneOf(source.modelClass, {15, 16, 17})) {
        std::array<uint8_t, kFirmwareLength> firmware{};
        if (m_commands.sendDiagnostic(VendorCommand::GetFirmware) &&
            m_commands.receiveDiagnostic(firmware))
            source.firmware = firmware;
    }
    build(source);
    rebuild();
    (void)writeDumpFile(m_deviceSet.image(), m_data);
    m_filled = true;
    return true;
}

void DeviceInfoLogic::addText(size_t group, const std::string& label, const std::string& value)
{
    if (group >= kMaxGroups)
        return;
    if (m_groups.size() <= group)
        m_groups.resize(group + 1);
    auto& entries = m_groups[group].entries;
    if (entries.size() >= kMaxEntries)
        return;
    entries.push_back({label.substr(0, kLabelLimit), value});
}

void DeviceInfoLogic::add(size_t group, uint32_t labelId, const std::string& value)
{
    addText(group, m_texts(labelId), value);
}

void DeviceInfoLogic::build(const InfoSource& s)
{
    using namespace sid;
    const Texts& t = m_texts;
    const ModelClass m = s.modelClass;
    const auto& v = s.vpd;
    const auto& q = s.inquiry;
    const auto& e = s.eeprom;
    const ModelCapabilities* record = capabilitiesOf(s.row);
    const uint32_t flags = record != nullptr ? record->flags : 0;
    const auto yesNo = [&](bool yes) { return t(yes ? kYes : kNo); };
    const auto number = [&](uint64_t n, uint32_t unitId) {
        return std::to_string(n) + " " + (unitId != 0 ? t(unitId) : std::string());
    };
    const auto firmwareText = [&](size_t at) {
        return std::string(reinterpret_cast<const char*>(s.firmware->data()) + at, 4);
    };
    m_groups.clear();
    m_rows.clear();
    m_lastClicked = -1;

    // 0: identification.
    add(0, kStandardInformation, "");
    add(0, kVendorIdentification, field(q.data() + 8, 8));
    add(0, kProductIdentification, field(q.data() + 16, 16));
    if (m == 15 && s.firmware) {
        add(0, kFirmwareSdc, firmwareText(0));
        add(0, kFirmwareMdc, firmwareText(4));
    }
    if (m == 16 || m == 17) {
        if (s.firmware)
            add(0, kProductRevision, firmwareText(0));
    } else {
        add(0, kProductRevision, field(q.data() + 32, 4));
    }
    if (oneOf(m, {6, 9, 13, 14, 15, 16, 17, 18})) {
        char date[16] = "";
        if (e[97] != 0 && e[98] != 0)
            std::snprintf(date, sizeof date, "%02d/%02d/%02d", e[96], e[97], e[98]);
        add(0, kInitialUse, date[0] != 0 ? std::string(date) : t(kNotRegistered2));
    } else {
        add(0, kInitialUse, t(kUnknown));
    }
    const uint32_t serial = static_cast<uint32_t>(e[100] << 16 | e[101] << 8 | e[102]);
    if (oneOf(m, {13, 14, 16, 17})) {
        char text[16];
        std::snprintf(text, sizeof text, "%08u", serial);
        add(0, kSerialNumber, serial != 0 ? std::string(text) : t(kNotDefined));
    }
    if (m == 15)
        add(0, kScannerMemory,
            number(((static_cast<uint32_t>(v[0x22]) << 4) & 0xFFF) | (v[0x23] >> 4), kMegabytes));
    if (m == 15 || m == 18)
        add(0, kSerialNumberShort, number(serial, 0));

    // 1: scanning area.
    add(1, kScanningArea, "");
    const bool resolutions = (flags & capability::kResolutions) != 0;
    const uint32_t ids[] = {kBasicX, kBasicY, kMaximumX, kMaximumY, kMinimumX, kMinimumY};
    const size_t vpdAt[] = {0x05, 0x07, 0x0A, 0x0C, 0x0E, 0x10};
    for (size_t i = 0; i < 6; ++i)
        add(1, ids[i], number(resolutions ? record->resolutions[i] : be16(v, vpdAt[i]), kDpi));
    const bool window = (flags & capability::kWindow) != 0;
    add(1, kWindowWidth, number(window ? record->windowWidth : be32(v, 0x14), kPixel));
    add(1, kWindowLength, number(window ? record->windowLength : be32(v, 0x18), kPixel));
    if ((flags & capability::kPaperSize) != 0) {
        const uint32_t paper = record->paperSize == 1   ? kPaperA4
                               : record->paperSize == 2 ? kPaperA3
                               : record->paperSize == 4 ? kPaperA6
                                                        : 0;
        add(1, kMaxPaperSize, paper != 0 ? t(paper) : std::string());
    }

    // 2: video output.
    add(2, kVideoOutput, "");
    add(2, kBlackWhite, yesNo(v[0x1C] & 0x02));
    add(2, kDither, yesNo(v[0x1C] & 0x04));
    add(2, kGrayScale, yesNo(v[0x1C] & 0x08));
    add(2, kRgbColor, yesNo(v[0x1C] & 0xE0));

    // 3: physical function.
    add(3, kPhysicalFunction, "");
    add(3, kOperatorPanel, yesNo(v[0x20] & 0x02));
    add(3, kDuplex, yesNo(v[0x20] & 0x10));
    add(3, kTransparency, yesNo(v[0x20] & 0x20));
    add(3, kFlatbed, yesNo((v[0x20] & 0x40) != 0 || forcesFlatbed(field(q.data() + 16, 16))));
    add(3, kAdf, yesNo(v[0x20] & 0x80));
    const uint32_t buffer = be32(v, 0x22);
    if (m == 8)
        add(3, kBuffering, std::to_string(buffer / 1024) + " " + t(kKilobytes));
    else if ((buffer >> 20) != 0)
        add(3, kBuffering, number(buffer >> 20, kMegabytes));

    // 4: imaging.
    add(4, kImaging, "");
    const bool lut = oneOf(m, {8, 13, 14, 16, 17});
    const auto steps = [&](uint8_t n, bool useLut) {
        return n != 0 ? number(n, kSteps) : t(useLut ? kUseLut : kNo);
    };
    add(4, kBrightnessSteps, steps(v[0x52], lut));
    add(4, kThresholdSteps, steps(v[0x53], false));
    add(4, kContrastSteps, steps(v[0x54], lut));
    add(4, kResidentDither, number(v[0x56] >> 4, 0));
    add(4, kRegistrableDither, number(v[0x56] & 0x0F, 0));
    add(4, kResidentGamma, number(v[0x57] >> 4, 0));
    add(4, kRegistrableGamma, number(v[0x57] & 0x0F, 0));
    add(4, kWhiteLevelFollower, yesNo(v[0x58] & 0x01));
    add(4, kSubWindow, yesNo(v[0x59] & 0x80));
    add(4, kErrorDiffusion, yesNo(v[0x59] & 0x40));

    // 5: the on-board image processor.
    uint32_t ipc = kNo;
    if (hasIpcOption(q))
        ipc = (m == 6 || m == 9) ? kIpc4 : (v[0x59] & 0x20) != 0 ? kIpc3 : kIpc2;
    else if (m == 18 && (v[0x58] & 0x40) != 0)
        ipc = kIpc4;
    add(5, kOnBoardIpc, t(ipc));
    add(5, kReverseImage, yesNo(v[0x58] & 0x80));
    add(5, kDynamicThreshold, yesNo(v[0x58] & 0x40));
    add(5, kSimplifiedDtc, yesNo(v[0x58] & 0x20));
    add(5, kOutlineExtract, yesNo(v[0x58] & 0x10));
    add(5, kImageEmphasis, yesNo(v[0x58] & 0x08));
    add(5, kAutomaticSeparation,
        yesNo((v[0x58] & 0x04) != 0 && (m != 18 || (v[0x58] & 0x40) != 0)));
    add(5, kSelectiveEdge, yesNo(oneOf(m, {6, 9, 15, 18})));
    add(5, kMirrorImage, yesNo(v[0x58] & 0x02));

    // 6: compression.
    add(6, kCompression, yesNo(v[0x5A] != 0));
    if (v[0x5A] != 0) {
        const uint32_t kinds[] = {kMh, kMr, kMmr, kJbig, kJpegBaseline, kJpegExtended,
                                  kJpegIndependent};
        for (size_t i = 0; i < 7; ++i)
            add(6, kinds[i], yesNo(v[0x5A] & (0x80 >> i)));
    }

    // 7: endorser.
    if (v[0x5C] >= 32) {
        add(7, kEndorser, t(kYes));
        add(7, kMechanicalEndorser, yesNo(v[0x5C] & 0x80));
        add(7, kStamper, yesNo(v[0x5C] & 0x40));
        add(7, kElectricalEndorser, yesNo(v[0x5C] & 0x20));
        add(7, kEndorserIdentifiers, number(v[0x5C] & 0x0F, 0));
        if ((m == 15 || m == 16) && s.firmware)
            add(7, kEndorserFirmware, firmwareText(8));
    } else {
        add(7, kEndorser, t(kNo));
    }

    // 8: miscellaneous functions of the capability record; a model that is
    // not in the table has none to tell.
    if (record == nullptr) {
        add(8, kMiscellaneous, t(kUnknown));
    } else {
        add(8, kMiscellaneous, "");
        const std::pair<uint32_t, uint32_t> bits[] = {
            {kSleepMode, misc::kSleepMode},   {kBackgroundSwitch, misc::kBackgroundSwitch},
            {kMultifeed, misc::kMultifeed},   {kDropoutColor, misc::kDropoutColor},
            {kBufferedScan, misc::kBufferedScan}, {kBlankPage, misc::kBlankPage},
            {kPageEnd, misc::kPageEnd},       {kLongPaper, misc::kLongPaper},
            {kBatchDetection, misc::kBatch},  {kSkewDetection, misc::kSkew},
            {kCalibration, misc::kCalibration}};
        for (const auto& [label, bit] : bits)
            add(8, label, yesNo(record->misc & bit));
    }

    // 9: interface.
    if ((flags & capability::kInterface) != 0) {
        const uint16_t code = record->interfaceCode;
        std::string value;
        if (code == 1)
            value = t(kScsi);
        else if (code == 2)
            value = t(m >= 13 && m <= 18 ? kScsiUsb : kScsi12);
        else if (code == 16)
            value = t(kUsb);
        add(9, kInterface, value);
        if (m == 16 || m == 17) {
            const uint8_t now = v[0x62];
            add(9, kConnectedInterface,
                now == 0 ? t(kScsi) : now == 1 ? t(kUsb11) : now == 2 ? t(kUsb20) : std::string());
        }
    }
    for (auto& group : m_groups)
        group.pending = GroupAction::None;
}

void DeviceInfoLogic::rebuild()
{
    m_rows.clear();
    for (size_t g = 0; g < m_groups.size(); ++g) {
        InfoGroup& group = m_groups[g];
        if (group.entries.empty())
            continue;
        const int index = static_cast<int>(g);
        if (group.pending == GroupAction::Expand) {
            group.display = GroupDisplay::Expanded;
            m_rows.push_back({group.entries[0].label, group.entries[0].value, rowimage::kExpanded,
                              index, true});
            for (size_t i = 1; i < group.entries.size(); ++i)
                m_rows.push_back({group.entries[i].label, group.entries[i].value,
                                  i + 1 == group.entries.size() ? rowimage::kLast
                                                                : rowimage::kMiddle,
                                  index, false});
        } else {
            group.display =
                group.entries.size() == 1 ? GroupDisplay::Single : GroupDisplay::Collapsed;
            m_rows.push_back({group.entries[0].label, group.entries[0].value,
                              group.display == GroupDisplay::Single ? rowimage::kSingle
                                                                    : rowimage::kCollapsed,
                              index, true});
        }
        group.pending = GroupAction::None;
    }
}

bool DeviceInfoLogic::click(int row)
{
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size() || !m_rows[row].head)
        return false;
    const int clicked = m_rows[row].group;
    if (m_lastClicked >= 0 && m_lastClicked != clicked &&
        m_groups[m_lastClicked].display == GroupDisplay::Expanded)
        m_groups[m_lastClicked].pending = GroupAction::Collapse;
    InfoGroup& group = m_groups[clicked];
    if (group.display == GroupDisplay::Expanded)
        group.pending = GroupAction::Collapse;
    else if (group.display == GroupDisplay::Collapsed)
        group.pending = GroupAction::Expand;
    m_lastClicked = clicked;
    rebuild();
    return true;
}

std::vector<ListRow> DeviceInfoLogic::allRows() const
{
    std::vector<ListRow> all;
    for (size_t g = 0; g < m_groups.size(); ++g)
        for (size_t i = 0; i < m_groups[g].entries.size(); ++i)
            all.push_back({m_groups[g].entries[i].label, m_groups[g].entries[i].value, 0,
                           static_cast<int>(g), i == 0});
    return all;
}

int DeviceInfoLogic::scrollMaximum(int rowsPerPage) const
{
    return std::max(0, static_cast<int>(m_rows.size()) - rowsPerPage);
}

} // namespace lumarc::infotool
