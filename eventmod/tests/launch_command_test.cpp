// Which program a button starts, with which arguments, in which folder.
#include "eventmod/launch_command.h"

#include <gtest/gtest.h>

namespace lumarc::eventmod {
namespace {

using Args = std::vector<std::string>;

TEST(LaunchKeys, FlagsChooseTheButtonsKeys)
{
    EXPECT_EQ(launchKeyPrefix(0x100), "Scan");
    EXPECT_EQ(launchKeyPrefix(0x403), "Send3");
    EXPECT_EQ(launchKeyPrefix(0x40C), "Send12");
    EXPECT_EQ(launchKeyPrefix(0x503), "Scan") << "the Scan bit wins";
    EXPECT_EQ(launchKeyPrefix(0x000), std::nullopt);
    EXPECT_EQ(launchKeyPrefix(0x003), std::nullopt);
}

TEST(LaunchOptions, SplitLikeAShellWithoutExpandingAnything)
{
    const struct {
        const char* options;
        Args args;
    } rows[] = {
        {"", {}},
        {"   ", {}},
        {"/q /r", {"/q", "/r"}},
        {"  -a\t-b  ", {"-a", "-b"}},
        {"\"two words\" 'single $HOME' x", {"two words", "single $HOME", "x"}},
        {"a\"b c\"d", {"ab cd"}},
        {"back\\ slash \\\"q", {"back slash", "\"q"}},
        {"\"in \\\"quotes\\\" \\\\\"", {"in \"quotes\" \\"}},
        {"'a\\b'", {"a\\b"}},
        {"\"\"", {""}},
        {"$(rm -rf ~) `id` *.png ~ ;ls|cat", {"$(rm", "-rf", "~)", "`id`", "*.png", "~", ";ls|cat"}},
        {"\"unterminated rest", {"unterminated rest"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(splitOptions(row.options), row.args) << row.options;
}

TEST(LaunchCommandLine, TheUserNameGoesIntoTheUserArgumentOnly)
{
    const LaunchSettings settings{"/opt/app/scan", "/user /q", ""};
    auto command = buildLaunchCommand(settings, "user1");
    ASSERT_TRUE(command);
    EXPECT_EQ(command->argv, (Args{"/opt/app/scan", "/USER:user1", "/q"}))
        << "the name keeps its case, the other options theirs";
    EXPECT_EQ(command->workingFolder, "/opt/app") << "an empty folder is the program's";

    // Whatever a unit reports as the user, it stays inside that argument.
    for (const std::string name : {"a b", "\"quoted\"", "x; rm -rf ~", "$(id)", "*", "-rf",
                                   "--output=/etc/passwd", "'", "a\\b"}) {
        command = buildLaunchCommand({"/bin/app", "-v /User -w", ""}, name);
        ASSERT_TRUE(command);
        EXPECT_EQ(command->argv, (Args{"/bin/app", "-v", "/USER:" + name, "-w"})) << name;
    }
}

TEST(LaunchCommandLine, ProgramFolderOptionsAndEdges)
{
    // The program value is one executable, spaces and all.
    auto command = buildLaunchCommand({"/opt/My Apps/scan it", "", "/srv/work dir"}, "u");
    ASSERT_TRUE(command);
    EXPECT_EQ(command->argv, Args{"/opt/My Apps/scan it"});
    EXPECT_EQ(command->workingFolder, "/srv/work dir");

    // "/USER" at the very end, inside a longer argument, or not at all.
    EXPECT_EQ(buildLaunchCommand({"p", "-x /USER", ""}, "ann")->argv, (Args{"p", "-x", "/USER:ann"}));
    EXPECT_EQ(buildLaunchCommand({"p", "--as=/userX", ""}, "ann")->argv,
              (Args{"p", "--as=/USER:annX"}));
    EXPECT_EQ(buildLaunchCommand({"p", "/user /user", ""}, "ann")->argv,
              (Args{"p", "/USER:ann", "/user"}))
        << "only the first";
    EXPECT_EQ(buildLaunchCommand({"p", "-o File.PNG", ""}, "ann")->argv,
              (Args{"p", "-o", "File.PNG"}))
        << "options keep their case";
    EXPECT_EQ(buildLaunchCommand({"scan-tool", "", ""}, "ann")->workingFolder, "")
        << "a program found on the search path runs in the starter's folder";
    EXPECT_FALSE(buildLaunchCommand({"", "/USER", "/tmp"}, "ann")) << "nothing configured";
}

} // namespace
} // namespace lumarc::eventmod
