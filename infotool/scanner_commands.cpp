// The command functions: CDBs, payloads and the vendor command texts.
#include "scanner_commands.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace lumarc::infotool {
namespace {

constexpr size_t kModePageLength = 12;
constexpr uint8_t kPagePowerSaving = 0x34;
constexpr uint8_t kPageLampTimer = 0x3D;
constexpr uint32_t kMinimumPowerSavingMinutes = 15;

ScsiCommand command(EscapeCode code, std::initializer_list<uint8_t> cdb, std::span<uint8_t> data)
{
    ScsiCommand c;
    c.code = code;
    std::copy(cdb.begin(), cdb.end(), c.cdb.begin());
    c.cdbLength = static_cast<uint16_t>(cdb.size());
    c.data = data;
    if (code == EscapeCode::DataIn) {
        c.escapeOut = data.data();
        c.escapeOutLength = static_cast<uint32_t>(data.size());
    }
    return c;
}

} // namespace

std::string vendorCommandText(int kind, ModelClass modelClass)
{
    const bool h3t = modelClass == 7 || modelClass == 12;
    switch (kind) {
    case 1:
        return h3t ? "DEBUG,H3T,RED   " : "DEBUG,E2T,RED   ";
    case 2:
        return h3t ? "DEBUG,H3T,WRT   " : "DEBUG,E2T,WRT   ";
    case 3:
        return "DEBUG,E2P,WRT   ";
    case 4:
        return "CLEAR INK-LIFE  ";
    case 5:
        return "GET IMP-LIFE    ";
    case 6:
        return "GET FIRMVERSION ";
    case 7:
        return "DEBUG,E2T,RED  W";
    case 8:
        return "DEBUG,E2T,WRT  W";
    default:
        return {};
    }
}

bool ScannerCommands::inquiry(bool evpd, uint8_t page, std::span<uint8_t> buffer)
{
    const auto length = static_cast<uint8_t>(std::min<size_t>(buffer.size(), 0xFF));
    return m_channel.execute(command(EscapeCode::DataIn,
                                     {0x12, static_cast<uint8_t>(evpd ? 1 : 0), page, 0x00, length,
                                      0x00},
                                     buffer.first(length)));
}

bool ScannerCommands::receiveDiagnostic(std::span<uint8_t> buffer)
{
    std::fill(buffer.begin(), buffer.end(), 0);
    const size_t length = buffer.size();
    return m_channel.execute(command(EscapeCode::DataIn,
                                     {0x1C, 0x00, 0x00, static_cast<uint8_t>(length >> 8),
                                      static_cast<uint8_t>(length & 0xFF), 0x00},
                                     buffer));
}

bool ScannerCommands::sendDiagnostic(int kind, std::span<const uint8_t> payload)
{
    const std::string text = vendorCommandText(kind, m_class);
    if (text.empty())
        return false;
    std::vector<uint8_t> data(kVendorTextLength + payload.size());
    std::memcpy(data.data(), text.data(), kVendorTextLength);
    std::copy(payload.begin(), payload.end(), data.begin() + kVendorTextLength);
    const size_t total = data.size();
    // Only the classes with the wide EEPROM give the high byte of the length.
    const auto high = static_cast<uint8_t>((m_class == 8 || m_class == 15) ? total >> 8 : 0);
    ScsiCommand c = command(EscapeCode::DataOut,
                            {0x1D, 0x00, 0x00, high, static_cast<uint8_t>(total & 0xFF), 0x00},
                            data);
    // The Escape call's own output argument: the caller's payload (or none)
    // with the length of the whole data phase; the server does not read it.
    c.escapeOut = payload.empty() ? nullptr : const_cast<uint8_t*>(payload.data());
    c.escapeOutLength = static_cast<uint32_t>(total);
    return m_channel.execute(c);
}

uint8_t ScannerCommands::modeSensePowerSaving(bool* ok)
{
    std::array<uint8_t, kModePageLength> reply{};
    const bool done = m_channel.execute(
        command(EscapeCode::DataIn, {0x1A, 0x08, kPagePowerSaving, 0x00, kModePageLength, 0x00},
                reply));
    if (ok != nullptr)
        *ok = done;
    return done ? reply[6] : 0;
}

bool ScannerCommands::modeSelect(uint8_t page, uint8_t value)
{
    std::array<uint8_t, kModePageLength> data{};
    data[4] = page;
    data[5] = 0x06;
    data[6] = value;
    return m_channel.execute(
        command(EscapeCode::DataOut, {0x15, 0x10, 0x00, 0x00, kModePageLength, 0x00}, data));
}

bool ScannerCommands::modeSelectLampTimer(uint32_t value)
{
    if (!sendsLampTimer(m_class))
        return true;
    return modeSelect(kPageLampTimer, static_cast<uint8_t>(value & 0xFF));
}

bool ScannerCommands::modeSelectPowerSaving(uint32_t minutes)
{
    if (!keepsPowerSaving(m_class))
        return true;
    const uint32_t value = std::max(minutes, kMinimumPowerSavingMinutes) / 5;
    return modeSelect(kPagePowerSaving, static_cast<uint8_t>(value | 0x80));
}

bool ScannerCommands::readBlock(std::span<uint8_t, kBlockLength> block)
{
    return m_channel.execute(command(EscapeCode::DataIn,
                                     {0x28, 0x00, 0x69, 0x00, 0x0A, 0x0D, 0x00, 0x00, 0x80, 0x00},
                                     block));
}

bool ScannerCommands::writeBlock(std::span<uint8_t, kBlockLength> block)
{
    return m_channel.execute(command(EscapeCode::DataOut,
                                     {0x2A, 0x00, 0x85, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00},
                                     block));
}

bool ScannerCommands::readHardwareStatus(std::span<uint8_t> buffer)
{
    const size_t length = buffer.size();
    return m_channel.execute(command(EscapeCode::DataIn,
                                     {0xC2, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      static_cast<uint8_t>(length >> 8),
                                      static_cast<uint8_t>(length & 0xFF), 0x00},
                                     buffer));
}

} // namespace lumarc::infotool
