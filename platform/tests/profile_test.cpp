// Profile files: reads with capacity, integers, writes, concurrency, damage.
#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "platform/profile.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace lumarc::platform {
namespace {

using lumarc::testing::TempFolder;

std::string fileText(const std::filesystem::path& path)
{
    auto content = readWholeFile(path);
    return content ? *content : std::string("<missing>");
}

void writeFileText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

TEST(ProfileRead, CopiesAtMostCapacityMinusOneBytesAndANul)
{
    TempFolder dir;
    writeFileText(dir / "a.ini", "[s]\nk=abcdef\n");
    Profile profile(dir / "a.ini");
    char out[8];
    std::memset(out, 'Z', sizeof out);
    EXPECT_EQ(profile.readString("s", "k", "", out, 4), 3u);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(out[4], 'Z') << "nothing written past the capacity";
    EXPECT_EQ(profile.readString("s", "k", "", out, 1), 0u);
    EXPECT_STREQ(out, "");
    out[0] = 'Z';
    EXPECT_EQ(profile.readString("s", "k", "", out, 0), 0u);
    EXPECT_EQ(out[0], 'Z') << "capacity 0 writes nothing";
    EXPECT_EQ(profile.readString("s", "k", "", out, sizeof out), 6u);
    EXPECT_STREQ(out, "abcdef");
}

TEST(ProfileRead, MissingFileSectionOrKeyGivesTheDefaultButEmptyValueDoesNot)
{
    TempFolder dir;
    Profile missing(dir / "none" / "x.ini");
    EXPECT_EQ(missing.readString("Common", "IP", "0.0.0.0"), "0.0.0.0");
    EXPECT_EQ(missing.readInt("Common", "Total", 0), 0u);
    EXPECT_TRUE(missing.readSection("Common").empty());

    writeFileText(dir / "a.ini", "[1]\nIP=\n");
    Profile profile(dir / "a.ini");
    EXPECT_EQ(profile.readString("1", "ip", "0.0.0.0"), "");
    EXPECT_EQ(profile.readString("2", "ip", " \"dflt\" "), " \"dflt\"")
        << "a default loses its trailing blanks only";
}

struct DefaultCase {
    const char* fallback;
    const char* expected;
};

void PrintTo(const DefaultCase& c, std::ostream* os)
{
    *os << "'" << c.fallback << "'";
}

class ProfileDefault : public ::testing::TestWithParam<DefaultCase> {};

TEST_P(ProfileDefault, KeepsLeadingBlanksAndLosesTrailingOnes)
{
    TempFolder dir;
    writeFileText(dir / "a.ini", "[s]\nk=1\n");
    Profile profile(dir / "a.ini");
    const DefaultCase& c = GetParam();
    EXPECT_EQ(profile.readString("s", "missing", c.fallback), c.expected)
        << "'" << c.fallback << "'";
    EXPECT_EQ(Profile(dir / "none.ini").readString("s", "k", c.fallback), c.expected)
        << "missing file, '" << c.fallback << "'";
    char out[64];
    EXPECT_EQ(profile.readString("s", "missing", c.fallback, out, sizeof out),
              std::strlen(c.expected));
    EXPECT_STREQ(out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ProfileDefault,
    ::testing::Values(DefaultCase{"  x", "  x"}, DefaultCase{"x  ", "x"},
                      DefaultCase{"\t x \t", "\t x"}, DefaultCase{"  a b  ", "  a b"},
                      DefaultCase{"\"q\"", "\"q\""}, DefaultCase{"   ", ""},
                      DefaultCase{"", ""}));

struct IntCase {
    const char* text;
    uint32_t expected;
};

class ProfileInt : public ::testing::TestWithParam<IntCase> {};

TEST_P(ProfileInt, ReadsLikeTheWindowsFunction)
{
    EXPECT_EQ(parseProfileInt(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, ProfileInt,
                         ::testing::Values(IntCase{"10002", 10002}, IntCase{"  42  ", 42},
                                           IntCase{"12abc", 12}, IntCase{"abc", 0},
                                           IntCase{"-1", 0xFFFFFFFFu}, IntCase{"+7", 7},
                                           IntCase{"0x1F", 31}, IntCase{"0XfF", 255},
                                           IntCase{"0x", 0}, IntCase{"-0x10", 0xFFFFFFF0u},
                                           IntCase{"4294967297", 1}, IntCase{"1 2", 1},
                                           IntCase{"- 5", 0}, IntCase{"07", 7}));

TEST(ProfileRead, IntegerDefaultOnlyWhenMissingOrEmpty)
{
    TempFolder dir;
    writeFileText(dir / "a.ini", "[s]\nempty=\nquoted=\"12\"\nword=x\n");
    Profile profile(dir / "a.ini");
    EXPECT_EQ(profile.readInt("s", "empty", 5), 5u);
    EXPECT_EQ(profile.readInt("s", "missing", -1), 0xFFFFFFFFu);
    EXPECT_EQ(profile.readInt("s", "quoted", 5), 12u);
    EXPECT_EQ(profile.readInt("s", "word", 5), 0u);
}

TEST(ProfileWrite, CreatesTheFileAndReadsBack)
{
    TempFolder dir;
    Profile profile(dir / "Quenty.ini");
    ASSERT_TRUE(profile.writeString("Common", "Total", "0"));
    ASSERT_TRUE(profile.writeString("1", "IP", "192.0.2.7"));
    EXPECT_EQ(fileText(dir / "Quenty.ini"), "[Common]\nTotal=0\n[1]\nIP=192.0.2.7\n");
    EXPECT_TRUE(profile.flush());
}

TEST(ProfileWrite, RefusesLineBreaksAndMisplacedSyntaxWithoutTouchingTheFile)
{
    TempFolder dir;
    Profile profile(dir / "a.ini");
    ASSERT_TRUE(profile.writeString("s", "k", "1"));
    const std::string before = fileText(dir / "a.ini");
    for (auto [section, key, value] :
         {std::tuple{"s", "k", "1\n[evil]"}, std::tuple{"s", "k", "1\r"},
          std::tuple{"s\n", "k", "1"}, std::tuple{"s]", "k", "1"}, std::tuple{"s", "a=b", "1"},
          std::tuple{"s", ";k", "1"}, std::tuple{"s", "[k", "1"}}) {
        const Status status = profile.writeString(section, key, value);
        EXPECT_FALSE(status) << section << "/" << key;
        EXPECT_EQ(status.error().code, 87u);
    }
    EXPECT_FALSE(profile.writeSection("s", {{"k", "a\nb"}}));
    EXPECT_EQ(fileText(dir / "a.ini"), before);
}

TEST(ProfileWrite, MissingFolderIsAClearError)
{
    TempFolder dir;
    Profile profile(dir / "no" / "such" / "a.ini");
    const Status status = profile.writeString("s", "k", "v");
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().code, 2u);
    EXPECT_NE(status.error().text.find("no/such"), std::string::npos) << status.error().text;
}

TEST(ProfileWrite, DamagedFileKeepsEveryReadableKeyAndAllOtherBytes)
{
    TempFolder dir;
    const std::string junk = std::string("\x00\x01\xfe\xff garbage", 13);
    const std::string longLine = "long=" + std::string(100 * 1024, 'L');
    const std::string original =
        junk + "\r\n[Common]\r\nTotal=2\r\n" + longLine + "\r\n[1]\rIP=192.0.2.1\n\x80\x81" +
        "\n[2]\nIP=192.0.2.2";
    writeFileText(dir / "q.ini", original);
    Profile profile(dir / "q.ini");
    EXPECT_EQ(profile.readString("common", "long"), std::string(100 * 1024, 'L'));
    ASSERT_TRUE(profile.writeString("2", "Status", "1"));
    EXPECT_EQ(fileText(dir / "q.ini"), original + "\r\nStatus=1\r\n");
    EXPECT_EQ(profile.readInt("Common", "Total", 0), 2u);
    EXPECT_EQ(profile.readString("1", "IP"), "192.0.2.1");
    EXPECT_EQ(profile.readString("2", "IP"), "192.0.2.2");
}

TEST(ProfileSizeLimit, AFileOverTheLimitReadsAsMissingAndIsNeverRewritten)
{
    TempFolder dir;
    const std::string atLimit = "[s]\nk=1\n;" + std::string(kMaxProfileFileSize - 9, 'c');
    ASSERT_EQ(atLimit.size(), kMaxProfileFileSize);
    writeFileText(dir / "limit.ini", atLimit);
    Profile limit(dir / "limit.ini");
    EXPECT_EQ(limit.readString("s", "k", "d"), "1");
    EXPECT_TRUE(limit.writeString("s", "k", "2")) << "a write that keeps the size is fine";
    EXPECT_EQ(limit.readString("s", "k", "d"), "2");
    const Status grown = limit.writeString("s", "j", "2");
    ASSERT_FALSE(grown) << "a write never makes a file its readers refuse";
    EXPECT_EQ(grown.error().code, win32::kFileTooLarge);
    EXPECT_EQ(fileText(dir / "limit.ini").size(), kMaxProfileFileSize);

    const std::string over = "[s]\nk=1\n;" + std::string(kMaxProfileFileSize - 8, 'c');
    writeFileText(dir / "over.ini", over);
    Profile profile(dir / "over.ini");
    EXPECT_EQ(profile.readString("s", "k", "d"), "d");
    EXPECT_TRUE(profile.readSection("s").empty());
    const auto doc = profile.readDocument();
    ASSERT_FALSE(doc);
    EXPECT_EQ(doc.error().code, win32::kFileTooLarge);
    const Status written = profile.writeString("s", "j", "2");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, win32::kFileTooLarge);
    EXPECT_NE(written.error().text.find("over.ini"), std::string::npos) << written.error().text;
    EXPECT_EQ(fileText(dir / "over.ini").size(), over.size()) << "the file is left as it was";
}

TEST(ProfileSizeLimit, EndlessSpecialFilesReadAsMissing)
{
    Profile zero("/dev/zero");
    EXPECT_EQ(zero.readString("s", "k", "d"), "d");
    EXPECT_EQ(zero.readInt("s", "k", 7), 7u);
    const auto doc = zero.readDocument();
    ASSERT_FALSE(doc);
    EXPECT_EQ(doc.error().code, win32::kFileTooLarge);

    TempFolder dir;
    const auto missing = Profile(dir / "none.ini").readDocument();
    ASSERT_TRUE(missing) << "a missing file is an empty document, not an error";
    EXPECT_TRUE(missing->sectionNames().empty());
}

TEST(ProfileWrite, KeepsPermissionBitsAndWritesThroughSymlinks)
{
    TempFolder dir;
    writeFileText(dir / "real.ini", "[s]\nk=1\n");
    std::filesystem::permissions(dir / "real.ini", std::filesystem::perms(0640));
    std::filesystem::create_symlink(dir / "real.ini", dir / "link.ini");
    ASSERT_TRUE(Profile(dir / "link.ini").writeString("s", "k", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
    EXPECT_EQ(fileText(dir / "real.ini"), "[s]\nk=2\n");
    EXPECT_EQ(std::filesystem::status(dir / "real.ini").permissions(),
              std::filesystem::perms(0640));
}

TEST(ProfileWrite, DeleteEraseAndSectionsBehaveOnAMissingFile)
{
    TempFolder dir;
    Profile profile(dir / "a.ini");
    EXPECT_TRUE(profile.deleteKey("s", "k"));
    EXPECT_TRUE(profile.eraseSection("s"));
    EXPECT_FALSE(std::filesystem::exists(dir / "a.ini")) << "nothing to change, nothing written";
    ASSERT_TRUE(profile.writeSection("2", {{"IP", "b"}, {"Auto", "1"}}));
    ASSERT_TRUE(profile.writeSection("1", profile.readSection("2")));
    EXPECT_EQ(profile.readSection("1"), (std::vector<ProfileEntry>{{"IP", "b"}, {"Auto", "1"}}));
    ASSERT_TRUE(profile.eraseSection("2"));
    EXPECT_EQ(profile.sectionNames(), std::vector<std::string>{"1"});
}

// Runs body in a child process and returns its exit code.
template <class Body> pid_t inChild(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    return pid;
}

int exitCodeOf(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(ProfileConcurrency, TwoProcessesWritingDifferentKeysLoseNothing)
{
    TempFolder dir;
    const auto path = dir / "shared.ini";
    constexpr int kKeys = 500;
    auto writer = [&](const char* prefix) {
        return inChild([&] {
            Profile profile(path);
            for (int i = 0; i < kKeys; ++i) {
                const std::string section = (i % 2) ? "odd" : "even";
                if (!profile.writeString(section, prefix + std::to_string(i), std::to_string(i)))
                    ::_exit(2);
            }
        });
    };
    // A reader meanwhile must only ever see whole files: every key it finds
    // carries its full value, and the key count never drops.
    const pid_t reader = inChild([&] {
        size_t lastCount = 0;
        for (int round = 0; round < 400; ++round) {
            auto content = readWholeFile(path);
            if (!content)
                continue;
            if (!content->empty() && content->back() != '\n')
                ::_exit(3);
            const IniDocument doc = IniDocument::parse(*content);
            const size_t count =
                doc.section("odd").value_or(std::vector<ProfileEntry>{}).size() +
                doc.section("even").value_or(std::vector<ProfileEntry>{}).size();
            if (count < lastCount)
                ::_exit(4);
            lastCount = count;
        }
    });
    const pid_t a = writer("a");
    const pid_t b = writer("b");
    EXPECT_EQ(exitCodeOf(a), 0);
    EXPECT_EQ(exitCodeOf(b), 0);
    EXPECT_EQ(exitCodeOf(reader), 0);

    Profile profile(path);
    EXPECT_EQ(profile.readSection("odd").size() + profile.readSection("even").size(),
              2u * kKeys);
    for (int i = 0; i < kKeys; ++i) {
        const std::string section = (i % 2) ? "odd" : "even";
        EXPECT_EQ(profile.readString(section, "a" + std::to_string(i)), std::to_string(i));
        EXPECT_EQ(profile.readString(section, "b" + std::to_string(i)), std::to_string(i));
    }
    // No temporary file is left behind.
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 1u);
}

} // namespace
} // namespace lumarc::platform
