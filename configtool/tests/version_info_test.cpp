// The version notes read from the project's own built files, from damaged
// copies of them at every length, and the version page's list and caption.
#include "configtool/version_info.h"

#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/tests/temp_folder.h"
#include "shared/version.h"

#include <gtest/gtest.h>

#include <fstream>

namespace lumarc::configtool {
namespace {

namespace fs = std::filesystem;

std::string projectVersion()
{
    std::string version(shared::kVersion);
    // Four numbers, as the note holds them.
    while (std::count(version.begin(), version.end(), '.') < 3)
        version += ".0";
    return version;
}

void write(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(VersionNote, EveryProgramAndLibraryOfTheProjectCarriesTheVersion)
{
    const Texts texts;
    const fs::path bin = platform::programFolder();
    for (const char* file : {"unitdesk", "gaugery", "kicklet", "lumarc", "lumarc-ini",
                             "lumarc-scan", "lumarc-regsvr", "lumarc-unitsim", "libzorvan.so",
                             "libdrovik32.so", "libquentysti.so", "liblumarcplatform.so",
                             "libsane-lumarc.so"}) {
        const FileVersion version = readFileVersion(bin / file);
        EXPECT_EQ(version.state, FileVersion::State::Known) << file;
        EXPECT_EQ(version.text(texts), projectVersion()) << file;
    }
    EXPECT_EQ(readFileVersion(bin / "no-such-file").text(texts), "Not found");
    // A test program is not part of what is shipped and carries none.
    EXPECT_EQ(readFileVersion("/proc/self/exe").text(texts), "Unknown version");
}

TEST(VersionNote, DamagedAndForeignFilesReadAsUnknownWithoutReadingPastTheirEnd)
{
    lumarc::testing::TempFolder folder;
    const auto program = platform::readWholeFile(platform::programFolder() / "libzorvan.so");
    ASSERT_TRUE(program);
    // Every cut through the headers and the note, and a few beyond.
    for (size_t length = 0; length < 1024; ++length) {
        write(folder / "cut", program->substr(0, length));
        const FileVersion version = readFileVersion(folder / "cut");
        EXPECT_NE(version.state, FileVersion::State::NotFound) << length;
        if (version.state == FileVersion::State::Known) {
            EXPECT_EQ(version.parts[1], 1) << length; // only whole notes are read
        }
    }
    // Header fields that point anywhere.
    struct Patch {
        size_t at;
        std::string bytes;
    };
    const Patch patches[] = {
        {32, std::string("\xff\xff\xff\xff\xff\xff\xff\x7f", 8)}, // program headers far away
        {56, std::string("\xff\xff", 2)},                         // 65535 of them
        {54, std::string("\x01\x00", 2)},                         // entries of one byte
        {4, std::string("\x03", 1)},                              // no class
        {5, std::string("\x02", 1)},                              // the other byte order
    };
    for (const Patch& patch : patches) {
        std::string damaged = *program;
        damaged.replace(patch.at, patch.bytes.size(), patch.bytes);
        write(folder / "damaged", damaged);
        EXPECT_EQ(readFileVersion(folder / "damaged").state, FileVersion::State::Unknown)
            << patch.at;
    }
    write(folder / "text", "#!/bin/sh\necho hello\n");
    EXPECT_EQ(readFileVersion(folder / "text").state, FileVersion::State::Unknown);
    EXPECT_EQ(readFileVersion(folder.path()).state, FileVersion::State::Unknown) << "a folder";
}

// A file of one program header and one note segment, in either class and
// byte order.
std::string elfWithNotes(bool wide, bool bigEndian, const std::string& notes)
{
    std::string file(wide ? 64 : 52, '\0');
    const auto put = [&](std::string& to, size_t at, uint64_t value, size_t width) {
        for (size_t i = 0; i < width; ++i)
            to[at + (bigEndian ? width - 1 - i : i)] = static_cast<char>(value >> (8 * i));
    };
    file.replace(0, 4, "\x7F" "ELF");
    file[4] = wide ? 2 : 1;
    file[5] = bigEndian ? 2 : 1;
    const size_t headers = file.size();
    const size_t entry = wide ? 56 : 32;
    put(file, wide ? 32 : 28, headers, wide ? 8 : 4);
    put(file, wide ? 54 : 42, entry, 2);
    put(file, wide ? 56 : 44, 1, 2);
    std::string header(entry, '\0');
    put(header, 0, 4, 4); // PT_NOTE
    put(header, wide ? 8 : 4, headers + entry, wide ? 8 : 4);
    put(header, wide ? 32 : 16, notes.size(), wide ? 8 : 4);
    put(header, wide ? 48 : 28, 4, wide ? 8 : 4);
    return file + header + notes;
}

std::string note(bool bigEndian, const std::string& owner, uint32_t type, const std::string& desc)
{
    std::string out;
    const auto word = [&](uint32_t value) {
        for (int i = 0; i < 4; ++i)
            out += static_cast<char>(value >> (8 * (bigEndian ? 3 - i : i)));
    };
    word(static_cast<uint32_t>(owner.size() + 1));
    word(static_cast<uint32_t>(desc.size()));
    word(type);
    out += owner + '\0';
    out.resize((out.size() + 3) / 4 * 4, '\0');
    out += desc;
    return out;
}

TEST(VersionNote, EitherClassAndByteOrderAndNotesThatRunOut)
{
    lumarc::testing::TempFolder folder;
    const Texts texts;
    struct Case {
        bool wide, bigEndian;
        std::string desc;
    };
    for (const Case& c : {Case{true, false, std::string("\x02\x00\x07\x00\x01\x00\x09\x00", 8)},
                          Case{false, true, std::string("\x00\x02\x00\x07\x00\x01\x00\x09", 8)}}) {
        // A foreign note first, then ours.
        const std::string notes = note(c.bigEndian, "GNU", 3, "abcd") +
                                  note(c.bigEndian, "Lumarc", 1, c.desc);
        write(folder / "elf", elfWithNotes(c.wide, c.bigEndian, notes));
        EXPECT_EQ(readFileVersion(folder / "elf").text(texts), "2.7.1.9") << c.wide;
    }
    // A last note whose padding would run past the segment, and notes
    // whose sizes point outside it.
    for (const std::string& notes :
         {note(false, "Foreign", 9, "x"), note(false, "Lumarc", 1, "1234567").substr(0, 27),
          std::string("\x07\x00\x00\x00\xff\xff\xff\xff\x01\x00\x00\x00Lumarc\x00\x00", 20),
          std::string("\xff\xff\xff\x7f\x08\x00\x00\x00\x01\x00\x00\x00", 12)}) {
        write(folder / "elf", elfWithNotes(true, false, notes));
        EXPECT_EQ(readFileVersion(folder / "elf").state, FileVersion::State::Unknown);
    }
}

TEST(VersionPage, RowsMapTheSystemsFilesToOursAndTheCaptionPrefersSorbel)
{
    const Texts texts;
    lumarc::testing::TempFolder folder;
    fs::create_directories(folder / "bin");
    fs::create_directories(folder / "lib");
    const fs::path bin = platform::programFolder();
    for (const char* file : {"unitdesk", "kicklet"})
        fs::copy_file(bin / file, folder / "bin" / file);
    fs::copy_file(bin / "libzorvan.so", folder / "lib" / "libzorvan.so");
    // An installed copy: only the versioned name, the platform library in
    // its private folder.
    fs::create_directories(folder / "lib" / "lumarc");
    fs::copy_file(bin / "libdrovik32.so", folder / "lib" / "libdrovik32.so.1");
    fs::copy_file(bin / "liblumarcplatform.so",
                  folder / "lib" / "lumarc" / "liblumarcplatform.so.1");
    write(folder / "bin" / "Felk0411.strings", "1\tichi\n");
    write(folder / "bin" / "Felk0407.strings", "1\teins\n");
    const VersionFolders folders{folder / "bin", folder / "lib", folder / "windows"};

    std::vector<std::pair<std::string, std::string>> rows;
    for (const VersionRow& row : versionRows(folders, texts))
        rows.push_back({row.file, row.version});
    const std::string v = projectVersion();
    EXPECT_EQ(rows, (std::vector<std::pair<std::string, std::string>>{
                        {"unitdesk", v},
                        {"gaugery", "Not found"},
                        {"kicklet", v},
                        {"libzorvan.so", v},
                        {"liblumarcplatform.so", v},
                        {"Felk0407.strings", "Unknown version"},
                        {"Felk0411.strings", "Unknown version"},
                        {"libdrovik32.so", v},
                        {"libquentysti.so", "Not found"},
                        {"TWAIN.DLL", "Not found"},
                        {"TWAIN_32.DLL", "Not found"},
                        {"TWUNK_16.EXE", "Not found"},
                        {"TWUNK_32.EXE", "Not found"},
                    }));

    EXPECT_EQ(versionCaption(folders, texts), "Lumarc Configuration Tool Version " + v);
    write(folder / "bin" / "Sorbel.ini", "[Version]\nMainVersion=2.4 build 17\n");
    EXPECT_EQ(versionCaption(folders, texts), "Lumarc Configuration Tool Version 2.4 build 17");
}

TEST(Texts, CodesAndTextsGoIntoTheirPlaces)
{
    struct Case {
        std::string format;
        uint32_t code;
        std::string expected;
    };
    const Case cases[] = {
        {"Error code = 0x%08X", 0x84, "Error code = 0x00000084"},
        {"Error code = %08x", 0x80000004, "Error code = 80000004"},
        {"%X and %d", 255, "FF and %d"}, // one code only
        {"100%% done: %u", 7, "100% done: 7"},
        {"%s stays", 1, "%s stays"},
        {"%08", 1, "%08"},
        {"trailing %", 1, "trailing %"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(insertCode(c.format, c.code), c.expected) << c.format;
    EXPECT_EQ(insertTexts("fill %1 and %2, %3 and 100%%", {"a", "b"}), "fill a and b, %3 and 100%");
}

} // namespace
} // namespace lumarc::configtool
