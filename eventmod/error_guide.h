// Scanner error texts for a unit's panel.
//
// A scanning program that meets a scanner error sends the event module a
// data copy of 288 bytes with descriptor 0x44444444; bytes 20 to 23 hold
// the error's code bytes b0 to b3. They map to a key "%08x" of section
// [ErType] in an error-guide file, whose value is the text the unit shows.
// The files are found in the folder named by the registry (HKEY_LOCAL_MACHINE
// "SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\KemrGuid.exe", value
// "Path"), else in the event module's own folder: "KEMRGUID.ini" for
// English, "KEMR<language id>.ini", or the first "KEMR*<sub-language>.ini".
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace lumarc::eventmod {

constexpr uint32_t kErrorReportDescriptor = 0x44444444;
constexpr size_t kErrorReportSize = 288;

// The error code of a report; nullopt for a report of another size or
// descriptor, and for codes that carry no text.
std::optional<uint32_t> errorCode(uintptr_t descriptor, std::span<const uint8_t> data);

// The error-guide file in folder for the language id ("0411"); the file may
// not exist.
std::filesystem::path errorGuideFile(const std::filesystem::path& folder,
                                     const std::string& languageId);

// The file to read: in the registry's folder, else in ownFolder.
std::filesystem::path chooseErrorGuideFile(const std::optional<std::filesystem::path>& registered,
                                           const std::filesystem::path& ownFolder,
                                           const std::string& languageId);

// The panel text for a report ("" when there is none).
std::string errorGuideText(const std::filesystem::path& file, uint32_t code);

} // namespace lumarc::eventmod
