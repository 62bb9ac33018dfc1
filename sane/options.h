// The options of an open device, as SANE frontends see them: scan mode
// (Color, Gray), resolution within the scanner's range, preview, and the scan
// area (tl-x, tl-y, br-x, br-y in millimetres) within the scanner's largest
// window. A value beyond the scanner's limits is moved to the nearest one the
// scanner takes and reported with SANE_INFO_INEXACT; a value that means
// nothing is refused with SANE_STATUS_INVAL. Nothing reaches the scanner
// until a scan starts, and then only a window these limits allow.
#pragma once

#include "shared/scsi_scanner.h"

#include <sane/sane.h>

#include <array>
#include <optional>

namespace lumarc::sane {

namespace option {
enum : SANE_Int {
    kCount,
    kStandardGroup,
    kMode,
    kResolution,
    kPreview,
    kGeometryGroup,
    kTopLeftX,
    kTopLeftY,
    kBottomRightX,
    kBottomRightY,
    kTotal
};
} // namespace option

// Preview scans use this resolution, or the nearest the scanner offers.
constexpr uint32_t kPreviewResolution = 75;

// What the options let a user ask for.
struct ScannerLimits {
    uint32_t minimum = 50, maximum = 1200; // dpi
    // The largest window, 1/1200 inch.
    uint32_t width = shared::kA4Width, length = shared::kA4Length;
    bool colour = true, grey = true;
};

// The limits of a scanner from its VPD page; without one, what lumarc-scan
// assumes: 50 to 1200 dpi, colour and grey, A4.
ScannerLimits limitsOf(const std::optional<shared::Capabilities>& capabilities);

class Options {
public:
    explicit Options(const ScannerLimits& limits);
    // The descriptors point into the object.
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;

    // Null for an option that does not exist.
    const SANE_Option_Descriptor* descriptor(SANE_Int option) const;
    // sane_control_option: value holds at least the option's size in bytes.
    SANE_Status control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info);

    // The window a scan with these options asks for (corners in either
    // order); an area narrower or shorter than one pixel has no pixels.
    shared::ScanWindow window() const;

private:
    SANE_Status set(SANE_Int option, void* value, SANE_Int& info);

    ScannerLimits m_limits;
    std::array<SANE_String_Const, 3> m_modes{};
    SANE_Range m_resolutionRange{};
    SANE_Range m_xRange{}, m_yRange{};
    std::array<SANE_Option_Descriptor, option::kTotal> m_descriptors{};

    size_t m_mode = 0; // index into m_modes
    SANE_Int m_resolution = 150;
    SANE_Bool m_preview = SANE_FALSE;
    std::array<SANE_Fixed, 4> m_area{}; // tl-x, tl-y, br-x, br-y
};

// What a scan of window delivers: one frame, 8 bits per sample.
SANE_Parameters parametersOf(const shared::ScanWindow& window);

} // namespace lumarc::sane
