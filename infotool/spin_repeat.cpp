// The spin edit's range and repeat.
#include "spin_repeat.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace lumarc::infotool {
namespace {

size_t digits(int value)
{
    return std::to_string(std::abs(static_cast<long>(value))).size();
}

} // namespace

int SpinRange::clamp(int value) const
{
    return std::clamp(value, minimum, maximum);
}

size_t SpinRange::maxLength() const
{
    return std::max(digits(maximum) + (maximum < 0 ? 1 : 0), digits(minimum) + (minimum < 0 ? 1 : 0));
}

int SpinRange::fromText(const std::string& text) const
{
    long value = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(begin, end, value);
    if (ec == std::errc::result_out_of_range)
        return (!text.empty() && text[0] == '-') ? minimum : maximum;
    if (ec != std::errc{} || at != end)
        return clamp(0);
    return static_cast<int>(std::clamp<long>(value, minimum, maximum));
}

int SpinRepeat::press(int direction)
{
    m_direction = direction < 0 ? -1 : 1;
    m_step = 1;
    m_count = 0;
    return m_direction;
}

int SpinRepeat::repeat()
{
    if (m_direction == 0)
        return 0;
    ++m_count;
    if (m_count == 10) {
        m_step = std::min(m_step * 5, kMaxStep);
    } else if (m_count == 20) {
        m_step = std::min(m_step * 2, kMaxStep);
        m_count = 1;
    }
    return m_direction * m_step;
}

void SpinRepeat::release()
{
    m_direction = 0;
    m_step = 1;
    m_count = 0;
}

} // namespace lumarc::infotool
