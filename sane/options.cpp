// Option descriptors, values and the window they make.
#include "options.h"

#include <sane/saneopts.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lumarc::sane {
namespace {

constexpr double kMillimetresPerInch = 25.4;
constexpr uint32_t kDefaultResolution = 300;
// Bounds on what a VPD page may claim, so that one line of the largest
// window at the highest resolution still fits in one transport request
// (2 x A4 width at 9600 dpi, colour: 476 KiB).
constexpr uint32_t kHighestResolution = 9600;
constexpr uint32_t kWidestWindow = 2 * shared::kA4Width;
constexpr uint32_t kLongestWindow = 2 * shared::kA4Length;

// 1/1200 inch to millimetres as SANE_Fixed, never above the exact value, so
// that the range's end converts back to the window's own size.
SANE_Fixed fixedFromUnits(uint32_t units)
{
    return SANE_FIX(units * kMillimetresPerInch / shared::kUnitsPerInch);
}

uint32_t unitsFromFixed(SANE_Fixed mm, uint32_t limit)
{
    const double units = std::round(SANE_UNFIX(mm) * shared::kUnitsPerInch / kMillimetresPerInch);
    return static_cast<uint32_t>(std::clamp(units, 0.0, static_cast<double>(limit)));
}

SANE_Option_Descriptor group(const char* title, const char* desc)
{
    SANE_Option_Descriptor d{};
    d.name = "";
    d.title = title;
    d.desc = desc;
    d.type = SANE_TYPE_GROUP;
    d.cap = 0;
    d.constraint_type = SANE_CONSTRAINT_NONE;
    return d;
}

SANE_Option_Descriptor word(const char* name, const char* title, const char* desc,
                            SANE_Value_Type type, SANE_Unit unit)
{
    SANE_Option_Descriptor d{};
    d.name = name;
    d.title = title;
    d.desc = desc;
    d.type = type;
    d.unit = unit;
    d.size = sizeof(SANE_Word);
    d.cap = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
    d.constraint_type = SANE_CONSTRAINT_NONE;
    return d;
}

} // namespace

ScannerLimits limitsOf(const std::optional<shared::Capabilities>& c)
{
    ScannerLimits limits;
    if (!c)
        return limits;
    limits.maximum = std::min(c->maximum, kHighestResolution);
    limits.minimum = std::clamp(c->minimum, 1u, limits.maximum);
    limits.colour = c->colour;
    limits.grey = c->grey;
    if (!limits.colour && !limits.grey) // a page that names neither: offer both
        limits.colour = limits.grey = true;
    // The largest window is given in pixels at the basic resolution.
    if (c->windowWidth != 0 && c->windowLength != 0) {
        limits.width = static_cast<uint32_t>(std::min<uint64_t>(
            uint64_t{c->windowWidth} * shared::kUnitsPerInch / c->basicX, kWidestWindow));
        limits.length = static_cast<uint32_t>(std::min<uint64_t>(
            uint64_t{c->windowLength} * shared::kUnitsPerInch / c->basicY, kLongestWindow));
    }
    return limits;
}

