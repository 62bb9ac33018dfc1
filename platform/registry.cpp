// The registry file over the profile layer.
#include "registry.h"

#include "error_codes.h"
#include "folders.h"

#include <algorithm>

namespace lumarc::platform {
namespace {

constexpr std::string_view kDefaultValueEntry = "@";
constexpr char kSeparator = '\\';

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

Error invalid(std::string_view what, std::string_view name)
{
    return Error{win32::kInvalidParameter,
                 "registry: invalid " + std::string(what) + " \"" + std::string(name) + "\""};
}

bool validKeyPath(std::string_view key)
{
    if (!validSectionName(key))
        return false;
    size_t begin = 0;
    for (;;) {
        const size_t end = std::min(key.find(kSeparator, begin), key.size());
        const std::string_view part = key.substr(begin, end - begin);
        if (part.empty() || trimBlanks(part) != part)
            return false;
        if (end == key.size())
            return true;
        begin = end + 1;
    }
}

bool validValueName(std::string_view name)
{
    return name.empty() ||
           (name != kDefaultValueEntry && validKeyName(name) && trimBlanks(name) == name);
}

// The section of a key; the root's own name for key "".
std::string sectionOf(RegistryRoot root, std::string_view key)
{
    std::string name(registryRootName(root));
    if (!key.empty()) {
        name += kSeparator;
        name += key;
    }
    return name;
}

std::string entryOf(std::string_view name)
{
    return name.empty() ? std::string(kDefaultValueEntry) : std::string(name);
}

// The text to store so that the ini reading rules give data back unchanged.
std::string storedForm(std::string_view data)
{
    if (normalizeValue(data) == data)
        return std::string(data);
    return "\"" + std::string(data) + "\"";
}

} // namespace

std::string_view registryRootName(RegistryRoot root)
{
    return root == RegistryRoot::ClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_LOCAL_MACHINE";
}

std::filesystem::path registryFilePath()
{
    return appDataFolder() / "Velorin" / "registry.ini";
}

bool RegistryKeys::exists(RegistryRoot root, std::string_view key) const
{
    if (key.empty())
        return true;
    if (!validKeyPath(key))
        return false;
    const std::string section = sectionOf(root, key);
    const std::string below = section + kSeparator;
    const auto names = m_document.sectionNames();
    return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        return equalsIgnoreCase(name, section) || startsWithIgnoreCase(name, below);
    });
}

std::optional<std::string> RegistryKeys::value(RegistryRoot root, std::string_view key,
                                               std::string_view name) const
{
    if ((!key.empty() && !validKeyPath(key)) || !validValueName(name))
        return std::nullopt;
    return m_document.value(sectionOf(root, key), entryOf(name));
}

std::vector<std::string> RegistryKeys::subkeys(RegistryRoot root, std::string_view key) const
{
    std::vector<std::string> children;
    if (!key.empty() && !validKeyPath(key))
        return children;
    const std::string below = sectionOf(root, key) + kSeparator;
    for (const std::string& name : m_document.sectionNames()) {
        if (!startsWithIgnoreCase(name, below))
            continue;
        const std::string_view rest = std::string_view(name).substr(below.size());
        const std::string child(rest.substr(0, rest.find(kSeparator)));
        if (child.empty())
            continue;
        if (std::none_of(children.begin(), children.end(),
                         [&](const std::string& seen) { return equalsIgnoreCase(seen, child); }))
            children.push_back(child);
    }
    return children;
}

std::vector<RegistryValue> RegistryKeys::values(RegistryRoot root, std::string_view key) const
{
    std::vector<RegistryValue> out;
    if (!key.empty() && !validKeyPath(key))
        return out;
    const auto entries = m_document.section(sectionOf(root, key));
    if (!entries)
        return out;
    for (const ProfileEntry& entry : *entries) {
        std::string name = entry.key == kDefaultValueEntry ? std::string() : entry.key;
        if (std::any_of(out.begin(), out.end(), [&](const RegistryValue& seen) {
                return equalsIgnoreCase(seen.name, name);
            }))
            continue;
        out.push_back({std::move(name), normalizeValue(entry.value)});
    }
    return out;
}

