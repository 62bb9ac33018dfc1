// Conversion between the ANSI code page (UTF-8 here) and UTF-16, the
// counterparts of the multi-byte and wide-character conversions.
//
// Bytes that are not well-formed UTF-8 (overlong forms, surrogates, values
// above U+10FFFF, cut-off sequences) become U+FFFD, one per maximal ill-formed
// subpart; unpaired surrogates in UTF-16 become U+FFFD as well. No input
// makes them fail.
#pragma once

#include <string>
#include <string_view>

namespace lumarc::platform {

std::u16string ansiToWide(std::string_view text);
std::string wideToAnsi(std::u16string_view text);

} // namespace lumarc::platform
