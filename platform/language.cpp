// Locale name to Windows language id and abbreviated language name.
#include "language.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace lumarc::platform {
namespace {

struct LanguageRow {
    std::string_view locale; // language, or language_TERRITORY
    uint16_t id;
    std::string_view abbreviation;
};

// Territory-specific rows come before the language's general row.
constexpr std::array kLanguages{
    LanguageRow{"en_GB", 0x0809, "ENG"}, LanguageRow{"en_AU", 0x0C09, "ENA"},
    LanguageRow{"en_CA", 0x1009, "ENC"}, LanguageRow{"en_NZ", 0x1409, "ENZ"},
    LanguageRow{"en_IE", 0x1809, "ENI"}, LanguageRow{"en", 0x0409, "ENU"},
    LanguageRow{"ja", 0x0411, "JPN"},    LanguageRow{"de_CH", 0x0807, "DES"},
    LanguageRow{"de_AT", 0x0C07, "DEA"}, LanguageRow{"de", 0x0407, "DEU"},
    LanguageRow{"fr_BE", 0x080C, "FRB"}, LanguageRow{"fr_CA", 0x0C0C, "FRC"},
    LanguageRow{"fr_CH", 0x100C, "FRS"}, LanguageRow{"fr", 0x040C, "FRA"},
    LanguageRow{"it_CH", 0x0810, "ITS"}, LanguageRow{"it", 0x0410, "ITA"},
    LanguageRow{"es_MX", 0x080A, "ESM"}, LanguageRow{"es", 0x0C0A, "ESN"},
    LanguageRow{"nl_BE", 0x0813, "NLB"}, LanguageRow{"nl", 0x0413, "NLD"},
    LanguageRow{"pt_BR", 0x0416, "PTB"}, LanguageRow{"pt", 0x0816, "PTG"},
    LanguageRow{"zh_TW", 0x0404, "CHT"}, LanguageRow{"zh_HK", 0x0C04, "ZHH"},
    LanguageRow{"zh", 0x0804, "CHS"},    LanguageRow{"ko", 0x0412, "KOR"},
    LanguageRow{"ru", 0x0419, "RUS"},    LanguageRow{"sv", 0x041D, "SVE"},
    LanguageRow{"da", 0x0406, "DAN"},    LanguageRow{"fi", 0x040B, "FIN"},
    LanguageRow{"nb", 0x0414, "NOR"},    LanguageRow{"no", 0x0414, "NOR"},
    LanguageRow{"nn", 0x0814, "NON"},    LanguageRow{"pl", 0x0415, "PLK"},
    LanguageRow{"cs", 0x0405, "CSY"},    LanguageRow{"hu", 0x040E, "HUN"},
    LanguageRow{"tr", 0x041F, "TRK"},    LanguageRow{"el", 0x0408, "ELL"},
    LanguageRow{"sk", 0x041B, "SKY"},    LanguageRow{"sl", 0x0424, "SLV"},
    LanguageRow{"hr", 0x041A, "HRV"},    LanguageRow{"ro", 0x0418, "ROM"},
    LanguageRow{"bg", 0x0402, "BGR"},    LanguageRow{"uk", 0x0422, "UKR"},
    LanguageRow{"he", 0x040D, "HEB"},    LanguageRow{"ar", 0x0401, "ARA"},
    LanguageRow{"th", 0x041E, "THA"},    LanguageRow{"ca", 0x0403, "CAT"},
    LanguageRow{"et", 0x0425, "ETI"},    LanguageRow{"lv", 0x0426, "LVI"},
    LanguageRow{"lt", 0x0427, "LTH"},    LanguageRow{"id", 0x0421, "IND"},
    LanguageRow{"vi", 0x042A, "VIT"},
};

} // namespace

std::string Language::idText() const
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(id));
    return text;
}

Language languageFromLocale(std::string_view locale)
{
    // "ll_TT.codeset@modifier": keep "ll_TT".
    const size_t cut = locale.find_first_of(".@");
    if (cut != std::string_view::npos)
        locale = locale.substr(0, cut);
    const size_t underscore = locale.find('_');
    const std::string_view language = locale.substr(0, underscore);
    for (const auto& row : kLanguages) {
        if (row.locale == locale || row.locale == language)
            return Language{row.id, std::string(row.abbreviation)};
    }
    return Language{};
}

Language userLanguage()
{
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return languageFromLocale(value);
    }
    return Language{};
}

} // namespace lumarc::platform
