// Numbered user-visible texts: the programs' "resource libraries".
//
// A program has its English texts built in. A localized table is a text
// file "<prefix><code>.strings" in the program's folder, one "id<TAB>text"
// per line with C escapes (\n, \t, \\, \", \xHH); blank lines and lines that
// begin with '#' are skipped. The code is [Setting] PageCode of the user
// profile (win.ini, at most 3 characters) or else the user's language id in
// four hexadecimal digits ("0411"). When "<prefix><code>.strings" is
// missing, the first file matching "<prefix>*<code[2..]>.strings" (the
// sub-language digits, "11" for "0411") is taken, as the system's own
// lookup does; without either, or for an id the file lacks, the built-in
// text is used.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace lumarc::shared {

class StringTable {
public:
    using Builtin = std::map<uint32_t, std::string_view>;

    // Loads the table of prefix for the user's language from folder (the
    // program's folder unless given). PageCode is read from profile (the
    // user profile unless given; a program may have a profile of its own).
    static StringTable load(std::string_view prefix, const Builtin& builtin,
                            const std::filesystem::path& folder = {},
                            const std::filesystem::path& profile = {});

    // The text of id: localized, else built in, else "".
    std::string text(uint32_t id) const;

    // The file the localized texts came from (empty when none was found).
    const std::filesystem::path& source() const { return m_source; }

    // The language code the lookup used ("0411", or PageCode's value) with
    // PageCode read from profile (the user profile unless given).
    static std::string languageCode(const std::filesystem::path& profile = {});

    // Parses one table file's content; lines that do not parse are skipped.
    static std::map<uint32_t, std::string> parse(std::string_view content);

private:
    const Builtin* m_builtin = nullptr;
    std::map<uint32_t, std::string> m_localized;
    std::filesystem::path m_source;
};

} // namespace lumarc::shared