Status RegistryKeys::create(RegistryRoot root, std::string_view key)
{
    if (key.empty())
        return {};
    if (!validKeyPath(key))
        return invalid("key", key);
    // Every level gets its section, so that a key and its parents show in
    // the file as they would in any registry listing.
    size_t end = 0;
    while (end != key.size()) {
        end = std::min(key.find(kSeparator, end + 1), key.size());
        const std::string section = sectionOf(root, key.substr(0, end));
        if (!m_document.section(section)) {
            m_document.replaceSection(section, {});
            m_changed = true;
        }
    }
    return {};
}

Status RegistryKeys::setValue(RegistryRoot root, std::string_view key, std::string_view name,
                              std::string_view data)
{
    if (!validValueName(name))
        return invalid("value name", name);
    if (!validValue(data))
        return invalid("value for", entryOf(name));
    if (key.empty())
        return invalid("key", "(a root)");
    if (auto created = create(root, key); !created)
        return created;
    if (m_document.setValue(sectionOf(root, key), entryOf(name), storedForm(data)))
        m_changed = true;
    return {};
}

Status RegistryKeys::deleteValue(RegistryRoot root, std::string_view key, std::string_view name)
{
    if (!validValueName(name))
        return invalid("value name", name);
    if (key.empty() || !validKeyPath(key))
        return invalid("key", key);
    if (m_document.removeKey(sectionOf(root, key), entryOf(name)))
        m_changed = true;
    return {};
}

Status RegistryKeys::deleteTree(RegistryRoot root, std::string_view key)
{
    if (key.empty() || !validKeyPath(key))
        return invalid("key", key);
    const std::string section = sectionOf(root, key);
    const std::string below = section + kSeparator;
    for (const std::string& name : m_document.sectionNames()) {
        if (!equalsIgnoreCase(name, section) && !startsWithIgnoreCase(name, below))
            continue;
        while (m_document.eraseSection(name))
            m_changed = true;
    }
    return {};
}

Registry::Registry() : m_profile(registryFilePath()) {}

Registry::Registry(std::filesystem::path file) : m_profile(std::move(file)) {}

IniDocument Registry::read() const
{
    return m_profile.snapshot();
}

bool Registry::keyExists(RegistryRoot root, std::string_view key) const
{
    IniDocument document = read();
    return RegistryKeys(document).exists(root, key);
}

std::optional<std::string> Registry::value(RegistryRoot root, std::string_view key,
                                           std::string_view name) const
{
    IniDocument document = read();
    return RegistryKeys(document).value(root, key, name);
}

std::vector<std::string> Registry::subkeys(RegistryRoot root, std::string_view key) const
{
    IniDocument document = read();
    return RegistryKeys(document).subkeys(root, key);
}

std::vector<RegistryValue> Registry::values(RegistryRoot root, std::string_view key) const
{
    IniDocument document = read();
    return RegistryKeys(document).values(root, key);
}

Status Registry::createKey(RegistryRoot root, std::string_view key)
{
    return update([&](RegistryKeys& keys) { return keys.create(root, key); });
}

Status Registry::setValue(RegistryRoot root, std::string_view key, std::string_view name,
                          std::string_view data)
{
    return update([&](RegistryKeys& keys) { return keys.setValue(root, key, name, data); });
}

Status Registry::deleteValue(RegistryRoot root, std::string_view key, std::string_view name)
{
    return update([&](RegistryKeys& keys) { return keys.deleteValue(root, key, name); });
}

Status Registry::deleteTree(RegistryRoot root, std::string_view key)
{
    return update([&](RegistryKeys& keys) { return keys.deleteTree(root, key); });
}

Status Registry::update(const std::function<Status(RegistryKeys&)>& change)
{
    if (const auto folder = path().parent_path(); !folder.empty()) {
        if (auto made = ensureFolder(folder); !made)
            return made;
    }
    Status outcome;
    auto written = m_profile.edit([&](IniDocument& document) {
        RegistryKeys keys(document);
        outcome = change(keys);
        return outcome.ok() && keys.changed();
    });
    if (!outcome)
        return outcome;
    return written;
}

} // namespace lumarc::platform