Options::Options(const ScannerLimits& limits) : m_limits(limits)
{
    size_t modes = 0;
    if (limits.colour)
        m_modes[modes++] = SANE_VALUE_SCAN_MODE_COLOR;
    if (limits.grey)
        m_modes[modes++] = SANE_VALUE_SCAN_MODE_GRAY;
    m_modes[modes] = nullptr;
    m_resolutionRange = {static_cast<SANE_Word>(limits.minimum),
                         static_cast<SANE_Word>(limits.maximum), 1};
    m_xRange = {0, fixedFromUnits(limits.width), 0};
    m_yRange = {0, fixedFromUnits(limits.length), 0};

    auto& d = m_descriptors;
    d[option::kCount] = word(SANE_NAME_NUM_OPTIONS, SANE_TITLE_NUM_OPTIONS, SANE_DESC_NUM_OPTIONS,
                             SANE_TYPE_INT, SANE_UNIT_NONE);
    d[option::kCount].cap = SANE_CAP_SOFT_DETECT;
    d[option::kStandardGroup] = group(SANE_TITLE_STANDARD, SANE_DESC_STANDARD);

    d[option::kMode] = word(SANE_NAME_SCAN_MODE, SANE_TITLE_SCAN_MODE, SANE_DESC_SCAN_MODE,
                            SANE_TYPE_STRING, SANE_UNIT_NONE);
    d[option::kMode].size = sizeof "Color"; // the longest value, with its NUL
    d[option::kMode].constraint_type = SANE_CONSTRAINT_STRING_LIST;
    d[option::kMode].constraint.string_list = m_modes.data();

    d[option::kResolution] = word(SANE_NAME_SCAN_RESOLUTION, SANE_TITLE_SCAN_RESOLUTION,
                                  SANE_DESC_SCAN_RESOLUTION, SANE_TYPE_INT, SANE_UNIT_DPI);
    d[option::kResolution].constraint_type = SANE_CONSTRAINT_RANGE;
    d[option::kResolution].constraint.range = &m_resolutionRange;

    d[option::kPreview] = word(SANE_NAME_PREVIEW, SANE_TITLE_PREVIEW, SANE_DESC_PREVIEW,
                               SANE_TYPE_BOOL, SANE_UNIT_NONE);

    d[option::kGeometryGroup] = group(SANE_TITLE_GEOMETRY, SANE_DESC_GEOMETRY);
    const struct {
        SANE_Int index;
        const char *name, *title, *desc;
        const SANE_Range* range;
    } corners[] = {
        {option::kTopLeftX, SANE_NAME_SCAN_TL_X, SANE_TITLE_SCAN_TL_X, SANE_DESC_SCAN_TL_X,
         &m_xRange},
        {option::kTopLeftY, SANE_NAME_SCAN_TL_Y, SANE_TITLE_SCAN_TL_Y, SANE_DESC_SCAN_TL_Y,
         &m_yRange},
        {option::kBottomRightX, SANE_NAME_SCAN_BR_X, SANE_TITLE_SCAN_BR_X, SANE_DESC_SCAN_BR_X,
         &m_xRange},
        {option::kBottomRightY, SANE_NAME_SCAN_BR_Y, SANE_TITLE_SCAN_BR_Y, SANE_DESC_SCAN_BR_Y,
         &m_yRange},
    };
    for (const auto& c : corners) {
        d[c.index] = word(c.name, c.title, c.desc, SANE_TYPE_FIXED, SANE_UNIT_MM);
        d[c.index].constraint_type = SANE_CONSTRAINT_RANGE;
        d[c.index].constraint.range = c.range;
    }

    m_resolution = static_cast<SANE_Int>(
        std::clamp(kDefaultResolution, limits.minimum, limits.maximum));
    m_area = {0, 0, m_xRange.max, m_yRange.max};
}

const SANE_Option_Descriptor* Options::descriptor(SANE_Int option) const
{
    if (option < 0 || option >= option::kTotal)
        return nullptr;
    return &m_descriptors[static_cast<size_t>(option)];
}

SANE_Status Options::control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info)
{
    if (info != nullptr)
        *info = 0;
    const SANE_Option_Descriptor* d = descriptor(option);
    if (d == nullptr || d->type == SANE_TYPE_GROUP || value == nullptr)
        return SANE_STATUS_INVAL;
    if (action == SANE_ACTION_GET_VALUE) {
        switch (option) {
        case option::kCount:
            *static_cast<SANE_Word*>(value) = option::kTotal;
            break;
        case option::kMode:
            std::strcpy(static_cast<char*>(value), m_modes[m_mode]);
            break;
        case option::kResolution:
            *static_cast<SANE_Word*>(value) = m_resolution;
            break;
        case option::kPreview:
            *static_cast<SANE_Word*>(value) = m_preview;
            break;
        default:
            *static_cast<SANE_Word*>(value) =
                m_area[static_cast<size_t>(option - option::kTopLeftX)];
            break;
        }
        return SANE_STATUS_GOOD;
    }
    if (action != SANE_ACTION_SET_VALUE || !SANE_OPTION_IS_SETTABLE(d->cap))
        return SANE_STATUS_INVAL; // no option is automatic
    SANE_Int changes = 0;
    const SANE_Status status = set(option, value, changes);
    if (status == SANE_STATUS_GOOD && info != nullptr)
        *info = changes;
    return status;
}

