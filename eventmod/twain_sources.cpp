// Preparing the TWAIN data sources for a scanner model.
#include "twain_sources.h"

#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/profile.h"

#include <charconv>
#include <cstdio>
#include <strings.h>
#include <thread>

namespace lumarc::eventmod {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kModelList = "OrbScanner.id";
constexpr std::string_view kTwainSection = "TWAIN";
// Template and data-source name pattern of each kind.
struct Kind {
    const char* templateName;
    const char* prefix; // the data source is <prefix><nn>99.ds
};
constexpr Kind kKinds[] = {{"Orbtw32.wrp", "Orbtw"}, {"Orbsi32.wrp", "Orbsi"},
                           {"Q4MXTDS1.wrp", "Q4MXT"}};
// A model list is a few hundred short lines.
constexpr size_t kMaxModelList = 1024 * 1024;
constexpr std::chrono::milliseconds kSecondLookPause{100};

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::optional<unsigned> lookUp(std::string_view model)
{
    auto list = platform::readWholeFile(dataSourceFolder() / kModelList, kMaxModelList);
    if (!list)
        return std::nullopt;
    return modelNumber(*list, model);
}

// Whether name is "<prefix>??99.ds".
bool isDataSource(const std::string& name, std::string_view prefix)
{
    return name.size() == prefix.size() + 7 && name.starts_with(prefix) &&
           name.substr(prefix.size() + 2) == "99.ds";
}

std::string dataSourceName(const char* prefix, unsigned number)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s%02u99.ds", prefix, number);
    return name;
}

} // namespace

fs::path dataSourceFolder()
{
    return platform::windowsFolder() / "twain_32" / "orbscan32";
}

std::optional<unsigned> modelNumber(std::string_view modelList, std::string_view model)
{
    while (!modelList.empty()) {
        const size_t end = modelList.find('\n');
        const std::string_view line = modelList.substr(0, end);
        modelList = end == std::string_view::npos ? std::string_view{} : modelList.substr(end + 1);
        if (line.starts_with(';'))
            continue;
        const size_t comma = line.find(',');
        if (comma == std::string_view::npos)
            continue;
        const std::string_view number = trimmed(line.substr(0, comma));
        std::string_view name = line.substr(comma + 1);
        name = trimmed(name.substr(0, name.find(',')));
        if (name.size() != model.size() ||
            ::strncasecmp(name.data(), model.data(), model.size()) != 0)
            continue;
        unsigned value = 0;
        const auto [p, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (ec == std::errc{} && p == number.data() + number.size())
            return value;
    }
    return std::nullopt;
}

bool prepareDataSources(std::string_view model, const std::vector<std::string>& keyNames)
{
    auto number = lookUp(model);
    if (!number) {
        // The list may be in the middle of an update by the driver's setup.
        std::this_thread::sleep_for(kSecondLookPause);
        number = lookUp(model);
    }
    if (!number) {
        platform::debugOutput("Kicklet: scanner model \"" + std::string(model) +
                              "\" is not in the model list; data sources left as they are\n");
        return false;
    }
    const fs::path folder = dataSourceFolder();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        for (const Kind& kind : kKinds)
            if (isDataSource(name, kind.prefix))
                fs::remove(entry.path(), ec);
    }
    bool ok = true;
    for (size_t i = 0; i < std::size(kKinds); ++i) {
        const fs::path target = folder / dataSourceName(kKinds[i].prefix, *number);
        // An existing data source is not overwritten.
        fs::copy_file(folder / kKinds[i].templateName, target, fs::copy_options::skip_existing,
                      ec);
        if (ec) {
            platform::debugOutput("Kicklet: " + target.string() + ": " + ec.message() + "\n");
            ok = false;
        }
        if (i == 0) {
            platform::Profile winIni(platform::userProfileFile());
            for (const std::string& key : keyNames)
                if (!winIni.writeString(kTwainSection, key, target.string()))
                    return false;
        }
    }
    return ok;
}

} // namespace lumarc::eventmod
