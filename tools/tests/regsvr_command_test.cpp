// lumarc-regsvr: registering the still-image server into a temporary
// registry, and its answers to what it cannot do.
#include "tools/regsvr_command.h"

#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/tests/temp_folder.h"

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

class Regsvr : public ::testing::Test {
protected:
    Outcome run(const std::vector<std::string>& args)
    {
        std::ostringstream out, err;
        const int code = runRegsvr(args, out, err);
        return {code, out.str(), err.str()};
    }
    std::string server() const { return (platform::programFolder() / "libquentysti.so").string(); }
    std::optional<std::string> inprocServer() const
    {
        return platform::Registry().value(
            platform::RegistryRoot::ClassesRoot,
            "CLSID\\{F5AF303F-27D3-4D25-8994-A57AE0AB128A}\\InprocServer32");
    }

    lumarc::testing::SandboxEnvironment m_sandbox;
};

TEST_F(Regsvr, RegistersAndUnregistersALibraryByPath)
{
    const Outcome registered = run({server()});
    ASSERT_EQ(registered.code, kRegsvrOk) << registered.err;
    EXPECT_EQ(registered.out, "registered " + server() + " (" +
                                  platform::registryFilePath().string() + ")\n");
    EXPECT_EQ(inprocServer(), std::filesystem::canonical(server()).string());

    // A relative path names a file in the working folder.
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(platform::programFolder());
    const Outcome removed = run({"-u", "libquentysti.so"});
    std::filesystem::current_path(previous);
    ASSERT_EQ(removed.code, kRegsvrOk) << removed.err;
    EXPECT_EQ(removed.out.rfind("unregistered ", 0), 0u) << removed.out;
    EXPECT_FALSE(inprocServer());
}

TEST_F(Regsvr, SaysWhyItCouldNotWithDistinctExitCodes)
{
    EXPECT_EQ(run({}).code, kRegsvrUsage);
    EXPECT_EQ(run({server(), server()}).code, kRegsvrUsage);
    EXPECT_EQ(run({"--force", server()}).code, kRegsvrUsage);

    const Outcome missing = run({(m_sandbox.root() / "libnothing.so").string()});
    EXPECT_EQ(missing.code, kRegsvrNotLoaded);
    EXPECT_NE(missing.err.find("no such file"), std::string::npos) << missing.err;

    const auto notALibrary = m_sandbox.root() / "notes.so";
    std::ofstream(notALibrary) << "plain text";
    EXPECT_EQ(run({notALibrary.string()}).code, kRegsvrNotLoaded);

    const Outcome noEntry = run({(platform::programFolder() / "liblumtestlib.so").string()});
    EXPECT_EQ(noEntry.code, kRegsvrNoEntry);
    EXPECT_NE(noEntry.err.find("DllRegisterServer"), std::string::npos) << noEntry.err;

    // The server without its type library beside it: registration fails.
    const auto lonely = m_sandbox.root() / "libquentysti.so";
    std::filesystem::copy_file(server(), lonely);
    const Outcome failed = run({lonely.string()});
    EXPECT_EQ(failed.code, kRegsvrFailed);
    EXPECT_NE(failed.err.find("0x80029C4A (the type library cannot be loaded)"), std::string::npos)
        << failed.err;
}

} // namespace
} // namespace lumarc::tools
