// A SCSI scanner as the unit's tunnel presents it: identification (INQUIRY,
// VPD page F0), vendor diagnostics over SEND/RECEIVE DIAGNOSTIC with an
// EEPROM image, mode pages 34 (power saving) and 3D (lamp timer), the
// 128-byte block, hardware status, TEST UNIT READY, REQUEST SENSE, and
// scanning: SET WINDOW, SCAN and READ(10) of image data from a generated test
// chart. Anything else ends in CHECK CONDITION with fixed-format sense data.
//
// Any thread may call execute(); one command runs at a time.
#pragma once

#include "scanner_profiles.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace lumarc::unitsim {

constexpr size_t kPageCacheLimit = 64 * 1024 * 1024;
constexpr size_t kBlockSize = 128;
constexpr uint32_t kChartUnits = 1200; // chart coordinates: 1/1200 inch
// A4 in chart units.
constexpr uint32_t kA4Width = 9921;
constexpr uint32_t kA4Length = 14031;

struct ScsiResult {
    uint8_t status = 0;                 // 0 good, 2 CHECK CONDITION
    std::array<uint8_t, 24> sense{};    // fixed format
    // The data-in, exactly the length asked for: the bytes of image, then
    // those of dataIn. Image data are a piece of the rendered page, sent
    // from where they lie (imageOwner keeps them alive, also past a later
    // SET WINDOW); every other command fills dataIn alone.
    std::span<const uint8_t> image;
    std::shared_ptr<const void> imageOwner;
    std::vector<uint8_t> dataIn;

    size_t dataInSize() const { return image.size() + dataIn.size(); }
    // The whole data-in in one buffer (a copy).
    std::vector<uint8_t> dataInBytes() const;
};

// The test chart's colour at a point (1/1200 inch from the top-left corner):
// colour bars, a grey ramp and a one-inch grid on white.
std::array<uint8_t, 3> chartPixel(uint32_t x, uint32_t y);

// The chart's rows come in a few kinds: chartPixel(x, y) depends on y only
// through chartRowKind(y), so a scanner renders one row of each kind and
// copies it for the others.
constexpr size_t kChartRowKinds = 6;
size_t chartRowKind(uint32_t y);

// The scan window as SET WINDOW sets it.
struct ScanWindow {
    uint16_t xResolution = 300;
    uint16_t yResolution = 300;
    uint32_t left = 0, top = 0;                  // chart units
    uint32_t width = kA4Width, length = kA4Length; // chart units
    uint8_t bitsPerPixel = 24;                   // 24 colour, 8 grey

    bool operator==(const ScanWindow&) const = default;
    uint32_t pixelsPerLine() const { return width * xResolution / kChartUnits; }
    uint32_t lines() const { return length * yResolution / kChartUnits; }
    uint32_t bytesPerLine() const { return pixelsPerLine() * (bitsPerPixel / 8); }
};

// The SET WINDOW data block for a window (8-byte header, 40-byte descriptor).
std::vector<uint8_t> encodeWindow(const ScanWindow& window);

class SimulatedScanner {
public:
    explicit SimulatedScanner(ScannerProfile profile);

    ScsiResult execute(std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut,
                       size_t dataInLength);

    // What tests and operators observe.
    std::array<uint8_t, kEepromSize> eeprom() const;          // committed image
    std::array<uint8_t, kEepromSize> eepromWorking() const;   // written, not yet committed
    uint8_t lampTimer() const;
    uint8_t powerSaving() const;
    uint8_t inkPercent() const;
    const ScannerProfile& profile() const { return m_profile; }

private:
    ScsiResult run(std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut,
                   size_t dataInLength);
    ScsiResult diagnostic(std::span<const uint8_t> payload);
    void renderLine(uint32_t line, std::vector<uint8_t>& out) const;
    // A line of the current window, rendered once per kind of chart row.
    std::span<const uint8_t> renderedLine(uint32_t index);
    ScsiResult readImage(size_t length);

    ScannerProfile m_profile;
    mutable std::mutex m_mutex;
    std::array<uint8_t, kEepromSize> m_eeprom{};
    std::array<uint8_t, kEepromSize> m_working{};
    std::array<uint8_t, kBlockSize> m_block{};
    std::vector<uint8_t> m_diagnosticResult;
    std::array<uint8_t, 24> m_lastSense{};
    uint8_t m_lampTimer = 0;
    uint8_t m_powerSaving = 0;
    uint8_t m_ink = 0;
    ScanWindow m_window;
    bool m_scanning = false;
    uint64_t m_imageOffset = 0;
    // One rendered line of each kind of chart row, for the current window.
    std::array<std::vector<uint8_t>, kChartRowKinds> m_rows;
    // The page of the current window, rendered at its first read when it
    // fits in kPageCacheLimit and kept while SET WINDOW sets the same
    // window again: reads answer from it without a copy. The page of an
    // earlier window lends its memory to the next page when no reply holds
    // it (fresh memory costs more to fill than rendering does).
    std::shared_ptr<std::vector<uint8_t>> m_page;
    std::shared_ptr<std::vector<uint8_t>> m_spare;
    // A larger page is rendered read by read into this buffer, used again
    // once no reply holds it.
    std::shared_ptr<std::vector<uint8_t>> m_chunk;
};

} // namespace lumarc::unitsim
