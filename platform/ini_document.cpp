// Parsing and editing of ini files line by line.
#include "ini_document.h"

#include <algorithm>

namespace lumarc::platform {
namespace {

enum class LineKind { Blank, Comment, Section, Key, Other };

struct Parsed {
    LineKind kind = LineKind::Other;
    std::string_view name;  // section name or key, trimmed
    std::string_view value; // raw value after '=', untrimmed
};

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

Parsed classify(std::string_view line)
{
    const std::string_view text = trimBlanks(line);
    if (text.empty())
        return {LineKind::Blank, {}, {}};
    if (text.front() == ';')
        return {LineKind::Comment, {}, {}};
    if (text.front() == '[') {
        // The name runs to the last ']', so "[a[b]]" is section "a[b]".
        const size_t close = text.rfind(']');
        if (close != std::string_view::npos)
            return {LineKind::Section, trimBlanks(text.substr(1, close - 1)), {}};
        // "[name" without ']' is not a section; it may still be a key line.
    }
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos)
        return {LineKind::Other, {}, {}};
    return {LineKind::Key, trimBlanks(text.substr(0, eq)), text.substr(eq + 1)};
}

} // namespace

std::string_view trimBlanks(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

std::string normalizeValue(std::string_view raw)
{
    if (const size_t nul = raw.find('\0'); nul != std::string_view::npos)
        raw = raw.substr(0, nul);
    raw = trimBlanks(raw);
    if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') &&
        raw.back() == raw.front())
        raw = raw.substr(1, raw.size() - 2);
    return std::string(raw);
}

IniDocument IniDocument::parse(std::string_view bytes)
{
    IniDocument doc;
    // A UTF-8 byte-order mark is no part of the first line; it is kept aside
    // and written back in front.
    if (bytes.starts_with(kByteOrderMark)) {
        doc.m_byteOrderMark = true;
        bytes.remove_prefix(kByteOrderMark.size());
    }
    size_t pos = 0;
    while (pos < bytes.size()) {
        const size_t brk = bytes.find_first_of("\r\n", pos);
        if (brk == std::string_view::npos) {
            doc.m_lines.push_back({std::string(bytes.substr(pos)), ""});
            break;
        }
        size_t eolLength = 1;
        if (bytes[brk] == '\r' && brk + 1 < bytes.size() && bytes[brk + 1] == '\n')
            eolLength = 2;
        doc.m_lines.push_back(
            {std::string(bytes.substr(pos, brk - pos)), std::string(bytes.substr(brk, eolLength))});
        pos = brk + eolLength;
    }
    return doc;
}

std::string IniDocument::serialize() const
{
    size_t total = m_byteOrderMark ? kByteOrderMark.size() : 0;
    for (const auto& line : m_lines)
        total += line.text.size() + line.eol.size();
    std::string out;
    out.reserve(total);
    if (m_byteOrderMark)
        out += kByteOrderMark;
    for (const auto& line : m_lines) {
        out += line.text;
        out += line.eol;
    }
    return out;
}

std::optional<IniDocument::Range> IniDocument::findSection(std::string_view name) const
{
    name = trimBlanks(name);
    size_t firstHeader = m_lines.size();
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if (classify(m_lines[i].text).kind == LineKind::Section) {
            firstHeader = i;
            break;
        }
    }
    // Key lines before the first section form section "" when there are any.
    if (name.empty()) {
        for (size_t i = 0; i < firstHeader; ++i)
            if (classify(m_lines[i].text).kind == LineKind::Key)
                return Range{npos, 0, firstHeader};
    }
    for (size_t i = firstHeader; i < m_lines.size(); ++i) {
        const Parsed p = classify(m_lines[i].text);
        if (p.kind != LineKind::Section || !equalsIgnoreCase(p.name, name))
            continue;
        size_t end = i + 1;
        while (end < m_lines.size() && classify(m_lines[end].text).kind != LineKind::Section)
            ++end;
        return Range{i, i + 1, end};
    }
    return std::nullopt;
}

std::optional<size_t> IniDocument::findKey(const Range& range, std::string_view key) const
{
    key = trimBlanks(key);
    for (size_t i = range.begin; i < range.end; ++i) {
        const Parsed p = classify(m_lines[i].text);
        if (p.kind == LineKind::Key && equalsIgnoreCase(p.name, key))
            return i;
    }
    return std::nullopt;
}

// One past the last non-blank line of a section: new keys go there, so the
// blank lines that separate it from the next section stay behind them.
size_t IniDocument::contentEnd(const Range& range) const
{
    size_t end = range.end;
    while (end > range.begin && classify(m_lines[end - 1].text).kind == LineKind::Blank)
        --end;
    return end;
}

