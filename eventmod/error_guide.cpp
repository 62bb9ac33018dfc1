// Error codes and error-guide files.
#include "error_guide.h"

#include "platform/profile.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace lumarc::eventmod {
namespace {

constexpr size_t kTextCapacity = 260;

bool oneOf(uint8_t b, std::initializer_list<uint8_t> values)
{
    return std::find(values.begin(), values.end(), b) != values.end();
}

} // namespace

std::optional<uint32_t> errorCode(uintptr_t descriptor, std::span<const uint8_t> data)
{
    if (descriptor != kErrorReportDescriptor || data.size() != kErrorReportSize)
        return std::nullopt;
    const uint8_t b0 = data[20], b1 = data[21], b2 = data[22], b3 = data[23];
    if ((b0 == 2 || b0 == 6) && b1 == 0 && b2 == 0)
        return std::nullopt;
    if (b0 == 3 && b1 == 0x80 && (b2 == 0x13 || b2 == 0x03))
        return std::nullopt;
    const uint32_t code = (static_cast<uint32_t>(b0 & 0x7F) << 16) | (b1 << 8) | b2;
    if (code == 0)
        return std::nullopt;
    // Some codes are told apart by b3, which then becomes the top byte.
    const bool refined =
        (code == 0x038001 && oneOf(b3, {0x39, 0x5A})) || (code == 0x038002 && b3 == 0x4A) ||
        (code == 0x044400 &&
         oneOf(b3, {0x02, 0x03, 0x92, 0x93, 0x94, 0xE4, 0xE5, 0xE6, 0xE9, 0xEA, 0xF0})) ||
        (code == 0x048005 && oneOf(b3, {0x87, 0x10})) ||
        (code == 0x048006 && oneOf(b3, {0x72, 0x73, 0x74, 0x75, 0x7E}));
    return refined ? code | (static_cast<uint32_t>(b3) << 24) : code;
}

std::filesystem::path errorGuideFile(const std::filesystem::path& folder,
                                     const std::string& languageId)
{
    namespace fs = std::filesystem;
    if (languageId == "0409")
        return folder / "KEMRGUID.ini";
    const fs::path exact = folder / ("KEMR" + languageId + ".ini");
    std::error_code ec;
    if (fs::is_regular_file(exact, ec))
        return exact;
    if (languageId.size() > 2) {
        const std::string tail = languageId.substr(2) + ".ini";
        std::vector<fs::path> matches;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.size() >= 4 + tail.size() && name.starts_with("KEMR") && name.ends_with(tail))
                matches.push_back(entry.path());
        }
        if (!matches.empty())
            return *std::min_element(matches.begin(), matches.end());
    }
    return folder / "KEMRGUID.ini";
}

std::filesystem::path chooseErrorGuideFile(const std::optional<std::filesystem::path>& registered,
                                           const std::filesystem::path& ownFolder,
                                           const std::string& languageId)
{
    std::error_code ec;
    if (registered) {
        const auto file = errorGuideFile(*registered, languageId);
        if (std::filesystem::is_regular_file(file, ec))
            return file;
    }
    return errorGuideFile(ownFolder, languageId);
}

std::string errorGuideText(const std::filesystem::path& file, uint32_t code)
{
    char key[9];
    std::snprintf(key, sizeof key, "%08x", code);
    char text[kTextCapacity] = {};
    platform::Profile(file).readString("ErType", key, "", text, sizeof text);
    return text;
}

} // namespace lumarc::eventmod
