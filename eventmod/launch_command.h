// The launch settings of one button and the program start they describe.
//
// Lanyard.ini, section [Launch]: Scan_Apl / Scan_Opt / Scan_Wrk for the Scan
// button, Send<n>_Apl / _Opt / _Wrk for Send-to button n. The program value
// is one executable, spaces and all; the options are split into arguments
// like a shell would (blanks separate, '...' and "..." group, backslash
// escapes) but nothing is expanded and no shell ever runs. The user name
// from the unit goes into the argument that holds "/USER" (found in any
// case, written in upper case followed by ':' and the name) and nowhere
// else, so no name can add an argument or reach a shell.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumarc::eventmod {

// Which keys a button's flags select: "Scan" for bit 0x100, "Send<n>" for
// bit 0x400 with n the low four bits; nullopt for neither.
std::optional<std::string> launchKeyPrefix(uint32_t flags);

struct LaunchSettings {
    std::string program;
    std::string options;
    std::string workingFolder;
};

// The three keys of the prefix from the launch settings file.
LaunchSettings readLaunchSettings(const std::filesystem::path& launchFile,
                                  std::string_view prefix);

// Splits options into arguments (see the file comment). An unterminated
// quote runs to the end of the text.
std::vector<std::string> splitOptions(std::string_view options);

struct LaunchCommand {
    std::vector<std::string> argv;        // argv[0] is the program value
    std::filesystem::path workingFolder; // empty: the starter's own
};

// The command for the settings and the user name; nullopt when no program
// is configured.
std::optional<LaunchCommand> buildLaunchCommand(const LaunchSettings& settings,
                                                std::string_view userName);

} // namespace lumarc::eventmod
