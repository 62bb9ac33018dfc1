// lumarc-ini command lines, run in-process.
#include "platform/file_io.h"
#include "platform/profile.h"
#include "platform/tests/temp_folder.h"
#include "shared/settings_file.h"
#include "tools/ini_command.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace lumarc::tools {
namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

class IniCommand : public ::testing::Test {
protected:
    Outcome run(std::vector<std::string> args, const std::string& input = "")
    {
        std::istringstream in(input);
        std::ostringstream out, err;
        const int code = runIniCommand(args, in, out, err);
        return {code, out.str(), err.str()};
    }
    std::string file(const std::string& name) { return (m_sandbox.root() / name).string(); }

    lumarc::testing::SandboxEnvironment m_sandbox;
};

TEST_F(IniCommand, ReadsFromAMissingFileAsDefaults)
{
    EXPECT_EQ(run({"get", file("none.ini"), "Common", "IP"}).out, "\n");
    EXPECT_EQ(run({"get", file("none.ini"), "Common", "IP", "0.0.0.0"}).out, "0.0.0.0\n");
    const Outcome negative = run({"get-int", file("none.ini"), "Common", "Current", "-1"});
    EXPECT_EQ(negative.code, kExitOk);
    EXPECT_EQ(negative.out, "4294967295\n");
    EXPECT_EQ(run({"get-int", "--settings", "TimeOut", "MonIf", "10"}).out, "10\n");
    EXPECT_EQ(run({"get-section", file("none.ini"), "Common"}).out, "");
}

TEST_F(IniCommand, GetPrintsWhatABufferOfTheCapacityReceives)
{
    ASSERT_EQ(run({"set", file("a.ini"), "1", "Scanner", "ORBIX-4000 DUPLEX"}).code, kExitOk);
    EXPECT_EQ(run({"get", file("a.ini"), "1", "Scanner", "--capacity", "16"}).out,
              "ORBIX-4000 DUPL\n");
    EXPECT_EQ(run({"get", "--capacity=1", file("a.ini"), "1", "Scanner"}).out, "\n");
    EXPECT_EQ(run({"get", file("a.ini"), "1", "Scanner", "--capacity", "0"}).out, "\n");
    EXPECT_EQ(run({"get", file("a.ini"), "1", "Scanner"}).out, "ORBIX-4000 DUPLEX\n");
}

TEST_F(IniCommand, CapacityIsANumberUpToTheLargestFileAProfileReads)
{
    ASSERT_EQ(run({"set", file("a.ini"), "s", "k", "value"}).code, kExitOk);
    const std::string largest = std::to_string(platform::kMaxProfileFileSize);
    const std::string tooLarge = std::to_string(platform::kMaxProfileFileSize + 1);
    struct Case {
        std::string capacity;
        bool accepted;
    };
    for (const Case& c : {Case{largest, true}, Case{"6", true}, Case{tooLarge, false},
                          Case{"100000000000", false}, Case{"18446744073709551615", false},
                          Case{"18446744073709551616", false}, Case{"-1", false},
                          Case{"", false}, Case{"0x10", false}, Case{" 5", false}}) {
        for (const auto& args : {std::vector<std::string>{"get", file("a.ini"), "s", "k",
                                                          "--capacity", c.capacity},
                                 std::vector<std::string>{"get", file("a.ini"), "s", "k",
                                                          "--capacity=" + c.capacity}}) {
            const Outcome r = run(args);
            if (c.accepted) {
                EXPECT_EQ(r.code, kExitOk) << args.back() << ": " << r.err;
                EXPECT_EQ(r.out, "value\n") << args.back();
            } else {
                EXPECT_EQ(r.code, kExitUsage) << args.back();
                EXPECT_NE(r.err.find("--capacity"), std::string::npos) << r.err;
                EXPECT_NE(r.err.find(largest), std::string::npos) << r.err;
                EXPECT_EQ(r.out, "") << args.back();
            }
        }
    }
    EXPECT_NE(run({"--help"}).out.find(largest), std::string::npos) << "the bound is in the usage";
}

TEST_F(IniCommand, FilesOverTheSizeLimitAreRefusedWithAMessage)
{
    const std::string big = file("big.ini");
    const std::string content =
        "[s]\nk=1\n;" + std::string(platform::kMaxProfileFileSize, 'c') + "\n";
    std::ofstream(big, std::ios::binary) << content;
    for (const std::string& path : {big, std::string("/dev/zero")}) {
        for (const auto& args : {std::vector<std::string>{"get", path, "s", "k", "d"},
                                 std::vector<std::string>{"get", path, "s", "k", "--capacity", "9"},
                                 std::vector<std::string>{"get-int", path, "s", "k", "5"},
                                 std::vector<std::string>{"get-section", path, "s"}}) {
            const Outcome r = run(args);
            EXPECT_EQ(r.code, kExitFailed) << args[0] << " " << path;
            EXPECT_EQ(r.out, "") << args[0] << " " << path;
            EXPECT_NE(r.err.find("cannot read " + path), std::string::npos) << r.err;
        }
    }
    const Outcome set = run({"set", big, "s", "k", "2"});
    EXPECT_EQ(set.code, kExitFailed);
    EXPECT_NE(set.err.find("cannot change " + big), std::string::npos) << set.err;
    EXPECT_EQ(*platform::readWholeFile(big, 2 * platform::kMaxProfileFileSize), content);
}

