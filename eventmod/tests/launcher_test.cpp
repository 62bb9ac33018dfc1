// The launcher with fake reports and transport, real settings files and,
// where it matters, real programs.
#include "eventmod/launcher.h"

#include "platform/folders.h"
#include "platform/profile.h"
#include "platform/tests/temp_folder.h"
#include "shared/settings_file.h"

#include <gtest/gtest.h>

#include <thread>

namespace lumarc::eventmod {
namespace {

using namespace std::chrono_literals;
namespace key = shared::key;

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
        m_launch = std::make_unique<platform::Profile>(shared::launchFilePath());
    }
    Launcher launcher(int watchLimit = 60)
    {
        LauncherServices s;
        s.report = [this](const std::string& unit, Report code) {
            m_reports.emplace_back(unit, static_cast<int>(code));
        };
        s.transportBusy = [this] { return m_transportBusy; };
        s.start = [this](const LaunchCommand& command) -> Result<platform::Process> {
            m_started.push_back(command);
            if (m_startFails)
                return Error{2, "no such program"};
            return platform::Process::start({"/bin/sleep", "0.05"});
        };
        s.prepareDataSources = [this](const std::string& model) { m_prepared.push_back(model); };
        s.launchFile = [] { return shared::launchFilePath(); };
        s.watchLimit = watchLimit;
        return Launcher(std::move(s));
    }
    void configure(const char* prefix, const char* program, const char* options = "",
                   const char* folder = "")
    {
        ASSERT_TRUE(m_launch->writeString("Launch", std::string(prefix) + "_Apl", program));
        ASSERT_TRUE(m_launch->writeString("Launch", std::string(prefix) + "_Opt", options));
        ASSERT_TRUE(m_launch->writeString("Launch", std::string(prefix) + "_Wrk", folder));
    }
    using Reports = std::vector<std::pair<std::string, int>>;

    lumarc::testing::SandboxEnvironment m_sandbox;
    std::unique_ptr<platform::Profile> m_launch;
    shared::SettingsFile m_file;
    Reports m_reports;
    std::vector<LaunchCommand> m_started;
    std::vector<std::string> m_prepared;
    bool m_transportBusy = false;
    bool m_startFails = false;
};

const ButtonPress kScanPress{"10.0.0.7", 0x100, "user1", "ORBIX-4000"};

TEST_F(LauncherTest, AConfiguredButtonStartsItsProgramAndReportsZero)
{
    configure("Scan", "/opt/app/scan", "/user /q");
    Launcher l = launcher();
    EXPECT_TRUE(l.launch(kScanPress));
    ASSERT_EQ(m_started.size(), 1u);
    EXPECT_EQ(m_started[0].argv, (std::vector<std::string>{"/opt/app/scan", "/USER:user1", "/q"}));
    EXPECT_EQ(m_reports, (Reports{{"10.0.0.7", 0}}));
    EXPECT_TRUE(l.pending());
    EXPECT_EQ(m_prepared, std::vector<std::string>{"ORBIX-4000"});
    // The unknown unit joined the list and became current.
    EXPECT_EQ(m_file.total(), 1u);
    EXPECT_EQ(m_file.current(0), 1u);
    EXPECT_EQ(m_file.unit(1, "").ip, "10.0.0.7");
    EXPECT_EQ(m_file.unit(1, "").scanner, "ORBIX-4000");

    // A second press while the first program has not opened the scanner.
    EXPECT_FALSE(l.launch(kScanPress));
    EXPECT_EQ(m_reports.back(), (std::pair<std::string, int>{"10.0.0.7", 2}));
    EXPECT_EQ(m_started.size(), 1u);
    // The device was locked: the program scans; the next press is admitted.
    l.scannerTaken();
    EXPECT_TRUE(l.launch(kScanPress));
    EXPECT_EQ(m_started.size(), 2u);
}

