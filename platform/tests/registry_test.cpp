// The registry file: its layout, the key and value rules, whole-tree
// removal, enumeration and atomic updates; identifiers; type libraries.
#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/guid.h"
#include "platform/registry.h"
#include "platform/tests/temp_folder.h"
#include "platform/type_library.h"

#include <gtest/gtest.h>

#include <fstream>

namespace lumarc::platform {
namespace {

constexpr auto kClasses = RegistryRoot::ClassesRoot;
constexpr auto kMachine = RegistryRoot::LocalMachine;

std::string fileText(const std::filesystem::path& path)
{
    auto text = readWholeFile(path);
    return text ? *text : std::string();
}

TEST(Guid, ParsesOnlyTheBracedFormAndFormatsUpperCase)
{
    const auto guid = parseGuid("{f5af303f-27d3-4d25-8994-a57ae0ab128a}");
    ASSERT_TRUE(guid);
    EXPECT_EQ(guid->data1, 0xF5AF303Fu);
    EXPECT_EQ(guid->data2, 0x27D3);
    EXPECT_EQ(guid->data3, 0x4D25);
    EXPECT_EQ(guid->data4[0], 0x89);
    EXPECT_EQ(guid->data4[7], 0x8A);
    EXPECT_EQ(formatGuid(*guid), "{F5AF303F-27D3-4D25-8994-A57AE0AB128A}");
    EXPECT_EQ(*guid, makeGuid(0xF5AF303F, 0x27D3, 0x4D25,
                              {0x89, 0x94, 0xA5, 0x7A, 0xE0, 0xAB, 0x12, 0x8A}));

    for (const char* bad : {
             "F5AF303F-27D3-4D25-8994-A57AE0AB128A",    // no braces
             "{F5AF303F-27D3-4D25-8994-A57AE0AB128A",   // one brace
             "{F5AF303F27D3-4D25-8994-A57AE0AB128A-}",  // hyphen moved
             "{F5AF303F-27D3-4D25-8994-A57AE0AB128G}",  // not hexadecimal
             "{F5AF303F-27D3-4D25-8994-A57AE0AB128}",   // short
             "{F5AF303F-27D3-4D25-8994-A57AE0AB128AA}", // long
             "{+5AF303F-27D3-4D25-8994-A57AE0AB128A}",  // a sign is no digit
             "",
         })
        EXPECT_FALSE(parseGuid(bad)) << bad;
}

class RegistryFile : public ::testing::Test {
protected:
    lumarc::testing::SandboxEnvironment m_sandbox;
    Registry m_registry;
};

TEST_F(RegistryFile, LivesInTheApplicationDataFolderWithOneSectionPerKey)
{
    EXPECT_EQ(m_registry.path(), appDataFolder() / "Velorin" / "registry.ini");
    ASSERT_TRUE(m_registry.setValue(kClasses, "CLSID\\{X}\\InprocServer32", "", "/lib/libx.so"));
    ASSERT_TRUE(m_registry.setValue(kClasses, "CLSID\\{X}\\InprocServer32", "ThreadingModel",
                                    "both"));
    ASSERT_TRUE(m_registry.createKey(kMachine, "Software\\Empty"));
    EXPECT_EQ(fileText(m_registry.path()), "[HKEY_CLASSES_ROOT\\CLSID]\n"
                                           "[HKEY_CLASSES_ROOT\\CLSID\\{X}]\n"
                                           "[HKEY_CLASSES_ROOT\\CLSID\\{X}\\InprocServer32]\n"
                                           "@=/lib/libx.so\n"
                                           "ThreadingModel=both\n"
                                           "[HKEY_LOCAL_MACHINE\\Software]\n"
                                           "[HKEY_LOCAL_MACHINE\\Software\\Empty]\n");
}

TEST_F(RegistryFile, ValuesReadBackExactlyAndNamesIgnoreCase)
{
    const struct {
        const char* name;
        const char* data;
    } cases[] = {
        {"", "plain"},          {"Spaces", "  both ends  "}, {"Quoted", "\"quoted\""},
        {"Single", "'single'"}, {"Inner", "a \"b\" c"},      {"Empty", ""},
        {"Semi", ";not a comment"}, {"Equals", "a=b"},       {"Utf8", "Gerät ✓"},
    };
    for (const auto& c : cases)
        ASSERT_TRUE(m_registry.setValue(kClasses, "Key", c.name, c.data)) << c.name;
    const Registry fresh(m_registry.path());
    for (const auto& c : cases)
        EXPECT_EQ(fresh.value(kClasses, "KEY", c.name), c.data) << c.name;
    EXPECT_EQ(fresh.value(kClasses, "key", "spaces"), "  both ends  ");
    EXPECT_FALSE(fresh.value(kClasses, "Key", "Missing"));
    EXPECT_FALSE(fresh.value(kMachine, "Key")) << "the roots are apart";
    EXPECT_FALSE(fresh.value(kClasses, "NoKey"));

    ASSERT_TRUE(m_registry.setValue(kClasses, "Key", "spaces", "again"));
    const auto values = fresh.values(kClasses, "Key");
    ASSERT_EQ(values.size(), std::size(cases));
    EXPECT_EQ(values[0], (RegistryValue{"", "plain"}));
    EXPECT_EQ(values[1], (RegistryValue{"Spaces", "again"})) << "one entry per name";

    ASSERT_TRUE(m_registry.deleteValue(kClasses, "Key", "SPACES"));
    ASSERT_TRUE(m_registry.deleteValue(kClasses, "Key", "SPACES")) << "a missing value is no error";
    EXPECT_FALSE(fresh.value(kClasses, "Key", "Spaces"));
    EXPECT_TRUE(fresh.keyExists(kClasses, "Key"));
}

TEST_F(RegistryFile, RefusesNamesTheFileCouldNotKeepAndLeavesItAlone)
{
    ASSERT_TRUE(m_registry.setValue(kClasses, "Good", "", "1"));
    const std::string before = fileText(m_registry.path());
    for (const char* key : {"", "\\Lead", "Trail\\", "Two\\\\Parts", " Blank", "Bracket]",
                            "Line\nBreak"})
        EXPECT_FALSE(m_registry.setValue(kClasses, key, "", "v")) << key;
    for (const char* name : {"@", "a=b", ";comment", "[section", " blank", "line\nbreak"})
        EXPECT_FALSE(m_registry.setValue(kClasses, "Good", name, "v")) << name;
    EXPECT_FALSE(m_registry.setValue(kClasses, "Good", "", "two\nlines"));
    EXPECT_FALSE(m_registry.deleteTree(kClasses, "")) << "a root stays";
    EXPECT_EQ(fileText(m_registry.path()), before);
}

TEST_F(RegistryFile, DeleteTreeTakesTheKeyAndWhatIsBelowItOnly)
{
    for (const char* key : {"CLSID\\{A}\\InprocServer32", "CLSID\\{A}\\ProgID", "CLSID\\{A}X",
                            "CLSID\\{B}"})
        ASSERT_TRUE(m_registry.setValue(kClasses, key, "", key));
    ASSERT_TRUE(m_registry.setValue(kMachine, "CLSID\\{A}", "", "machine"));

    ASSERT_TRUE(m_registry.deleteTree(kClasses, "clsid\\{a}"));
    EXPECT_FALSE(m_registry.keyExists(kClasses, "CLSID\\{A}"));
    EXPECT_FALSE(m_registry.keyExists(kClasses, "CLSID\\{A}\\ProgID"));
    EXPECT_TRUE(m_registry.keyExists(kClasses, "CLSID\\{A}X")) << "a name that merely starts alike";
    EXPECT_TRUE(m_registry.keyExists(kMachine, "CLSID\\{A}"));
    EXPECT_EQ(m_registry.subkeys(kClasses, "CLSID"), (std::vector<std::string>{"{A}X", "{B}"}));
    ASSERT_TRUE(m_registry.deleteTree(kClasses, "CLSID\\{A}")) << "a missing key is no error";
}

TEST_F(RegistryFile, SubkeysAreEnumeratedOnceEvenWithoutTheirOwnSections)
{
    // As a person might write the file by hand: only the deepest keys.
    ASSERT_TRUE(ensureFolder(m_registry.path().parent_path()));
    std::ofstream(m_registry.path()) << "[HKEY_CLASSES_ROOT\\A\\B\\C]\n@=1\n"
                                        "[HKEY_CLASSES_ROOT\\A\\b\\D]\n"
                                        "[HKEY_CLASSES_ROOT\\A\\E]\n";
    EXPECT_EQ(m_registry.subkeys(kClasses, "A"), (std::vector<std::string>{"B", "E"}));
    EXPECT_EQ(m_registry.subkeys(kClasses, "A\\B"), (std::vector<std::string>{"C", "D"}));
    EXPECT_EQ(m_registry.subkeys(kClasses, ""), (std::vector<std::string>{"A"}));
    EXPECT_TRUE(m_registry.keyExists(kClasses, "a\\b"));
    EXPECT_TRUE(m_registry.subkeys(kClasses, "A\\E").empty());
}

TEST_F(RegistryFile, AFailedUpdateWritesNothingOfIt)
{
    ASSERT_TRUE(m_registry.setValue(kClasses, "Keep", "", "1"));
    const std::string before = fileText(m_registry.path());
    const Status failed = m_registry.update([](RegistryKeys& keys) -> Status {
        EXPECT_TRUE(keys.setValue(kClasses, "New", "", "2"));
        EXPECT_TRUE(keys.deleteTree(kClasses, "Keep"));
        return Error{87, "changed my mind"};
    });
    EXPECT_FALSE(failed);
    EXPECT_EQ(failed.error().text, "changed my mind");
    EXPECT_EQ(fileText(m_registry.path()), before);
}

const char* const kTypeLibraryText = R"(; a test library
[Library]
Name=TESTLib
LIBID={11111111-2222-3333-4444-555555555555}
Version=1.2
LCID=1033
HelpString=Test 1.2 Type Library

[Interface IFirst]
IID={11111111-2222-3333-4444-000000000001}
HelpString=IFirst Interface
3=Open: Method Open
4=Close

[Interface ISecond]
IID={11111111-2222-3333-4444-000000000002}
HelpString=ISecond Interface

[Class Thing]
CLSID={11111111-2222-3333-4444-0000000000C1}
HelpString=Thing Class
Interfaces=IFirst, ISecond
)";

TEST(TypeLibraryText, DescribesLibraryInterfacesMethodsAndClasses)
{
    const auto library = parseTypeLibrary(kTypeLibraryText);
    ASSERT_TRUE(library) << library.error().text;
    EXPECT_EQ(library->name, "TESTLib");
    EXPECT_EQ(formatGuid(library->libid), "{11111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(library->majorVersion, 1);
    EXPECT_EQ(library->minorVersion, 2);
    EXPECT_EQ(library->lcid, 1033u);
    ASSERT_EQ(library->interfaces.size(), 2u);
    const auto& first = library->interfaces[0];
    EXPECT_EQ(first.name, "IFirst");
    ASSERT_EQ(first.methods.size(), 2u);
    EXPECT_EQ(first.methods[0].slot, 3u);
    EXPECT_EQ(first.methods[0].helpString, "Method Open");
    EXPECT_EQ(first.methods[1].name, "Close");
    EXPECT_EQ(first.methods[1].helpString, "");
    ASSERT_EQ(library->classes.size(), 1u);
    EXPECT_EQ(library->classes[0].interfaces, (std::vector<std::string>{"IFirst", "ISecond"}));

    const std::string text = kTypeLibraryText;
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string changed = text;
        changed.replace(changed.find(from), from.size(), to);
        return changed;
    };
    for (const std::string& broken : {
             replaced("[Library]", "[Librar]"),
             replaced("LIBID={11111111-2222-3333-4444-555555555555}", "LIBID=none"),
             replaced("Version=1.2", "Version=1"),
             replaced("LCID=1033", "LCID=english"),
             replaced("IID={11111111-2222-3333-4444-000000000001}", "IID="),
             replaced("4=Close", "2=Close"),
             replaced("3=Open: Method Open", "3=: no name"),
         })
        EXPECT_FALSE(parseTypeLibrary(broken)) << broken;
}

TEST_F(RegistryFile, TypeLibraryRegistrationComesAndGoesWithItsVersion)
{
    const auto library = parseTypeLibrary(kTypeLibraryText);
    ASSERT_TRUE(library);
    ASSERT_EQ(registerTypeLibrary(*library, "/opt/lib/libtest.tlb", "/opt/lib", m_registry), S_OK);
    const std::string version = "TypeLib\\{11111111-2222-3333-4444-555555555555}\\1.2";
    EXPECT_EQ(m_registry.value(kClasses, version), "Test 1.2 Type Library");
    EXPECT_EQ(m_registry.value(kClasses, version + "\\HELPDIR"), "/opt/lib");
    EXPECT_EQ(m_registry.value(kClasses, version + "\\FLAGS"), "0");
    EXPECT_EQ(m_registry.value(kClasses, version + "\\409\\" +
                                             (sizeof(void*) == 8 ? "win64" : "win32")),
              "/opt/lib/libtest.tlb");
    const std::string face = "Interface\\{11111111-2222-3333-4444-000000000001}";
    EXPECT_EQ(m_registry.value(kClasses, face), "IFirst");
    EXPECT_EQ(m_registry.value(kClasses, face + "\\TypeLib"),
              "{11111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(m_registry.value(kClasses, face + "\\TypeLib", "Version"), "1.2");

    // Another version of the library, and an interface of another library.
    auto older = *library;
    older.minorVersion = 1;
    older.interfaces.clear();
    ASSERT_EQ(registerTypeLibrary(older, "/opt/old.tlb", "/opt", m_registry), S_OK);
    ASSERT_TRUE(m_registry.setValue(kClasses, "Interface\\{OTHER}\\TypeLib", "", "{ELSEWHERE}"));

    EXPECT_EQ(unregisterTypeLibrary(library->libid, 1, 2, 1041, m_registry),
              TYPE_E_LIBNOTREGISTERED)
        << "another language";
    EXPECT_EQ(unregisterTypeLibrary(library->libid, 1, 2, 1033, m_registry), S_OK);
    EXPECT_FALSE(m_registry.keyExists(kClasses, version));
    EXPECT_FALSE(m_registry.keyExists(kClasses, face));
    EXPECT_TRUE(m_registry.keyExists(kClasses, "Interface\\{OTHER}"));
    EXPECT_TRUE(m_registry.keyExists(kClasses, "TypeLib\\{11111111-2222-3333-4444-555555555555}\\1.1"));
    EXPECT_EQ(unregisterTypeLibrary(library->libid, 1, 2, 1033, m_registry),
              TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(unregisterTypeLibrary(library->libid, 1, 1, 1033, m_registry), S_OK);
    EXPECT_FALSE(m_registry.keyExists(kClasses, "TypeLib\\{11111111-2222-3333-4444-555555555555}"))
        << "no version left";
}

} // namespace
} // namespace lumarc::platform
