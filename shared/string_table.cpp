// Loading and reading the numbered text tables.
#include "string_table.h"

#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/language.h"
#include "platform/profile.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace lumarc::shared {
namespace {

constexpr size_t kPageCodeCapacity = 4; // at most 3 characters
// A string table of a program holds a few hundred short texts.
constexpr size_t kMaxTableFile = 1024 * 1024;

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

std::string unescape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        switch (c) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'x': {
            int value = 0, digits = 0;
            while (digits < 2 && i + 1 < text.size() && hexDigit(text[i + 1]) >= 0) {
                value = value * 16 + hexDigit(text[++i]);
                ++digits;
            }
            if (digits == 0)
                out += "\\x";
            else
                out += static_cast<char>(value);
            break;
        }
        default: // \\, \", and anything else stands for itself
            out += c;
            break;
        }
    }
    return out;
}

std::optional<std::filesystem::path> findTable(const std::filesystem::path& folder,
                                               std::string_view prefix, const std::string& code)
{
    const auto exact = folder / (std::string(prefix) + code + ".strings");
    std::error_code ec;
    if (std::filesystem::is_regular_file(exact, ec))
        return exact;
    if (code.size() < 3)
        return std::nullopt;
    // "<prefix>*<sub-language>.strings": the first match in name order, so
    // the choice does not depend on the directory's order.
    const std::string tail = code.substr(2) + ".strings";
    std::vector<std::filesystem::path> matches;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() >= prefix.size() + tail.size() && name.starts_with(prefix) &&
            name.ends_with(tail) && entry.is_regular_file(ec))
            matches.push_back(entry.path());
    }
    if (matches.empty())
        return std::nullopt;
    return *std::min_element(matches.begin(), matches.end());
}

} // namespace

std::string StringTable::languageCode(const std::filesystem::path& profile)
{
    char pageCode[kPageCodeCapacity] = {};
    platform::Profile(profile.empty() ? platform::userProfileFile() : profile)
        .readString("Setting", "PageCode", "", pageCode, sizeof pageCode);
    if (pageCode[0] != '\0')
        return pageCode;
    return platform::userLanguage().idText();
}

std::map<uint32_t, std::string> StringTable::parse(std::string_view content)
{
    std::map<uint32_t, std::string> table;
    while (!content.empty()) {
        const size_t end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content = end == std::string_view::npos ? std::string_view{} : content.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
            continue;
        uint32_t id = 0;
        const auto [p, ec] = std::from_chars(line.data(), line.data() + tab, id);
        if (ec != std::errc{} || p != line.data() + tab)
            continue;
        table[id] = unescape(line.substr(tab + 1));
    }
    return table;
}

StringTable StringTable::load(std::string_view prefix, const Builtin& builtin,
                              const std::filesystem::path& folder,
                              const std::filesystem::path& profile)
{
    StringTable table;
    table.m_builtin = &builtin;
    const auto where = folder.empty() ? platform::programFolder() : folder;
    if (auto path = findTable(where, prefix, languageCode(profile))) {
        if (auto content = platform::readWholeFile(*path, kMaxTableFile)) {
            table.m_localized = parse(*content);
            table.m_source = *path;
        }
    }
    return table;
}

std::string StringTable::text(uint32_t id) const
{
    if (const auto it = m_localized.find(id); it != m_localized.end())
        return it->second;
    if (m_builtin != nullptr)
        if (const auto it = m_builtin->find(id); it != m_builtin->end())
            return std::string(it->second);
    return {};
}

} // namespace lumarc::shared