SANE_Status Options::set(SANE_Int option, void* value, SANE_Int& info)
{
    if (option == option::kMode) {
        // The caller's buffer holds the option's size; a value without its
        // NUL in there is none of ours.
        const char* text = static_cast<const char*>(value);
        const size_t size = static_cast<size_t>(m_descriptors[option::kMode].size);
        const size_t length = strnlen(text, size);
        if (length == size)
            return SANE_STATUS_INVAL;
        for (size_t i = 0; m_modes[i] != nullptr; ++i) {
            if (std::strcmp(text, m_modes[i]) == 0) {
                if (i != m_mode)
                    info |= SANE_INFO_RELOAD_PARAMS;
                m_mode = i;
                return SANE_STATUS_GOOD;
            }
        }
        return SANE_STATUS_INVAL;
    }
    SANE_Word& requested = *static_cast<SANE_Word*>(value);
    if (option == option::kPreview) {
        if (requested != SANE_FALSE && requested != SANE_TRUE)
            return SANE_STATUS_INVAL;
        if (requested != m_preview)
            info |= SANE_INFO_RELOAD_PARAMS;
        m_preview = requested;
        return SANE_STATUS_GOOD;
    }
    const SANE_Range& range = *m_descriptors[static_cast<size_t>(option)].constraint.range;
    const SANE_Word taken = std::clamp(requested, range.min, range.max);
    if (taken != requested) {
        requested = taken; // the caller learns the value in force
        info |= SANE_INFO_INEXACT;
    }
    SANE_Word& stored = option == option::kResolution
                            ? m_resolution
                            : m_area[static_cast<size_t>(option - option::kTopLeftX)];
    if (stored != taken)
        info |= SANE_INFO_RELOAD_PARAMS;
    stored = taken;
    return SANE_STATUS_GOOD;
}

shared::ScanWindow Options::window() const
{
    const uint32_t x0 = unitsFromFixed(m_area[0], m_limits.width);
    const uint32_t y0 = unitsFromFixed(m_area[1], m_limits.length);
    const uint32_t x1 = unitsFromFixed(m_area[2], m_limits.width);
    const uint32_t y1 = unitsFromFixed(m_area[3], m_limits.length);
    shared::ScanWindow w;
    w.left = std::min(x0, x1);
    w.top = std::min(y0, y1);
    w.width = std::max(x0, x1) - w.left;
    w.length = std::max(y0, y1) - w.top;
    w.resolution = m_preview ? std::clamp(kPreviewResolution, m_limits.minimum, m_limits.maximum)
                             : static_cast<uint32_t>(m_resolution);
    w.gray = std::strcmp(m_modes[m_mode], SANE_VALUE_SCAN_MODE_GRAY) == 0;
    return w;
}

SANE_Parameters parametersOf(const shared::ScanWindow& window)
{
    SANE_Parameters p{};
    p.format = window.gray ? SANE_FRAME_GRAY : SANE_FRAME_RGB;
    p.last_frame = SANE_TRUE;
    p.pixels_per_line = static_cast<SANE_Int>(window.pixels());
    p.bytes_per_line = static_cast<SANE_Int>(window.bytesPerLine());
    p.lines = static_cast<SANE_Int>(window.lines());
    p.depth = 8;
    return p;
}

} // namespace lumarc::sane
