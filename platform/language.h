// The user's language as the Windows system names it.
//
// Taken from the POSIX locale variables (LC_ALL, then LC_MESSAGES, then LANG,
// the first one set and non-empty), e.g. "ja_JP.UTF-8" gives id 0x0411,
// "0411" and "JPN". An unknown or C/POSIX locale gives English (United
// States): 0x0409, "0409", "ENU".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumarc::platform {

struct Language {
    uint16_t id = 0x0409;
    std::string abbreviation = "ENU"; // three letters

    // The id as four upper-case hexadecimal digits ("0409").
    std::string idText() const;
};

// The language of a locale name such as "de_CH.UTF-8@euro".
Language languageFromLocale(std::string_view locale);

// The language of the current user, from the environment.
Language userLanguage();

} // namespace lumarc::platform
