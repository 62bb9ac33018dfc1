// The backend's configuration file lumarc.conf: which units to offer
// besides those of the shared settings file, and whether to search the
// network for more.
//
//   # a comment
//   192.0.2.7            a unit, by IPv4 address or host name
//   unit scan-room       the same, with the keyword
//   discover             search the local network (broadcast) at each listing
//   settings off         leave out the units of the shared settings file
//
// The file is looked for as SANE looks for every backend's file: in the
// folders of SANE_CONFIG_DIR (separated by ':'; a trailing ':' adds the
// default folders), else in the default folders, the current folder and the
// installed configuration folder. The first lumarc.conf found counts.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace lumarc::sane {

constexpr std::string_view kConfigFileName = "lumarc.conf";
// Longer files are not configuration files.
constexpr size_t kConfigSizeLimit = 64 * 1024;

struct BackendConfig {
    std::vector<std::string> units; // in the file's order, each once
    bool discover = false;
    bool settingsUnits = true;
};

// Parses the text of a configuration file. A line that means nothing is
// skipped, and a sentence about it ("line 3: ...") is added to problems.
BackendConfig parseConfig(std::string_view text, std::vector<std::string>& problems);

// Whether text can name a unit: a dotted IPv4 address or a host name
// (letters, digits, '-' and '.', at most 253 characters).
bool isUnitName(std::string_view text);

// The folders searched for configuration files, given the value of
// SANE_CONFIG_DIR (null when unset) and the installed folder.
std::vector<std::filesystem::path> configFolders(const char* saneConfigDir,
                                                 const std::filesystem::path& installed);

// The configuration in force: the first lumarc.conf of configFolders, or
// the defaults when there is none. Problems go to the debug output.
BackendConfig loadConfig();

} // namespace lumarc::sane
