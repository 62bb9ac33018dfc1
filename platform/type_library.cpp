// Type library text and registration.
#include "type_library.h"

#include "error_codes.h"
#include "file_io.h"
#include "ini_document.h"

#include <charconv>
#include <cstdio>

namespace lumarc::platform {
namespace {

constexpr size_t kMaxTypeLibraryFile = 256 * 1024;
constexpr std::string_view kInterfacePrefix = "Interface ";
constexpr std::string_view kClassPrefix = "Class ";

Error malformed(const std::string& what)
{
    return Error{win32::kInvalidData, "type library: " + what};
}

template <class Number> std::optional<Number> decimal(std::string_view text)
{
    Number value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::vector<std::string> commaList(std::string_view text)
{
    std::vector<std::string> items;
    while (!text.empty()) {
        const size_t comma = std::min(text.find(','), text.size());
        if (const auto item = trimBlanks(text.substr(0, comma)); !item.empty())
            items.emplace_back(item);
        text.remove_prefix(std::min(comma + 1, text.size()));
    }
    return items;
}

std::string versionText(uint16_t major, uint16_t minor)
{
    char version[16];
    std::snprintf(version, sizeof version, "%x.%x", major, minor);
    return version;
}

std::string versionKey(const Guid& libid, uint16_t major, uint16_t minor)
{
    return "TypeLib\\" + formatGuid(libid) + "\\" + versionText(major, minor);
}

std::string lcidText(uint32_t lcid)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", lcid);
    return text;
}

constexpr std::string_view kPlatformKey = sizeof(void*) == 8 ? "win64" : "win32";

Result<Guid> guidEntry(const IniDocument& document, const std::string& section,
                       std::string_view key)
{
    const auto text = document.value(section, key);
    const auto guid = text ? parseGuid(*text) : std::nullopt;
    if (!guid)
        return malformed("[" + section + "] " + std::string(key) + " is not a braced GUID");
    return *guid;
}

} // namespace

Result<TypeLibrary> parseTypeLibrary(std::string_view text)
{
    const IniDocument document = IniDocument::parse(text);
    TypeLibrary library;
    if (!document.section("Library"))
        return malformed("no [Library] section");
    library.name = document.value("Library", "Name").value_or("");
    auto libid = guidEntry(document, "Library", "LIBID");
    if (!libid)
        return libid.error();
    library.libid = *libid;
    const std::string version = document.value("Library", "Version").value_or("");
    const size_t dot = version.find('.');
    const auto major = decimal<uint16_t>(std::string_view(version).substr(0, dot));
    const auto minor = dot == std::string::npos
                           ? std::nullopt
                           : decimal<uint16_t>(std::string_view(version).substr(dot + 1));
    if (!major || !minor)
        return malformed("[Library] Version is not major.minor");
    library.majorVersion = *major;
    library.minorVersion = *minor;
    const auto lcid = decimal<uint32_t>(document.value("Library", "LCID").value_or("0"));
    if (!lcid)
        return malformed("[Library] LCID is not a number");
    library.lcid = *lcid;
    library.helpString = document.value("Library", "HelpString").value_or("");

    for (const std::string& section : document.sectionNames()) {
        const std::string_view name = section;
        if (name.starts_with(kInterfacePrefix)) {
            TypeLibInterface face;
            face.name = std::string(trimBlanks(name.substr(kInterfacePrefix.size())));
            auto iid = guidEntry(document, section, "IID");
            if (!iid)
                return iid.error();
            face.iid = *iid;
            face.helpString = document.value(section, "HelpString").value_or("");
            for (const ProfileEntry& entry : document.section(section).value_or(std::vector<ProfileEntry>{})) {
                const auto slot = decimal<uint32_t>(entry.key);
                if (!slot)
                    continue;
                const std::string value = normalizeValue(entry.value);
                const size_t colon = value.find(':');
                TypeLibMethod method{*slot, std::string(trimBlanks(value.substr(0, colon))), ""};
                if (colon != std::string::npos)
                    method.helpString = std::string(trimBlanks(value.substr(colon + 1)));
                if (method.name.empty())
                    return malformed("[" + section + "] slot " + entry.key + " has no name");
                if (!face.methods.empty() && face.methods.back().slot >= method.slot)
                    return malformed("[" + section + "] slots are not in rising order");
                face.methods.push_back(std::move(method));
            }
            library.interfaces.push_back(std::move(face));
        } else if (name.starts_with(kClassPrefix)) {
            TypeLibClass coclass;
            coclass.name = std::string(trimBlanks(name.substr(kClassPrefix.size())));
            auto clsid = guidEntry(document, section, "CLSID");
            if (!clsid)
                return clsid.error();
            coclass.clsid = *clsid;
            coclass.helpString = document.value(section, "HelpString").value_or("");
            coclass.interfaces = commaList(document.value(section, "Interfaces").value_or(""));
            library.classes.push_back(std::move(coclass));
        }
    }
    return library;
}

Result<TypeLibrary> loadTypeLibrary(const std::filesystem::path& file)
{
    auto text = readWholeFile(file, kMaxTypeLibraryFile);
    if (!text)
        return text.error();
    auto library = parseTypeLibrary(*text);
    if (!library)
        return Error{library.error().code, file.string() + ": " + library.error().text};
    return library;
}

HRESULT registerTypeLibrary(const TypeLibrary& library, const std::filesystem::path& file,
                            const std::filesystem::path& helpFolder, Registry& registry)
{
    constexpr auto root = RegistryRoot::ClassesRoot;
    const std::string version = versionKey(library.libid, library.majorVersion,
                                           library.minorVersion);
    const std::string libid = formatGuid(library.libid);
    const Status written = registry.update([&](RegistryKeys& keys) -> Status {
        for (const auto& [key, data] : std::initializer_list<std::pair<std::string, std::string>>{
                 {version, library.helpString},
                 {version + "\\FLAGS", "0"},
                 {version + "\\HELPDIR", helpFolder.string()},
                 {version + "\\" + lcidText(library.lcid) + "\\" + std::string(kPlatformKey),
                  file.string()},
             }) {
            if (auto set = keys.setValue(root, key, "", data); !set)
                return set;
        }
        for (const TypeLibInterface& face : library.interfaces) {
            const std::string key = "Interface\\" + formatGuid(face.iid);
            Status set = keys.setValue(root, key, "", face.name);
            if (set)
                set = keys.setValue(root, key + "\\TypeLib", "", libid);
            if (set)
                set = keys.setValue(root, key + "\\TypeLib", "Version",
                                    versionText(library.majorVersion, library.minorVersion));
            if (!set)
                return set;
        }
        return {};
    });
    return written ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT unregisterTypeLibrary(const Guid& libid, uint16_t majorVersion, uint16_t minorVersion,
                              uint32_t lcid, Registry& registry)
{
    constexpr auto root = RegistryRoot::ClassesRoot;
    const std::string libraryKey = "TypeLib\\" + formatGuid(libid);
    const std::string version = versionKey(libid, majorVersion, minorVersion);
    const std::string lcidKey = version + "\\" + lcidText(lcid);
    bool registered = true;
    const Status written = registry.update([&](RegistryKeys& keys) -> Status {
        if (!keys.exists(root, lcidKey)) {
            registered = false;
            return {};
        }
        if (auto removed = keys.deleteTree(root, lcidKey); !removed)
            return removed;
        for (const std::string& sub : keys.subkeys(root, version)) {
            if (!equalsIgnoreCase(sub, "FLAGS") && !equalsIgnoreCase(sub, "HELPDIR"))
                return {}; // another lcid still uses this version
        }
        // The interfaces that this version registered go with it.
        const std::string versionValue = versionText(majorVersion, minorVersion);
        for (const std::string& iid : keys.subkeys(root, "Interface")) {
            const std::string key = "Interface\\" + iid;
            const auto owner = keys.value(root, key + "\\TypeLib");
            const auto ownerVersion = keys.value(root, key + "\\TypeLib", "Version");
            if (owner && equalsIgnoreCase(*owner, formatGuid(libid)) && ownerVersion &&
                equalsIgnoreCase(*ownerVersion, versionValue)) {
                if (auto removed = keys.deleteTree(root, key); !removed)
                    return removed;
            }
        }
        if (auto removed = keys.deleteTree(root, version); !removed)
            return removed;
        if (keys.subkeys(root, libraryKey).empty())
            return keys.deleteTree(root, libraryKey);
        return {};
    });
    if (!written)
        return TYPE_E_REGISTRYACCESS;
    return registered ? S_OK : TYPE_E_LIBNOTREGISTERED;
}

} // namespace lumarc::platform
