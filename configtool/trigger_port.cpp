// Trigger-port fields.
#include "trigger_port.h"

#include "texts.h"

#include <algorithm>
#include <charconv>

namespace lumarc::configtool {

PortCheck PortField::take()
{
    // Blanks around the number are allowed; anything else is not a number,
    // nor is a number beyond 32 bits.
    const size_t first = text.find_first_not_of(' ');
    const size_t last = text.find_last_not_of(' ');
    if (first == std::string::npos)
        return PortCheck::NotANumber;
    uint32_t parsed = 0;
    const char* begin = text.data() + first;
    const char* end = text.data() + last + 1;
    const auto [stop, error] = std::from_chars(begin, end, parsed);
    if (error != std::errc{} || stop != end || *begin == '-' || *begin == '+')
        return PortCheck::NotANumber;
    value = parsed;
    if (value < shared::kTrgPortMin || value > shared::kTrgPortMax)
        return PortCheck::OutOfRange;
    return PortCheck::Ok;
}

uint32_t PortField::clamp(uint32_t value)
{
    return std::clamp(value, shared::kTrgPortMin, shared::kTrgPortMax);
}

uint32_t portCheckMessage(PortCheck check)
{
    switch (check) {
    case PortCheck::NotANumber:
        return sid::kPositiveInteger;
    case PortCheck::OutOfRange:
        return sid::kIntegerBetween;
    case PortCheck::Ok:
        break;
    }
    return 0;
}

} // namespace lumarc::configtool
