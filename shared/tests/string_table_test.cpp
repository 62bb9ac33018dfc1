// String tables: the file format and the lookup by language.
#include "shared/string_table.h"

#include "platform/folders.h"
#include "platform/profile.h"
#include "platform/tests/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace lumarc::shared {
namespace {

const StringTable::Builtin kEnglish = {{1, "One"}, {2, "Two"}, {3, "Three"}};

TEST(StringTableFile, LinesEscapesAndWhatIsSkipped)
{
    const auto table = StringTable::parse("# comment\n"
                                          "1\tEins\n"
                                          "2\tZwei\\nZeilen\\t\\\\ \\\"x\\\" \\x41\\x4a\r\n"
                                          "\n"
                                          "3 no tab\n"
                                          "x4\tbad id\n"
                                          "5\t\n"
                                          "6\ttrailing backslash \\");
    EXPECT_EQ(table.size(), 4u);
    EXPECT_EQ(table.at(1), "Eins");
    EXPECT_EQ(table.at(2), "Zwei\nZeilen\t\\ \"x\" AJ");
    EXPECT_EQ(table.at(5), "");
    EXPECT_EQ(table.at(6), "trailing backslash \\");
}

class StringTableLookup : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_saved = std::getenv("LANG") ? std::getenv("LANG") : "";
        ::unsetenv("LC_ALL");
        ::unsetenv("LC_MESSAGES");
    }
    void TearDown() override { ::setenv("LANG", m_saved.c_str(), 1); }
    void write(const std::string& name, const std::string& content)
    {
        std::ofstream(m_folder.path() / name) << content;
    }

    lumarc::testing::SandboxEnvironment m_sandbox;
    lumarc::testing::TempFolder m_folder;
    std::string m_saved;
};

TEST_F(StringTableLookup, TheLanguageChoosesTheFileAndBuiltInTextsFillTheGaps)
{
    write("Felk0411.strings", "1\tichi\n");
    write("Felk0407.strings", "1\teins\n2\tzwei\n");
    ::setenv("LANG", "ja_JP.UTF-8", 1);
    auto table = StringTable::load("Felk", kEnglish, m_folder.path());
    EXPECT_EQ(table.text(1), "ichi");
    EXPECT_EQ(table.text(2), "Two") << "missing in the file: the built-in text";
    EXPECT_EQ(table.text(9), "");
    EXPECT_EQ(table.source().filename(), "Felk0411.strings");

    ::setenv("LANG", "C", 1);
    table = StringTable::load("Felk", kEnglish, m_folder.path());
    EXPECT_EQ(table.text(1), "One") << "no English file: built in";
    EXPECT_TRUE(table.source().empty());
}

TEST_F(StringTableLookup, PageCodeAndTheSubLanguageMatch)
{
    write("FelkDEU.strings", "1\tEins (page code)\n");
    write("FelkZZ07.strings", "1\teins (sub-language)\n");
    write("Norsi0407.strings", "1\tanother program's\n");
    ::setenv("LANG", "de_AT.UTF-8", 1); // 0C07: no exact file
    EXPECT_EQ(StringTable::load("Felk", kEnglish, m_folder.path()).text(1), "eins (sub-language)");
    ASSERT_TRUE(platform::ensureFolder(platform::windowsFolder()));
    ASSERT_TRUE(platform::Profile(platform::userProfileFile()).writeString("Setting", "PageCode", "DEU"));
    EXPECT_EQ(StringTable::languageCode(), "DEU");
    EXPECT_EQ(StringTable::load("Felk", kEnglish, m_folder.path()).text(1), "Eins (page code)");

    // A program with a profile of its own reads PageCode there, not in the
    // user profile.
    const auto own = platform::windowsFolder() / "tool.ini";
    EXPECT_EQ(StringTable::load("Felk", kEnglish, m_folder.path(), own).text(1),
              "eins (sub-language)");
    ASSERT_TRUE(platform::Profile(own).writeString("Setting", "PageCode", "JPN"));
    write("FelkJPN.strings", "1\tichi\n");
    EXPECT_EQ(StringTable::load("Felk", kEnglish, m_folder.path(), own).text(1), "ichi");
}

} // namespace
} // namespace lumarc::shared
