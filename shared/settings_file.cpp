// Access to the shared settings file.
#include "settings_file.h"

#include "platform/folders.h"

namespace lumarc::shared {
namespace {

constexpr std::string_view kCompany = "Velorin";
constexpr std::string_view kProduct = "Orbtwain";
constexpr std::string_view kSettingsName = "Quenty.ini";
constexpr std::string_view kLaunchName = "Lanyard.ini";

} // namespace

std::filesystem::path settingsFolder()
{
    return platform::appDataFolder() / kCompany / kProduct;
}

std::filesystem::path settingsFilePath()
{
    return settingsFolder() / kSettingsName;
}

std::filesystem::path launchFilePath()
{
    return settingsFolder() / kLaunchName;
}

std::string unitSection(uint32_t index)
{
    return std::to_string(index);
}

std::chrono::milliseconds refreshWaitLimit(uint32_t searchBoxSeconds, uint32_t monIfSeconds)
{
    return std::chrono::seconds(int64_t{searchBoxSeconds} + monIfSeconds + 5);
}

Status writeWithRetry(platform::Profile& profile, std::string_view section, std::string_view key,
                      std::string_view value)
{
    if (profile.writeString(section, key, value))
        return {};
    return profile.writeString(section, key, value);
}

SettingsFile::SettingsFile() : m_profile(settingsFilePath()) {}

SettingsFile::SettingsFile(std::filesystem::path path) : m_profile(std::move(path)) {}

uint32_t SettingsFile::total() const
{
    return m_profile.readInt(section::kCommon, key::kTotal, defaults::kTotal);
}

uint32_t SettingsFile::current(int32_t fallback) const
{
    return m_profile.readInt(section::kCommon, key::kCurrent, fallback);
}

uint32_t SettingsFile::select() const
{
    return m_profile.readInt(section::kCommon, key::kSelect, defaults::kSelect);
}

uint32_t SettingsFile::refresh() const
{
    return m_profile.readInt(section::kCommon, key::kRefresh, defaults::kRefresh);
}

uint32_t SettingsFile::trgPort() const
{
    return m_profile.readInt(section::kCommon, key::kTrgPort, defaults::kTrgPort);
}

uint32_t SettingsFile::showViewMode() const
{
    return m_profile.readInt(section::kCommon, key::kShowViewMode, defaults::kShowViewMode);
}

uint32_t SettingsFile::searchBoxSeconds() const
{
    return m_profile.readInt(section::kTimeOut, key::kSearchBox, defaults::kSearchBoxSeconds);
}

uint32_t SettingsFile::monIfSeconds() const
{
    return m_profile.readInt(section::kTimeOut, key::kMonIf, defaults::kMonIfSeconds);
}

UnitRecord SettingsFile::unit(uint32_t index, std::string_view ipFallback) const
{
    const platform::IniDocument doc = m_profile.snapshot();
    const std::string name = unitSection(index);
    UnitRecord unit;
    unit.ip = platform::readStringFrom(doc, name, key::kIp, ipFallback);
    unit.netBoxName = platform::readStringFrom(doc, name, key::kNetBoxName, "");
    unit.scanner = platform::readStringFrom(doc, name, key::kScanner, "");
    unit.mac = platform::readStringFrom(doc, name, key::kMac, "");
    unit.status = platform::readIntFrom(doc, name, key::kStatus, defaults::kStatus);
    unit.autoFound = platform::readIntFrom(doc, name, key::kAuto, defaults::kAuto);
    return unit;
}

Status SettingsFile::write(std::string_view section, std::string_view key, std::string_view value)
{
    return m_profile.writeString(section, key, value);
}

Status SettingsFile::writeNumber(std::string_view section, std::string_view key, uint32_t value)
{
    return m_profile.writeString(section, key, std::to_string(value));
}

Status SettingsFile::writeWithRetry(std::string_view section, std::string_view key,
                                    std::string_view value)
{
    return shared::writeWithRetry(m_profile, section, key, value);
}

Status SettingsFile::moveUnit(uint32_t from, uint32_t to)
{
    return m_profile.writeSection(unitSection(to), m_profile.readSection(unitSection(from)));
}

Status SettingsFile::flush() const
{
    return m_profile.flush();
}

Status SettingsFile::createIfMissing()
{
    if (auto made = platform::ensureFolder(path().parent_path()); !made)
        return made;
    std::error_code ec;
    if (std::filesystem::exists(path(), ec))
        return {};
    if (auto written = m_profile.writeStringIfMissing(section::kCommon, key::kTotal, "0");
        !written)
        return written;
    return flush();
}

} // namespace lumarc::shared
