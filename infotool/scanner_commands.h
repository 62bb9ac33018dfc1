// The SCSI commands the tool sends to the scanner, and the channel they
// travel through.
//
// ScannerChannel is the seam: the still-image device link (COM and Escape)
// and the direct transport of "lumarc -u ADDRESS scanner" implement it, and
// tests pass a fake that records every command byte. A command counts as
// done only when it completed with good status; a transport failure, CHECK
// CONDITION or BUSY is a failure, whatever the call itself returned.
#pragma once

#include "model_table.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace lumarc::infotool {

// The escape code beside the escape block: which way the data phase goes.
enum class EscapeCode : uint32_t { DataIn = 1, DataOut = 2 };

struct ScsiCommand {
    EscapeCode code = EscapeCode::DataIn;
    std::array<uint8_t, 10> cdb{};
    uint16_t cdbLength = 6;
    // The data phase: the reply buffer (DataIn) or the payload (DataOut).
    std::span<uint8_t> data;
    // What the Escape call itself gets as its output buffer and length: the
    // data buffer for reads; for writes the caller's own payload or null
    // (SEND DIAGNOSTIC, with the length payload + 16) or null and 0.
    uint8_t* escapeOut = nullptr;
    uint32_t escapeOutLength = 0;
};

class ScannerChannel {
public:
    virtual ~ScannerChannel() = default;
    // Runs one command; true only when it completed with good status. Blocks
    // the calling thread until the scanner answered or the transport gave up.
    virtual bool execute(const ScsiCommand& command) = 0;
    // Whether the device can be used now (the status check before a page
    // opens and before every change).
    virtual bool usable() = 0;
};

// The vendor commands carried by SEND DIAGNOSTIC.
enum class VendorCommand : int {
    EepromRead = 1,
    EepromWrite = 2,
    EepromCommit = 3,
    ClearInk = 4,
    GetImprinterLife = 5,
    GetFirmware = 6,
    EepromReadWide = 7,
    EepromWriteWide = 8,
};

constexpr size_t kVendorTextLength = 16;
constexpr size_t kFirmwareLength = 12;
constexpr size_t kHardwareStatusLength = 12;
constexpr size_t kHardwareStatusInk = 10;
constexpr size_t kBlockLength = 128;

// The command text of a vendor command for a model class; empty for a kind
// that does not exist.
std::string vendorCommandText(int kind, ModelClass modelClass);

// The command functions. Each returns true when the command completed.
class ScannerCommands {
public:
    ScannerCommands(ScannerChannel& channel, ModelClass modelClass)
        : m_channel(channel), m_class(modelClass)
    {
    }

    ModelClass modelClass() const { return m_class; }
    ScannerChannel& channel() { return m_channel; }
    bool usable() { return m_channel.usable(); }

    // INQUIRY of buffer.size() bytes (at most 255): standard or a VPD page.
    bool inquiry(bool evpd, uint8_t page, std::span<uint8_t> buffer);
    // RECEIVE DIAGNOSTIC of buffer.size() bytes; the buffer is zeroed first.
    bool receiveDiagnostic(std::span<uint8_t> buffer);
    // SEND DIAGNOSTIC of a vendor command with the bytes behind its text.
    // An unknown kind sends nothing and fails.
    bool sendDiagnostic(int kind, std::span<const uint8_t> payload = {});
    bool sendDiagnostic(VendorCommand kind, std::span<const uint8_t> payload = {})
    {
        return sendDiagnostic(static_cast<int>(kind), payload);
    }
    // MODE SENSE of page 34: reply byte 6, or 0 when the command failed.
    uint8_t modeSensePowerSaving(bool* ok = nullptr);
    // MODE SELECT of page 3D; sent only by the classes that have a lamp timer.
    bool modeSelectLampTimer(uint32_t value);
    // MODE SELECT of page 34 with (max(minutes, 15) / 5) or 0x80; sent only
    // by the classes 14, 15, 16 and 18.
    bool modeSelectPowerSaving(uint32_t minutes);
    bool readBlock(std::span<uint8_t, kBlockLength> block);
    bool writeBlock(std::span<uint8_t, kBlockLength> block);
    bool readHardwareStatus(std::span<uint8_t> buffer);

private:
    bool modeSelect(uint8_t page, uint8_t value);

    ScannerChannel& m_channel;
    ModelClass m_class;
};

} // namespace lumarc::infotool
