// The version page and the Version Information dialog: the version each
// program and library of the system carries, read from the file itself.
//
// Every program and shared library of the project is built with an ELF
// note (cmake/LumarcTargets.cmake, lumarc_version_note): owner "Lumarc",
// type 1, four 16-bit numbers major.minor.patch.tweak in the file's byte
// order. The reader looks for it in the PT_NOTE segments, which lie near
// the start of the file and survive stripping, and reads at most a few
// kilobytes whatever the file claims.
#pragma once

#include "texts.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace lumarc::configtool {

constexpr std::string_view kVersionNoteOwner = "Lumarc";
constexpr uint32_t kVersionNoteType = 1;

struct FileVersion {
    enum class State {
        NotFound, // no such file
        Unknown,  // a file without a readable version note
        Known,
    };
    State state = State::NotFound;
    std::array<uint16_t, 4> parts{};

    // "1.2.3.4", "Not found" or "Unknown version".
    std::string text(const Texts& texts) const;
};

FileVersion readFileVersion(const std::filesystem::path& file);

// Where the files of the version list are looked for.
struct VersionFolders {
    std::filesystem::path program;   // the tool's own folder
    std::filesystem::path libraries; // where an installed copy keeps its libraries
    std::filesystem::path windows;   // the "Windows directory"
    static VersionFolders ofThisProgram();
};

struct VersionRow {
    std::string file;
    std::string version;
};

// The rows of the Version Information dialog, in its order: the programs
// and the management library, the string tables, the transport and the
// still-image server, and the files of the TWAIN installation that a
// Windows system has and this one does not.
std::vector<VersionRow> versionRows(const VersionFolders& folders, const Texts& texts);

// "Lumarc Configuration Tool Version v": v is [Version] MainVersion of
// Sorbel.ini in the program folder, else the version of the tool's file.
std::string versionCaption(const VersionFolders& folders, const Texts& texts);

} // namespace lumarc::configtool
