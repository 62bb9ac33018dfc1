// An ini file held in memory as its lines, with the private-profile reading
// rules and edits that keep every untouched byte as it was.
//
// Reading rules: names compare without regard to ASCII case; blanks and tabs
// around names and values are ignored; a key line splits at its first '=';
// the first of duplicate keys wins and a repeated section is not merged with
// the first one; one matching pair of double or single quotes around a value
// is removed; a NUL byte ends a value; only lines beginning with ';' are
// comments; key lines before the first section belong to section ""; a
// section name runs to the last ']' of its line ("[a[b]]" is "a[b]"), text
// after that ']' is ignored and "[name" without ']' is not a section; CRLF,
// LF and lone CR all end lines; a UTF-8 byte-order mark at the start of the
// file is not part of the first line and is kept when the file is written.
//
// No I/O here: Profile (profile.h) reads and writes files with it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumarc::platform {

// One key line of a section, as read back by a whole-section read: the key
// and the value trimmed of surrounding blanks (quotes are kept, so a section
// written back reads exactly as before).
struct ProfileEntry {
    std::string key;
    std::string value;
    bool operator==(const ProfileEntry&) const = default;
};

// Applies the value rules to a raw value: ends it at a NUL byte, trims
// blanks and tabs, removes one matching pair of surrounding quotes.
std::string normalizeValue(std::string_view raw);

// Blanks and tabs trimmed from both ends.
std::string_view trimBlanks(std::string_view text);

// ASCII case-insensitive equality.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

class IniDocument {
public:
    IniDocument() = default;
    static IniDocument parse(std::string_view bytes);

    // The file's bytes: unchanged lines exactly as they were read, after
    // the byte-order mark when the file had one.
    std::string serialize() const;

    // The value of the first matching key of the first matching section,
    // normalised; nullopt when the section or key is missing.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // The key lines of the first matching section; nullopt when missing.
    std::optional<std::vector<ProfileEntry>> section(std::string_view section) const;

    // The names of all sections in file order (a repeated name repeats).
    std::vector<std::string> sectionNames() const;

    // Edits. Each returns whether the document changed. The caller has
    // checked the names and values (see validName/validValue in profile.h).
    bool setValue(std::string_view section, std::string_view key, std::string_view value);
    bool removeKey(std::string_view section, std::string_view key);
    bool eraseSection(std::string_view section);
    bool replaceSection(std::string_view section, const std::vector<ProfileEntry>& entries);

private:
    struct Line {
        std::string text; // without its line break
        std::string eol;  // "\r\n", "\n", "\r" or "" for a last line without one
    };
    // Lines [begin, end) of a section; header is the index of its "[name]"
    // line, or npos for the key lines that stand before the first section.
    struct Range {
        size_t header;
        size_t begin;
        size_t end;
    };
    static constexpr size_t npos = static_cast<size_t>(-1);

    std::optional<Range> findSection(std::string_view name) const;
    std::optional<size_t> findKey(const Range& range, std::string_view key) const;
    size_t contentEnd(const Range& range) const;
    void insertLines(size_t at, std::vector<std::string> texts);
    std::string newline() const;

    static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

    std::vector<Line> m_lines;
    bool m_byteOrderMark = false; // the file began with one
};

} // namespace lumarc::platform
