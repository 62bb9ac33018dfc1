// Launch settings and the argument vector of the program to start.
#include "launch_command.h"

#include "platform/profile.h"

#include <algorithm>
#include <cctype>

namespace lumarc::eventmod {
namespace {

constexpr std::string_view kLaunchSection = "Launch";
constexpr std::string_view kUserOption = "/USER";
constexpr size_t kValueCapacity = 261; // 260 characters and the NUL
constexpr uint32_t kScanBit = 0x100;
constexpr uint32_t kSendToBit = 0x400;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Where "/USER" starts in text, in any case; npos when it does not occur.
size_t findUserOption(std::string_view text)
{
    if (text.size() < kUserOption.size())
        return std::string_view::npos;
    for (size_t i = 0; i + kUserOption.size() <= text.size(); ++i) {
        bool same = true;
        for (size_t k = 0; k < kUserOption.size() && same; ++k)
            same = std::toupper(static_cast<unsigned char>(text[i + k])) == kUserOption[k];
        if (same)
            return i;
    }
    return std::string_view::npos;
}

} // namespace

std::optional<std::string> launchKeyPrefix(uint32_t flags)
{
    if ((flags & kScanBit) != 0)
        return "Scan";
    if ((flags & kSendToBit) != 0)
        return "Send" + std::to_string(flags & 0xF);
    return std::nullopt;
}

LaunchSettings readLaunchSettings(const std::filesystem::path& launchFile,
                                  std::string_view prefix)
{
    const platform::Profile file(launchFile);
    const std::string p(prefix);
    const auto read = [&](const char* suffix) {
        char value[kValueCapacity] = {};
        file.readString(kLaunchSection, p + suffix, "", value, sizeof value);
        return std::string(value);
    };
    return LaunchSettings{read("_Apl"), read("_Opt"), read("_Wrk")};
}

std::vector<std::string> splitOptions(std::string_view options)
{
    std::vector<std::string> args;
    std::string current;
    bool inWord = false;
    char quote = 0;
    for (size_t i = 0; i < options.size(); ++i) {
        const char c = options[i];
        if (quote == '\'') {
            if (c == '\'')
                quote = 0;
            else
                current += c;
            continue;
        }
        if (quote == '"') {
            if (c == '"')
                quote = 0;
            else if (c == '\\' && i + 1 < options.size() &&
                     (options[i + 1] == '"' || options[i + 1] == '\\'))
                current += options[++i];
            else
                current += c;
            continue;
        }
        if (isBlank(c)) {
            if (inWord)
                args.push_back(std::move(current));
            current.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'' || c == '"')
            quote = c;
        else if (c == '\\' && i + 1 < options.size())
            current += options[++i];
        else
            current += c;
    }
    if (inWord)
        args.push_back(std::move(current));
    return args;
}

std::optional<LaunchCommand> buildLaunchCommand(const LaunchSettings& settings,
                                                std::string_view userName)
{
    if (settings.program.empty())
        return std::nullopt;
    LaunchCommand command;
    command.argv.push_back(settings.program);
    bool userPlaced = false;
    for (std::string& arg : splitOptions(settings.options)) {
        const size_t at = userPlaced ? std::string::npos : findUserOption(arg);
        if (at != std::string::npos) {
            // The name is data inside this one argument, never split.
            arg = arg.substr(0, at) + std::string(kUserOption) + ":" + std::string(userName) +
                  arg.substr(at + kUserOption.size());
            userPlaced = true;
        }
        command.argv.push_back(std::move(arg));
    }
    command.workingFolder = settings.workingFolder.empty()
                                ? std::filesystem::path(settings.program).parent_path()
                                : std::filesystem::path(settings.workingFolder);
    return command;
}

} // namespace lumarc::eventmod
