// Reading rules and edits of the ini document, from tables of cases.
#include "platform/ini_document.h"

#include <gtest/gtest.h>

namespace lumarc::platform {
namespace {

struct ReadCase {
    const char* what;
    std::string file;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
};

void PrintTo(const ReadCase& c, std::ostream* os)
{
    *os << c.what;
}

class IniRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniRead, FindsTheValueAReaderExpects)
{
    const ReadCase& c = GetParam();
    EXPECT_EQ(IniDocument::parse(c.file).value(c.section, c.key), c.expected) << c.what;
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Rules, IniRead,
    ::testing::Values(
        ReadCase{"plain", "[Common]\nTotal=3\n", "Common", "Total", "3"},
        ReadCase{"names ignore case", "[common]\ntotal=3\n", "COMMON", "TOTAL", "3"},
        ReadCase{"blanks around names and values", " [ Common ] \n\t Total \t=\t 3 \t\n",
                 " Common ", " Total", "3"},
        ReadCase{"split at the first =", "[s]\nk=a=b\n", "s", "k", "a=b"},
        ReadCase{"first duplicate key wins", "[s]\nk=1\nk=2\n", "s", "k", "1"},
        ReadCase{"repeated section is not merged", "[s]\na=1\n[s]\nb=2\n", "s", "b",
                 std::nullopt},
        ReadCase{"double quotes removed", "[s]\nk=\"a b\"\n", "s", "k", "a b"},
        ReadCase{"single quotes removed", "[s]\nk=' a '\n", "s", "k", " a "},
        ReadCase{"unmatched quotes kept", "[s]\nk=\"a'\n", "s", "k", "\"a'"},
        ReadCase{"a lone quote kept", "[s]\nk=\"\n", "s", "k", "\""},
        ReadCase{"only one pair removed", "[s]\nk=\"\"a\"\"\n", "s", "k", "\"a\""},
        ReadCase{"empty value is empty, not missing", "[s]\nk=\n", "s", "k", ""},
        ReadCase{"missing key", "[s]\nk=1\n", "s", "x", std::nullopt},
        ReadCase{"missing section", "[s]\nk=1\n", "t", "k", std::nullopt},
        ReadCase{"comment lines skipped", "[s]\n;k=1\nk=2\n", "s", "k", "2"},
        ReadCase{"# is not a comment", "[s]\n#k=1\n", "s", "#k", "1"},
        ReadCase{"keys before the first section", "k=0\n[s]\nk=1\n", "", "k", "0"},
        ReadCase{"text after ] ignored", "[s] trailing\nk=1\n", "s", "k", "1"},
        ReadCase{"[name without ] is not a section", "[s]\n[t\nk=1\n", "s", "k", "1"},
        ReadCase{"CRLF lines", "[s]\r\nk=1\r\nj=2\r\n", "s", "j", "2"},
        ReadCase{"lone CR lines", "[s]\rk=1\rj=2\r", "s", "j", "2"},
        ReadCase{"no trailing line break", "[s]\nk=1", "s", "k", "1"},
        ReadCase{"NUL ends a value", "[s]\nk=ab\0cd\n"s, "s", "k", "ab"},
        ReadCase{"line without = is no key", "[s]\nk\nk=1\n", "s", "k", "1"},
        ReadCase{"key lines end at the next section", "[s]\n[t]\nk=1\n", "s", "k",
                 std::nullopt},
        ReadCase{"long line", "[s]\nk=" + std::string(100000, 'x') + "\n", "s", "k",
                 std::string(100000, 'x')},
        ReadCase{"binary junk around keys", "\x01\xff\xfe junk\n[s]\n\x7f\x80=\n\xc3\x28\nk=1\n",
                 "s", "k", "1"},
        ReadCase{"byte-order mark before the first section", "\xEF\xBB\xBF[s]\nk=1\n", "s", "k",
                 "1"},
        ReadCase{"byte-order mark before a key of section \"\"", "\xEF\xBB\xBFk=1\n[s]\n", "", "k",
                 "1"},
        ReadCase{"byte-order mark before a CRLF line", "\xEF\xBB\xBF\r\n[s]\r\nk=1\r\n", "s", "k",
                 "1"},
        ReadCase{"byte-order mark later in the file is text", "[s]\n\xEF\xBB\xBFk=1\n", "s", "k",
                 std::nullopt},
        ReadCase{"half a byte-order mark is text", "\xEF\xBB[s]\nk=1\n", "s", "k", std::nullopt},
        ReadCase{"section name ends at the last ]", "[a[b]]\nk=1\n", "a[b]", "k", "1"},
        ReadCase{"section name up to the last ] is not its prefix", "[a[b]]\nk=1\n", "a[b", "k",
                 std::nullopt},
        ReadCase{"] inside a section name", "[a]b] x\nk=1\n", "a]b", "k", "1"},
        ReadCase{"blanks inside the last ] trimmed", "[ a[b] ]\nk=1\n", "a[b]", "k", "1"}));

TEST(IniRead, SectionNamesSkipTheByteOrderMarkAndEndAtTheLastBracket)
{
    const IniDocument doc = IniDocument::parse("\xEF\xBB\xBF[first]\r\n[a[b]]\r\n[c] ]\r\n");
    EXPECT_EQ(doc.sectionNames(), (std::vector<std::string>{"first", "a[b]", "c]"}));
}

TEST(IniEdit, NewSectionGoesAtTheEndAndNewKeyAfterTheSectionsLastLine)
{
    IniDocument doc = IniDocument::parse("[a]\nx=1\n\n[b]\ny=2\n");
    EXPECT_TRUE(doc.setValue("a", "z", "3"));
    EXPECT_TRUE(doc.setValue("c", "w", "4"));
    EXPECT_EQ(doc.serialize(), "[a]\nx=1\nz=3\n\n[b]\ny=2\n[c]\nw=4\n");
}

TEST(IniEdit, ReplacingKeepsTheFilesSpellingAndEveryOtherByte)
{
    const std::string rest = "; keep me\r\n\x01junk\r\n";
    IniDocument doc = IniDocument::parse("[Common]\r\n  TrgPort = 1 \r\n" + rest);
    EXPECT_TRUE(doc.setValue("COMMON", "trgport", "2000"));
    EXPECT_EQ(doc.serialize(), "[Common]\r\nTrgPort=2000\r\n" + rest);
    EXPECT_FALSE(doc.setValue("common", "TRGPORT", "2000")) << "same value is no change";
}

TEST(IniEdit, NewLinesFollowTheFilesLineBreaks)
{
    IniDocument doc = IniDocument::parse("[a]\r\nx=1");
    doc.setValue("a", "y", "2");
    EXPECT_EQ(doc.serialize(), "[a]\r\nx=1\r\ny=2\r\n");
    IniDocument empty;
    empty.setValue("s", "k", "v");
    EXPECT_EQ(empty.serialize(), "[s]\nk=v\n");
}

TEST(IniEdit, RemovingAKeyOrSectionTouchesNothingElse)
{
    IniDocument doc = IniDocument::parse("[a]\nx=1\ny=2\n[b]\nz=3\n[c]\n");
    EXPECT_TRUE(doc.removeKey("a", "X"));
    EXPECT_FALSE(doc.removeKey("a", "missing"));
    EXPECT_FALSE(doc.removeKey("missing", "x"));
    EXPECT_TRUE(doc.eraseSection("b"));
    EXPECT_FALSE(doc.eraseSection("b"));
    EXPECT_EQ(doc.serialize(), "[a]\ny=2\n[c]\n");
}

TEST(IniEdit, ErasingARepeatedSectionUncoversTheNextOne)
{
    IniDocument doc = IniDocument::parse("[s]\nk=1\n[s]\nk=2\n");
    doc.eraseSection("s");
    EXPECT_EQ(doc.value("s", "k"), "2");
}

TEST(IniEdit, WholeSectionIsReplacedInPlace)
{
    IniDocument doc = IniDocument::parse("[1]\nIP=a\nAuto=1\n\n[2]\nIP=b\n");
    EXPECT_TRUE(doc.replaceSection("1", {{"IP", "b"}, {"Status", "0"}}));
    EXPECT_EQ(doc.serialize(), "[1]\nIP=b\nStatus=0\n\n[2]\nIP=b\n");
    EXPECT_TRUE(doc.replaceSection("3", {{"IP", "c"}}));
    EXPECT_EQ(doc.section("3"), (std::vector<ProfileEntry>{{"IP", "c"}}));
    EXPECT_TRUE(doc.replaceSection("2", {}));
    EXPECT_EQ(doc.section("2"), std::vector<ProfileEntry>{});
}

TEST(IniEdit, SectionReadKeepsQuotesSoItWritesBackUnchanged)
{
    IniDocument doc = IniDocument::parse("[s]\n a = \"x y\" \n;c\nb=2\n");
    const auto entries = doc.section("S");
    ASSERT_TRUE(entries);
    EXPECT_EQ(*entries, (std::vector<ProfileEntry>{{"a", "\"x y\""}, {"b", "2"}}));
    doc.replaceSection("t", *entries);
    EXPECT_EQ(doc.value("t", "a"), "x y");
}

TEST(IniEdit, KeysBeforeTheFirstSectionAreSectionEmptyName)
{
    IniDocument doc = IniDocument::parse("k=0\n[s]\nk=1\n");
    EXPECT_EQ(doc.sectionNames(), (std::vector<std::string>{"", "s"}));
    doc.setValue("", "j", "2");
    EXPECT_EQ(doc.serialize(), "k=0\nj=2\n[s]\nk=1\n");
    doc.eraseSection("");
    EXPECT_EQ(doc.serialize(), "[s]\nk=1\n");
}

TEST(IniEdit, TheByteOrderMarkStaysInFrontOfTheRewrittenFile)
{
    const std::string bom = "\xEF\xBB\xBF";
    IniDocument doc = IniDocument::parse(bom + "[s]\r\nk=1\r\n");
    EXPECT_TRUE(doc.setValue("S", "k", "2"));
    EXPECT_TRUE(doc.setValue("s", "j", "3"));
    EXPECT_EQ(doc.serialize(), bom + "[s]\r\nk=2\r\nj=3\r\n");
    EXPECT_TRUE(doc.eraseSection("s"));
    EXPECT_EQ(doc.serialize(), bom);
    EXPECT_TRUE(doc.setValue("t", "k", "v"));
    EXPECT_EQ(doc.serialize(), bom + "[t]\nk=v\n");

    IniDocument keysFirst = IniDocument::parse(bom + "k=0\n[s]\n");
    EXPECT_TRUE(keysFirst.replaceSection("", {{"k", "1"}}));
    EXPECT_EQ(keysFirst.serialize(), bom + "k=1\n[s]\n");
    EXPECT_EQ(IniDocument::parse(bom).serialize(), bom);
}

// Lines can end in CRLF, LF or a lone CR, so a line that ends in CR followed
// by a blank LF line must never meet an edit that makes them one CRLF.
struct MixedEndCase {
    const char* what;
    std::string file;
    const char* section; // where a key is added (a missing one adds a section)
};

void PrintTo(const MixedEndCase& c, std::ostream* os)
{
    *os << c.what;
}

class IniMixedLineEnds : public ::testing::TestWithParam<MixedEndCase> {};

TEST_P(IniMixedLineEnds, AddingAKeyChangesNoLineButAddsItsOwn)
{
    const MixedEndCase& c = GetParam();
    const IniDocument original = IniDocument::parse(c.file);
    IniDocument doc = IniDocument::parse(c.file);
    ASSERT_TRUE(doc.setValue(c.section, "new", "x"));

    // Read back from bytes, the file holds the new key, and removing it gives
    // back the file exactly: no blank line was swallowed by the insertion.
    IniDocument reread = IniDocument::parse(doc.serialize());
    EXPECT_EQ(reread.value(c.section, "new"), "x") << c.what;
    for (const auto& name : original.sectionNames()) {
        if (name == c.section)
            continue;
        EXPECT_EQ(reread.section(name), original.section(name)) << c.what << " [" << name << "]";
    }
    ASSERT_TRUE(reread.removeKey(c.section, "new")) << c.what;
    if (original.section(c.section)) {
        EXPECT_EQ(reread.serialize(), c.file) << c.what;
    } else {
        ASSERT_TRUE(reread.eraseSection(c.section)) << c.what;
        const std::string back = reread.serialize();
        EXPECT_EQ(back, c.file.substr(0, back.size())) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniMixedLineEnds,
    ::testing::Values(
        MixedEndCase{"CR section, LF key, blank LF line", "[S]\rk=v\n\n[T]\rt=1\n", "S"},
        MixedEndCase{"several blank LF lines", "[S]\rk=v\n\n\n[T]\rt=1\n", "S"},
        MixedEndCase{"CR first, blank CRLF line", "[S]\rk=v\r\n\r\n[T]\rt=1\n", "S"},
        MixedEndCase{"key into the last section", "[S]\rk=v\n[T]\rt=1\r\n\n", "T"},
        MixedEndCase{"new section after CR lines", "[S]\rk=v\r", "U"},
        MixedEndCase{"key into section \"\"", "a=1\r\n[S]\rk=v\n", ""},
        MixedEndCase{"comment before a blank LF line", "[S]\r;c\n\n[T]\rt=1\n", "S"}));

TEST(IniEdit, TheIssuesFileGetsTheNewKeyAndKeepsItsBlankLine)
{
    IniDocument doc = IniDocument::parse("[S]\rk=v\n\n[T]\rt=1\n");
    ASSERT_TRUE(doc.setValue("S", "new", "x"));
    EXPECT_EQ(doc.serialize(), "[S]\rk=v\nnew=x\r\n\n[T]\rt=1\n");
}

TEST(IniEdit, AValueWithoutLineBreakAtEndOfFileGetsOneBeforeNewLines)
{
    IniDocument doc = IniDocument::parse("[s]\nk=1");
    doc.setValue("t", "k", "2");
    EXPECT_EQ(doc.serialize(), "[s]\nk=1\n[t]\nk=2\n");
}

} // namespace
} // namespace lumarc::platform