TEST_F(LauncherTest, SendToButtonsUseTheirNumbersKeysAndAKnownUnitBecomesCurrent)
{
    ASSERT_TRUE(m_file.write("1", key::kIp, "10.0.0.1"));
    ASSERT_TRUE(m_file.write("2", key::kIp, "10.0.0.7"));
    ASSERT_TRUE(m_file.writeNumber("Common", key::kTotal, 2));
    configure("Send3", "/bin/three");
    configure("Scan", "/bin/scan");
    Launcher l = launcher();
    EXPECT_TRUE(l.launch({"10.0.0.7", 0x403, "bob", "X"}));
    ASSERT_EQ(m_started.size(), 1u);
    EXPECT_EQ(m_started[0].argv[0], "/bin/three");
    EXPECT_EQ(m_file.current(0), 2u);
    EXPECT_EQ(m_file.total(), 2u);
}

TEST_F(LauncherTest, NothingConfiguredAFailedStartOrNoButton)
{
    Launcher l = launcher();
    EXPECT_FALSE(l.launch(kScanPress)); // nothing configured
    EXPECT_EQ(m_reports, (Reports{{"10.0.0.7", 1}}));
    EXPECT_EQ(m_prepared.size(), 1u) << "the data sources are prepared all the same";

    configure("Scan", "/no/such/program");
    m_startFails = true;
    EXPECT_FALSE(l.launch(kScanPress));
    EXPECT_EQ(m_reports.back().second, 1);
    EXPECT_FALSE(l.pending()) << "a failed start leaves nothing pending";

    m_reports.clear();
    EXPECT_FALSE(l.launch({"10.0.0.7", 0x000, "u", "X"}));
    EXPECT_TRUE(m_reports.empty()) << "flags 0: nothing reported";
    EXPECT_EQ(m_started.size(), 1u);
}

TEST_F(LauncherTest, ABusyTransportTurnsThePressAway)
{
    configure("Scan", "/bin/scan");
    m_transportBusy = true;
    Launcher l = launcher();
    EXPECT_FALSE(l.launch(kScanPress));
    EXPECT_EQ(m_reports, (Reports{{"10.0.0.7", 2}}));
    EXPECT_TRUE(m_started.empty());
    EXPECT_TRUE(m_prepared.empty()) << "a busy PC touches nothing";
    EXPECT_EQ(m_file.total(), 0u);
}

TEST_F(LauncherTest, TheWatchEndsQuietlyWhenTheScannerIsOpenedElseReportsThree)
{
    configure("Scan", "/bin/scan");
    Launcher quiet = launcher(3);
    ASSERT_TRUE(quiet.launch(kScanPress));
    EXPECT_TRUE(quiet.tick());
    m_transportBusy = true; // the program loaded the transport
    EXPECT_FALSE(quiet.tick());
    EXPECT_FALSE(quiet.pending());
    EXPECT_EQ(m_reports, (Reports{{"10.0.0.7", 0}}));

    m_transportBusy = false;
    Launcher slow = launcher(3);
    ASSERT_TRUE(slow.launch(kScanPress));
    int ticks = 0;
    while (slow.tick())
        ++ticks;
    EXPECT_EQ(ticks, 4) << "more than the limit of 3";
    EXPECT_EQ(m_reports.back(), (std::pair<std::string, int>{"10.0.0.7", 3}));
    EXPECT_FALSE(slow.pending());
}

TEST_F(LauncherTest, StartedProgramsAreReaped)
{
    configure("Scan", "/bin/scan");
    Launcher l = launcher();
    ASSERT_TRUE(l.launch(kScanPress));
    EXPECT_EQ(l.childrenRunning(), 1u);
    for (int i = 0; i < 200 && l.childrenRunning() != 0; ++i) {
        std::this_thread::sleep_for(10ms);
        l.reapChildren();
    }
    EXPECT_EQ(l.childrenRunning(), 0u) << "no zombie left";
}

} // namespace
} // namespace lumarc::eventmod