TEST_F(IniCommand, AddingAKeyKeepsABlankLineAfterALoneCarriageReturnFile)
{
    const std::string f = file("mixed.ini");
    std::ofstream(f, std::ios::binary) << "[S]\rk=v\n\n[T]\rt=1\n";
    ASSERT_EQ(run({"set", f, "S", "new", "x"}).code, kExitOk);
    EXPECT_EQ(*platform::readWholeFile(f), "[S]\rk=v\nnew=x\r\n\n[T]\rt=1\n");
    ASSERT_EQ(run({"delete", f, "S", "new"}).code, kExitOk);
    EXPECT_EQ(*platform::readWholeFile(f), "[S]\rk=v\n\n[T]\rt=1\n");
}

TEST_F(IniCommand, ReadsAndKeepsAByteOrderMarkedFile)
{
    const std::string f = file("bom.ini");
    std::ofstream(f, std::ios::binary) << "\xEF\xBB\xBF[Common]\r\nTotal=2\r\n[a[b]]\r\nk=1\r\n";
    EXPECT_EQ(run({"get-int", f, "Common", "Total", "0"}).out, "2\n");
    EXPECT_EQ(run({"get", f, "a[b]", "k"}).out, "1\n");
    EXPECT_EQ(run({"get", f, "Common", "missing", "  x"}).out, "  x\n");
    ASSERT_EQ(run({"set", f, "Common", "Total", "3"}).code, kExitOk);
    EXPECT_EQ(*platform::readWholeFile(f), "\xEF\xBB\xBF[Common]\r\nTotal=3\r\n[a[b]]\r\nk=1\r\n");
}

TEST_F(IniCommand, ChangesSectionsAndKeys)
{
    const std::string f = file("b.ini");
    ASSERT_EQ(run({"set-section", f, "2"}, "IP=192.0.2.2\r\n\nAuto = 1\n").code, kExitOk);
    ASSERT_EQ(run({"set", f, "2", "Status", "1"}).code, kExitOk);
    EXPECT_EQ(run({"get-section", f, "2"}).out, "IP=192.0.2.2\nAuto=1\nStatus=1\n");
    ASSERT_EQ(run({"delete", f, "2", "Auto"}).code, kExitOk);
    ASSERT_EQ(run({"delete", f, "2", "Auto"}).code, kExitOk) << "deleting twice is fine";
    EXPECT_EQ(run({"get-section", f, "2"}).out, "IP=192.0.2.2\nStatus=1\n");
    ASSERT_EQ(run({"erase-section", f, "2"}).code, kExitOk);
    EXPECT_EQ(*platform::readWholeFile(f), "");
}

TEST_F(IniCommand, SettingsShorthandCreatesTheSharedFolder)
{
    ASSERT_EQ(run({"set", "--settings", "Common", "TrgPort", "3000"}).code, kExitOk);
    EXPECT_EQ(shared::SettingsFile().trgPort(), 3000u);
    ASSERT_EQ(run({"set", "--launch", "Launch", "Scan_Apl", "/usr/bin/true"}).code, kExitOk);
    EXPECT_TRUE(std::filesystem::exists(shared::launchFilePath()));
}

TEST_F(IniCommand, FailedWritesAndBadCommandLinesExitNonZeroWithAMessage)
{
    const Outcome noFolder = run({"set", file("missing/a.ini"), "s", "k", "v"});
    EXPECT_EQ(noFolder.code, kExitFailed);
    EXPECT_NE(noFolder.err.find("cannot change"), std::string::npos) << noFolder.err;

    const Outcome injected = run({"set", file("a.ini"), "s", "k", "v\n[x]"});
    EXPECT_EQ(injected.code, kExitFailed);
    EXPECT_FALSE(std::filesystem::exists(file("a.ini")));

    for (const auto& args : std::vector<std::vector<std::string>>{
             {},
             {"frobnicate", file("a.ini")},
             {"get", file("a.ini"), "s"},
             {"set", file("a.ini"), "s", "k"},
             {"get", file("a.ini"), "s", "k", "--capacity", "x"},
             {"get-int", file("a.ini"), "s", "k", "ten"},
             {"get-int", file("a.ini"), "s", "k", "--capacity", "3"},
             {"get", "--settings", "--launch", "s", "k"},
             {"get", file("a.ini"), "s", "k", "--bogus"},
         }) {
        const Outcome r = run(args);
        EXPECT_EQ(r.code, kExitUsage) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_EQ(run({"set-section", file("a.ini"), "s"}, "novalue\n").code, kExitUsage);
    EXPECT_EQ(run({"--help"}).code, kExitOk);
}

} // namespace
} // namespace lumarc::tools
