// Globally unique identifiers of COM classes, interfaces and type libraries.
//
// The binary layout is the Windows one (16 bytes: a 32-bit, two 16-bit and
// eight single-byte fields), so a Guid can be handed across a C boundary as
// it is. The text form is the registry's: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}",
// hexadecimal digits in either case on input, upper case on output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumarc::platform {

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};

    bool operator==(const Guid&) const = default;
};
static_assert(sizeof(Guid) == 16);
static_assert(offsetof(Guid, data4) == 8);

// The identifier in its text form; nullopt unless the text is exactly the
// braced form (38 characters, hyphens in their places, hexadecimal digits).
std::optional<Guid> parseGuid(std::string_view text);

// The braced, upper-case text form.
std::string formatGuid(const Guid& guid);

// A Guid spelled in code: kFoo = makeGuid(0xF5AF303F, 0x27D3, 0x4D25, {0x89, ...}).
constexpr Guid makeGuid(uint32_t data1, uint16_t data2, uint16_t data3,
                        const uint8_t (&data4)[8])
{
    Guid guid{data1, data2, data3, {}};
    for (size_t i = 0; i < 8; ++i)
        guid.data4[i] = data4[i];
    return guid;
}

} // namespace lumarc::platform
