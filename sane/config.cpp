// lumarc.conf: finding it and reading it.
#include "config.h"

#include "debug_log.h"

#include "platform/file_io.h"

#include <algorithm>

#ifndef LUMARC_SANE_CONFIG_DIR
#define LUMARC_SANE_CONFIG_DIR "/etc/sane.d"
#endif

namespace lumarc::sane {
namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxHostName = 253;

std::string_view trimmed(std::string_view text)
{
    const size_t begin = text.find_first_not_of(" \t\r\f\v");
    if (begin == std::string_view::npos)
        return {};
    const size_t end = text.find_last_not_of(" \t\r\f\v");
    return text.substr(begin, end - begin + 1);
}

std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> out;
    size_t at = 0;
    while (at < line.size()) {
        const size_t begin = line.find_first_not_of(" \t", at);
        if (begin == std::string_view::npos)
            break;
        const size_t end = std::min(line.find_first_of(" \t", begin), line.size());
        out.push_back(line.substr(begin, end - begin));
        at = end;
    }
    return out;
}

} // namespace

bool isUnitName(std::string_view text)
{
    if (text.empty() || text.size() > kMaxHostName || text.front() == '-' || text.front() == '.')
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.';
    });
}

BackendConfig parseConfig(std::string_view text, std::vector<std::string>& problems)
{
    BackendConfig config;
    const auto addUnit = [&](std::string_view unit) {
        if (std::find(config.units.begin(), config.units.end(), unit) == config.units.end())
            config.units.emplace_back(unit);
    };
    size_t number = 0;
    for (size_t at = 0; at <= text.size();) {
        const size_t newline = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, newline - at);
        at = newline + 1;
        ++number;
        line = trimmed(line.substr(0, line.find('#')));
        if (line.empty())
            continue;
        const auto w = words(line);
        const auto problem = [&](const std::string& what) {
            problems.push_back("line " + std::to_string(number) + ": " + what);
        };
        if (w[0] == "discover" && w.size() == 1) {
            config.discover = true;
        } else if (w[0] == "settings" && w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
            config.settingsUnits = w[1] == "on";
        } else if (w[0] == "unit" && w.size() == 2 && isUnitName(w[1])) {
            addUnit(w[1]);
        } else if (w.size() == 1 && isUnitName(w[0])) {
            addUnit(w[0]);
        } else {
            // The line may hold anything: only printable ASCII goes into the
            // message.
            std::string shown;
            for (const char c : line.substr(0, 80))
                shown += (c >= 0x20 && c < 0x7F) ? c : '?';
            problem("not a unit address or setting: '" + shown + "'");
        }
    }
    return config;
}

std::vector<fs::path> configFolders(const char* saneConfigDir, const fs::path& installed)
{
    const std::vector<fs::path> defaults{".", installed};
    if (saneConfigDir == nullptr)
        return defaults;
    std::vector<fs::path> folders;
    const std::string_view list(saneConfigDir);
    for (size_t at = 0; at < list.size();) {
        const size_t colon = std::min(list.find(':', at), list.size());
        if (colon > at)
            folders.emplace_back(list.substr(at, colon - at));
        at = colon + 1;
    }
    if (!list.empty() && list.back() == ':')
        folders.insert(folders.end(), defaults.begin(), defaults.end());
    return folders;
}

BackendConfig loadConfig()
{
    for (const fs::path& folder :
         configFolders(std::getenv("SANE_CONFIG_DIR"), LUMARC_SANE_CONFIG_DIR)) {
        const fs::path path = folder / kConfigFileName;
        auto text = platform::readWholeFile(path, kConfigSizeLimit);
        if (!text) {
            if (text.error().code != 2) // anything but "not there" is worth a line
                debugLine(debug::kWarning, "%s", text.error().text.c_str());
            continue;
        }
        std::vector<std::string> problems;
        BackendConfig config = parseConfig(*text, problems);
        for (const std::string& problem : problems)
            debugLine(debug::kWarning, "%s: %s (skipped)", path.c_str(), problem.c_str());
        debugLine(debug::kInfo, "configuration %s: %zu units%s%s", path.c_str(),
                  config.units.size(), config.discover ? ", discover" : "",
                  config.settingsUnits ? "" : ", settings off");
        return config;
    }
    debugLine(debug::kInfo, "no %s found: the units of the settings file only",
              std::string(kConfigFileName).c_str());
    return {};
}

} // namespace lumarc::sane
