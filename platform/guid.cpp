// Parsing and formatting of identifiers.
#include "guid.h"

#include <cstdio>

namespace lumarc::platform {
namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The value of count hexadecimal digits at text[at], or nullopt.
std::optional<uint32_t> hexField(std::string_view text, size_t at, size_t count)
{
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i) {
        const int digit = hexDigit(text[at + i]);
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return value;
}

} // namespace

std::optional<Guid> parseGuid(std::string_view text)
{
    // {01234567-0123-0123-0123-0123456789AB}
    if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-' ||
        text[14] != '-' || text[19] != '-' || text[24] != '-')
        return std::nullopt;
    const auto d1 = hexField(text, 1, 8);
    const auto d2 = hexField(text, 10, 4);
    const auto d3 = hexField(text, 15, 4);
    if (!d1 || !d2 || !d3)
        return std::nullopt;
    Guid guid{*d1, static_cast<uint16_t>(*d2), static_cast<uint16_t>(*d3), {}};
    constexpr size_t kByteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (size_t i = 0; i < 8; ++i) {
        const auto byte = hexField(text, kByteAt[i], 2);
        if (!byte)
            return std::nullopt;
        guid.data4[i] = static_cast<uint8_t>(*byte);
    }
    return guid;
}

std::string formatGuid(const Guid& g)
{
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  g.data1, g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3],
                  g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

} // namespace lumarc::platform
