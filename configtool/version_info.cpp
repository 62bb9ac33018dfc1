// Reading the version notes and building the version list.
#include "version_info.h"

#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/profile.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

namespace lumarc::configtool {
namespace {

constexpr size_t kElfHeaderSize = 64; // the 64-bit header; a 32-bit one is shorter
constexpr uint32_t kPtNote = 4;
constexpr size_t kMaxProgramHeaders = 128;
constexpr uint64_t kMaxNoteSegment = 16 * 1024;
constexpr size_t kSorbelCapacity = 260;

// Reads unsigned numbers of 2, 4 or 8 bytes in the file's byte order from a
// buffer whose bounds the caller has checked.
class ElfBytes {
public:
    explicit ElfBytes(bool bigEndian) : m_bigEndian(bigEndian) {}
    uint64_t read(std::span<const uint8_t> bytes, size_t offset, size_t width) const
    {
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) {
            const uint8_t byte = bytes[offset + (m_bigEndian ? i : width - 1 - i)];
            value = value << 8 | byte;
        }
        return value;
    }

private:
    bool m_bigEndian;
};

size_t alignUp(size_t value, size_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

// The version in one note segment, when it holds ours.
std::optional<std::array<uint16_t, 4>> findNote(std::span<const uint8_t> segment,
                                                const ElfBytes& elf, size_t alignment)
{
    size_t at = 0;
    // The padding after the last note may run past the segment's end.
    while (at <= segment.size() && segment.size() - at >= 12) {
        const uint64_t nameSize = elf.read(segment, at, 4);
        const uint64_t descSize = elf.read(segment, at + 4, 4);
        const uint64_t type = elf.read(segment, at + 8, 4);
        const size_t nameAt = at + 12;
        if (nameSize > segment.size() - nameAt)
            return std::nullopt;
        const size_t descAt = nameAt + alignUp(static_cast<size_t>(nameSize), alignment);
        if (descAt > segment.size() || descSize > segment.size() - descAt)
            return std::nullopt;
        const auto name = segment.subspan(nameAt, static_cast<size_t>(nameSize));
        const bool ours = nameSize == kVersionNoteOwner.size() + 1 && name.back() == 0 &&
                          std::equal(kVersionNoteOwner.begin(), kVersionNoteOwner.end(),
                                     name.begin());
        if (ours && type == kVersionNoteType && descSize >= 8) {
            std::array<uint16_t, 4> parts{};
            for (size_t i = 0; i < parts.size(); ++i)
                parts[i] = static_cast<uint16_t>(elf.read(segment, descAt + 2 * i, 2));
            return parts;
        }
        at = descAt + alignUp(static_cast<size_t>(descSize), alignment);
    }
    return std::nullopt;
}

std::optional<std::array<uint16_t, 4>> versionNote(const platform::FileReader& file)
{
    uint8_t header[kElfHeaderSize] = {};
    const auto got = file.readAt(0, header);
    if (!got || *got < 52 || std::memcmp(header, "\x7F" "ELF", 4) != 0)
        return std::nullopt;
    const bool wide = header[4] == 2;
    if ((header[4] != 1 && !wide) || (header[5] != 1 && header[5] != 2))
        return std::nullopt;
    if (wide && *got < kElfHeaderSize)
        return std::nullopt;
    const ElfBytes elf(header[5] == 2);
    const std::span<const uint8_t> head(header, *got);
    const uint64_t tableAt = wide ? elf.read(head, 32, 8) : elf.read(head, 28, 4);
    const uint64_t entrySize = wide ? elf.read(head, 54, 2) : elf.read(head, 42, 2);
    const uint64_t entries = wide ? elf.read(head, 56, 2) : elf.read(head, 44, 2);
    const uint64_t minimumEntry = wide ? 56 : 32;
    if (entries == 0 || entries > kMaxProgramHeaders || entrySize < minimumEntry ||
        entrySize > 256)
        return std::nullopt;

    std::vector<uint8_t> table(static_cast<size_t>(entries * entrySize));
    const auto tableGot = file.readAt(tableAt, table);
    if (!tableGot || *tableGot != table.size())
        return std::nullopt;
    for (uint64_t i = 0; i < entries; ++i) {
        const size_t entry = static_cast<size_t>(i * entrySize);
        if (elf.read(table, entry, 4) != kPtNote)
            continue;
        const uint64_t offset = wide ? elf.read(table, entry + 8, 8) : elf.read(table, entry + 4, 4);
        const uint64_t size = wide ? elf.read(table, entry + 32, 8) : elf.read(table, entry + 16, 4);
        const uint64_t align = wide ? elf.read(table, entry + 48, 8) : elf.read(table, entry + 28, 4);
        if (size == 0 || size > kMaxNoteSegment)
            continue;
        std::vector<uint8_t> segment(static_cast<size_t>(size));
        const auto segmentGot = file.readAt(offset, segment);
        if (!segmentGot || *segmentGot != segment.size())
            continue;
        if (auto parts = findNote(segment, elf, align == 8 ? 8 : 4))
            return parts;
    }
    return std::nullopt;
}

// A library where the run path looks: beside the program, then in the
// library folder of an installed copy and its private "lumarc" folder (the
// platform library). The unversioned name is a development link that a
// user's installation may lack, so the versioned file counts too.
std::filesystem::path libraryFile(const VersionFolders& folders, const std::string& name)
{
    std::error_code ec;
    const std::filesystem::path places[] = {folders.program, folders.libraries,
                                            folders.libraries / "lumarc"};
    for (const auto& folder : places)
        for (const auto& file : {name, name + ".1"})
            if (std::filesystem::exists(folder / file, ec))
                return folder / file;
    return folders.libraries / name;
}

// The files of folder whose names begin with prefix and end with suffix,
// in name order.
std::vector<std::string> matching(const std::filesystem::path& folder, const std::string& prefix,
                                  const std::string& suffix)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() >= prefix.size() + suffix.size() && name.starts_with(prefix) &&
            name.ends_with(suffix) && entry.is_regular_file(ec))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::string FileVersion::text(const Texts& texts) const
{
    switch (state) {
    case State::NotFound:
        return texts(sid::kVersionNotFound);
    case State::Unknown:
        return texts(sid::kVersionUnknown);
    case State::Known:
        break;
    }
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
           std::to_string(parts[2]) + "." + std::to_string(parts[3]);
}

FileVersion readFileVersion(const std::filesystem::path& path)
{
    auto file = platform::FileReader::open(path);
    if (!file)
        return {file.error().code == 2 || file.error().code == 3 ? FileVersion::State::NotFound
                                                                 : FileVersion::State::Unknown,
                {}};
    if (auto parts = versionNote(*file))
        return {FileVersion::State::Known, *parts};
    return {FileVersion::State::Unknown, {}};
}

VersionFolders VersionFolders::ofThisProgram()
{
    const auto program = platform::programFolder();
    return {program, program.parent_path() / LUMARC_INSTALL_LIBDIR, platform::windowsFolder()};
}

std::vector<VersionRow> versionRows(const VersionFolders& folders, const Texts& texts)
{
    std::vector<VersionRow> rows;
    const auto add = [&](const std::string& name, const std::filesystem::path& path) {
        rows.push_back({name, readFileVersion(path).text(texts)});
    };
    for (const char* program : {"unitdesk", "gaugery", "kicklet"})
        add(program, folders.program / program);
    for (const char* library : {"libzorvan.so", "liblumarcplatform.so"})
        add(library, libraryFile(folders, library));
    for (const char* prefix : {"Brask", "Tindle", "Felk", "Marrow"})
        for (const auto& name : matching(folders.program, prefix, ".strings"))
            add(name, folders.program / name);
    for (const char* library : {"libdrovik32.so", "libquentysti.so"})
        add(library, libraryFile(folders, library));
    for (const char* windowsFile : {"TWAIN.DLL", "TWAIN_32.DLL", "TWUNK_16.EXE", "TWUNK_32.EXE"})
        add(windowsFile, folders.windows / windowsFile);
    return rows;
}

std::string versionCaption(const VersionFolders& folders, const Texts& texts)
{
    std::string version =
        platform::Profile(folders.program / "Sorbel.ini").readString("Version", "MainVersion", "");
    if (version.size() > kSorbelCapacity - 1)
        version.resize(kSorbelCapacity - 1);
    if (version.empty())
        version = readFileVersion(folders.program / "unitdesk").text(texts);
    return texts(sid::kProgramTitle) + " " + texts(sid::kVersionWord) + " " + version;
}

} // namespace lumarc::configtool
