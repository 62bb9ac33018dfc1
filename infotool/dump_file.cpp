// Writing the EEPROM dump file.
#include "dump_file.h"

#include "platform/folders.h"

#include <algorithm>
#include <fstream>

namespace lumarc::infotool {
namespace {

constexpr size_t kProductAt = 16;
constexpr size_t kProductLength = 16;

void putLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

std::string dumpName(std::span<const uint8_t, kInquiryLength> inquiry)
{
    std::string name(reinterpret_cast<const char*>(inquiry.data()) + kProductAt, kProductLength);
    // The first character always stays.
    while (name.size() > 1 && (name.back() == ' ' || name.back() == '\0'))
        name.pop_back();
    if (const size_t nul = name.find('\0'); nul != std::string::npos && nul > 0)
        name.resize(nul);
    return name;
}

std::filesystem::path dumpPath(std::span<const uint8_t, kInquiryLength> inquiry)
{
    return platform::windowsFolder() / "twain_32" / "orbscan32" / "DUMP" /
           ("EEP" + dumpName(inquiry) + ".bin");
}

std::vector<uint8_t> dumpBytes(std::time_t written, const EepromImage& image,
                               const ScannerData& data)
{
    std::vector<uint8_t> bytes(kDumpFileSize, 0);
    putLe32(bytes, 0, static_cast<uint32_t>(written));
    putLe32(bytes, 16, kEepromLength);
    putLe32(bytes, 48, kVpdLength);
    std::copy(image.begin(), image.end(), bytes.begin() + 256);
    std::copy(data.inquiry.begin(), data.inquiry.end(), bytes.begin() + 1280);
    std::copy(data.vpd.begin(), data.vpd.end(), bytes.begin() + 1536);
    return bytes;
}

bool writeDumpFile(const EepromImage& image, const ScannerData& data)
{
    const auto path = dumpPath(data.inquiry);
    std::error_code ec;
    if (!std::filesystem::is_directory(path.parent_path(), ec))
        return false;
    const auto bytes = dumpBytes(std::time(nullptr), image, data);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file)
        return false;
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

} // namespace lumarc::infotool