std::string IniDocument::newline() const
{
    // New lines follow the file's own convention.
    for (const auto& line : m_lines)
        if (!line.eol.empty())
            return line.eol;
    return "\n";
}

void IniDocument::insertLines(size_t at, std::vector<std::string> texts)
{
    if (texts.empty())
        return;
    const std::string eol = newline();
    // A last line without a line break gets one before anything follows it.
    if (at > 0 && m_lines[at - 1].eol.empty())
        m_lines[at - 1].eol = eol;
    std::vector<Line> lines;
    lines.reserve(texts.size());
    for (auto& text : texts)
        lines.push_back({std::move(text), eol});
    // A lone CR before a line that begins with LF (a blank LF line) would
    // read back as one CRLF, and the blank line would be gone. Ending the
    // new line in CRLF keeps every existing line as it was.
    if (eol == "\r" && at < m_lines.size() && m_lines[at].text.empty() &&
        m_lines[at].eol.starts_with('\n'))
        lines.back().eol = "\r\n";
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at),
                   std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
}

std::optional<std::string> IniDocument::value(std::string_view section, std::string_view key) const
{
    const auto range = findSection(section);
    if (!range)
        return std::nullopt;
    const auto line = findKey(*range, key);
    if (!line)
        return std::nullopt;
    return normalizeValue(classify(m_lines[*line].text).value);
}

std::optional<std::vector<ProfileEntry>> IniDocument::section(std::string_view name) const
{
    const auto range = findSection(name);
    if (!range)
        return std::nullopt;
    std::vector<ProfileEntry> entries;
    for (size_t i = range->begin; i < range->end; ++i) {
        const Parsed p = classify(m_lines[i].text);
        if (p.kind == LineKind::Key)
            entries.push_back({std::string(p.name), std::string(trimBlanks(p.value))});
    }
    return entries;
}

std::vector<std::string> IniDocument::sectionNames() const
{
    std::vector<std::string> names;
    if (findSection("").has_value() && findSection("")->header == npos)
        names.emplace_back();
    for (const auto& line : m_lines) {
        const Parsed p = classify(line.text);
        if (p.kind == LineKind::Section)
            names.emplace_back(p.name);
    }
    return names;
}

bool IniDocument::setValue(std::string_view section, std::string_view key, std::string_view value)
{
    key = trimBlanks(key);
    const auto range = findSection(section);
    if (!range) {
        insertLines(m_lines.size(), {"[" + std::string(trimBlanks(section)) + "]",
                                     std::string(key) + "=" + std::string(value)});
        return true;
    }
    if (const auto line = findKey(*range, key)) {
        // Keep the file's spelling of the key.
        std::string text = std::string(classify(m_lines[*line].text).name) + "=";
        text += value;
        if (text == m_lines[*line].text)
            return false;
        m_lines[*line].text = std::move(text);
        return true;
    }
    insertLines(contentEnd(*range), {std::string(key) + "=" + std::string(value)});
    return true;
}

bool IniDocument::removeKey(std::string_view section, std::string_view key)
{
    const auto range = findSection(section);
    if (!range)
        return false;
    const auto line = findKey(*range, key);
    if (!line)
        return false;
    m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(*line));
    return true;
}

bool IniDocument::eraseSection(std::string_view section)
{
    const auto range = findSection(section);
    if (!range)
        return false;
    const size_t first = range->header == npos ? 0 : range->header;
    m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(first),
                  m_lines.begin() + static_cast<std::ptrdiff_t>(range->end));
    return true;
}

bool IniDocument::replaceSection(std::string_view section, const std::vector<ProfileEntry>& entries)
{
    std::vector<std::string> texts;
    texts.reserve(entries.size() + 1);
    for (const auto& entry : entries)
        texts.push_back(std::string(trimBlanks(entry.key)) + "=" + entry.value);

    const auto range = findSection(section);
    if (!range) {
        texts.insert(texts.begin(), "[" + std::string(trimBlanks(section)) + "]");
        insertLines(m_lines.size(), std::move(texts));
        return true;
    }
    // The section's lines are replaced where they stand; the blank lines that
    // separate it from the next section stay.
    const size_t end = contentEnd(*range);
    const std::string before = serialize();
    m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(range->begin),
                  m_lines.begin() + static_cast<std::ptrdiff_t>(end));
    insertLines(range->begin, std::move(texts));
    return serialize() != before;
}

} // namespace lumarc::platform
