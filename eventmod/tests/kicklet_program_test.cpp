// The real kicklet program against simulated units, inside the test network
// namespace: start-up, refresh handshake, button launches with their
// reports, panel relays, error reports, signals.
#include "eventmod/event_module.h"

#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/message_window.h"
#include "platform/named_mutex.h"
#include "platform/net_socket.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/shared_memory.h"
#include "platform/tests/temp_folder.h"
#include "platform/unit_address.h"
#include "shared/settings_file.h"
#include "unitsim/simulated_unit.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace lumarc::eventmod {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace key = shared::key;

constexpr uint16_t kTriggerPort = 10778;

template <class Condition> bool eventually(Condition condition, std::chrono::milliseconds limit = 10s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// What an installer of the error-guide files records.
Status registerErrorGuides(const fs::path& folder)
{
    return platform::Registry().setValue(
        platform::RegistryRoot::LocalMachine,
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\KemrGuid.exe", "Path",
        folder.string());
}

class KickletProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
        ASSERT_TRUE(m_file.write("Common", key::kTrgPort, std::to_string(kTriggerPort)));
        ASSERT_TRUE(m_file.write("TimeOut", key::kSearchBox, "1"));
        ASSERT_TRUE(m_file.write("TimeOut", key::kMonIf, "2"));
        ::setenv("LUMARC_LAUNCH_WATCH_SECONDS", "2", 1);
        ::setenv("LUMARC_DEBUG", "0", 1);
        m_first = unit("127.0.0.2", "Front desk");
        m_second = unit("127.0.0.3", "Back office");
        // The program started for buttons records its arguments and folder.
        m_record = m_sandbox.root() / "launched.txt";
        m_script = m_sandbox.root() / "scan app" / "record";
        fs::create_directories(m_script.parent_path());
        std::ofstream(m_script) << "#!/bin/sh\n"
                                   "pwd > '"
                                << m_record.string()
                                << ".tmp'\nfor a in \"$@\"; do echo \"$a\" >> '" << m_record.string()
                                << ".tmp'; done\nmv '" << m_record.string() << ".tmp' '"
                                << m_record.string() << "'\n";
        ::chmod(m_script.c_str(), 0755);
    }
    void TearDown() override
    {
        if (m_kicklet && m_kicklet->running()) {
            (void)m_kicklet->terminate(SIGTERM);
            EXPECT_EQ(m_kicklet->wait(10s), std::optional<int>(0)) << "clean end on SIGTERM";
        }
        ::unsetenv("LUMARC_LAUNCH_WATCH_SECONDS");
    }
    std::unique_ptr<unitsim::SimulatedUnit> unit(const std::string& address, const std::string& name)
    {
        unitsim::UnitConfig config;
        config.address = *platform::resolveUnitAddress(address);
        config.name = name;
        config.triggerPort = kTriggerPort;
        config.mac[5] = static_cast<uint8_t>(address.back());
        auto started = unitsim::SimulatedUnit::start(config);
        EXPECT_TRUE(started) << started.error().text;
        return started ? std::move(*started) : nullptr;
    }
    // Starts kicklet; its standard error goes to a file of the sandbox.
    platform::Process startKicklet()
    {
        const fs::path log = m_sandbox.root() / "kicklet.err";
        const int saved = ::dup(STDERR_FILENO);
        const int file = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        ::dup2(file, STDERR_FILENO);
        auto process = platform::Process::start(
            {(platform::programFolder() / "kicklet").string(), "--foreground"});
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        ::close(file);
        EXPECT_TRUE(process) << process.error().text;
        return std::move(*process);
    }
    void start()
    {
        m_kicklet.emplace(startKicklet());
        ASSERT_TRUE(eventually([] { return platform::findWindow("Kicklet") != 0; }))
            << "the window appears";
        // Its first refresh is over when it answers one of ours.
        ASSERT_TRUE(refresh());
    }
    // The configuration tool's handshake.
    bool refresh()
    {
        if (!m_file.write("Common", key::kRefresh, "0"))
            return false;
        const auto window = platform::findWindow("Kicklet");
        if (window == 0 || !platform::postMessage(window, shared::kRefreshRequest))
            return false;
        return eventually([&] { return m_file.refresh() == 1; }, 20s);
    }
    bool press(unitsim::SimulatedUnit& unit, uint32_t code, uint32_t flags, const std::string& user)
    {
        unitsim::EventMessage message;
        message.code = code;
        message.flags = flags;
        message.user = user;
        // The listener serves one connection at a time: until it has seen
        // the unit's previous connection closed, the unit is turned away
        // and tries again, as a unit does.
        for (int attempt = 0; attempt < 100; ++attempt) {
            auto outcome = unit.press({*platform::resolveUnitAddress("127.0.0.1"), kTriggerPort},
                                      message, 5s);
            if (!outcome)
                return false;
            if (outcome->greeting == 0)
                return outcome->acknowledged;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    void configureScan(const std::string& options)
    {
        platform::Profile launch(shared::launchFilePath());
        ASSERT_TRUE(launch.writeString("Launch", "Scan_Apl", m_script.string()));
        ASSERT_TRUE(launch.writeString("Launch", "Scan_Opt", options));
    }
    std::vector<std::string> launchedWith()
    {
        auto text = platform::readWholeFile(m_record);
        std::vector<std::string> lines;
        if (!text)
            return lines;
        size_t start = 0;
        for (size_t end; (end = text->find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text->substr(start, end - start));
        return lines;
    }
    std::string errors() { return platform::readWholeFile(m_sandbox.root() / "kicklet.err").valueOr(""); }

    lumarc::testing::SandboxEnvironment m_sandbox;
    shared::SettingsFile m_file;
    std::unique_ptr<unitsim::SimulatedUnit> m_first, m_second;
    fs::path m_record, m_script;
    std::optional<platform::Process> m_kicklet;
};

TEST_F(KickletProgram, RefreshFindsTheUnitsAndASecondCopyEndsSilently)
{
    // A unit marked for deletion and Current behind it.
    ASSERT_TRUE(m_file.write("1", key::kIp, "10.9.9.9"));
    ASSERT_TRUE(m_file.write("1", key::kStatus, "5"));
    ASSERT_TRUE(m_file.write("2", key::kIp, "127.0.0.3"));
    ASSERT_TRUE(m_file.write("2", key::kAuto, "0"));
    ASSERT_TRUE(m_file.writeNumber("Common", key::kTotal, 2));
    ASSERT_TRUE(m_file.writeNumber("Common", key::kCurrent, 2));
    start();
    EXPECT_EQ(m_file.total(), 2u);
    EXPECT_EQ(m_file.current(0), 1u) << "Current moved with its section";
    const auto first = m_file.unit(1, "");
    EXPECT_EQ(first.ip, "127.0.0.3");
    EXPECT_EQ(first.netBoxName, "Back office");
    EXPECT_EQ(first.status, 1u);
    EXPECT_EQ(first.scanner, "ORBIX-4000");
    const auto second = m_file.unit(2, "");
    EXPECT_EQ(second.ip, "127.0.0.2") << "appended from the broadcast";
    EXPECT_EQ(second.autoFound, 1u);
    EXPECT_EQ(second.mac, "02-4c-4d-00-00-32");

    const std::string before = platform::readWholeFile(m_file.path()).valueOr("");
    auto again = startKicklet();
    EXPECT_EQ(again.wait(5s), std::optional<int>(0)) << "a second copy ends at once";
    EXPECT_EQ(platform::readWholeFile(m_file.path()).valueOr(""), before) << "file untouched";
    EXPECT_TRUE(m_kicklet->running());
}

TEST_F(KickletProgram, AButtonStartsTheProgramAndTheUnitHearsHowItWent)
{
    configureScan("/user /q \"-o x y\"");
    start();
    ASSERT_TRUE(press(*m_first, 1, 0x100, "user one"));
    ASSERT_TRUE(eventually([&] { return !launchedWith().empty(); }));
    EXPECT_EQ(launchedWith(), (std::vector<std::string>{(m_sandbox.root() / "scan app").string(),
                                                        "/USER:user one", "/q", "-o x y"}));
    ASSERT_TRUE(eventually([&] { return !m_first->state().applicationReports().empty(); }));
    EXPECT_EQ(m_first->state().applicationReports(), std::vector<uint32_t>{0});
    EXPECT_EQ(m_file.unit(m_file.current(0), "").ip, "127.0.0.2") << "the unit became current";

    // A second press while the program has not opened the scanner: busy.
    ASSERT_TRUE(press(*m_first, 1, 0x100, "user one"));
    ASSERT_TRUE(eventually([&] { return m_first->state().applicationReports().size() == 2; }));
    EXPECT_EQ(m_first->state().applicationReports()[1], 2u);
    // The program never opens the scanner: report 3 after the watch limit.
    ASSERT_TRUE(eventually([&] { return m_first->state().applicationReports().size() == 3; }));
    EXPECT_EQ(m_first->state().applicationReports()[2], 3u);
}

TEST_F(KickletProgram, ScannerLocksTheTransportMutexAndOtherEvents)
{
    configureScan("");
    start();
    // An event of another kind (wParam 3) is written to the event map only.
    ASSERT_TRUE(press(*m_first, 5, 0x100, "x"));
    auto map = platform::SharedMemory::create("QuentyEventMap", 10);
    ASSERT_TRUE(map);
    EXPECT_TRUE(eventually([&] { return map->data()[0] == std::byte{3}; }));
    EXPECT_TRUE(launchedWith().empty()) << "nothing started";

    ASSERT_TRUE(press(*m_first, 1, 0x100, "x"));
    ASSERT_TRUE(eventually([&] { return !m_first->state().applicationReports().empty(); }));
    EXPECT_EQ(map->data()[0], std::byte{1});
    // The still-image device locks and unlocks the scanner: panel "0", "1",
    // and the lock ends the launch watch, so the next press is admitted.
    const auto window = platform::findWindow("Kicklet");
    ASSERT_TRUE(platform::postMessage(window, kScannerLocked));
    ASSERT_TRUE(platform::postMessage(window, kScannerUnlocked));
    ASSERT_TRUE(eventually([&] { return m_first->state().panelTexts().size() >= 2; }));
    EXPECT_EQ(m_first->state().panelTexts(), (std::vector<std::string>{"0", "1"}));
    ASSERT_TRUE(press(*m_first, 1, 0x100, "x"));
    ASSERT_TRUE(eventually([&] { return m_first->state().applicationReports().size() == 2; }));
    EXPECT_EQ(m_first->state().applicationReports()[1], 0u);

    // A scan in progress (the transport mutex exists): busy, and the watch
    // of the program just started ends quietly.
    auto transport = platform::NamedMutex::create("Drovik32MutexObject");
    ASSERT_TRUE(transport);
    ASSERT_TRUE(press(*m_first, 1, 0x100, "x"));
    ASSERT_TRUE(eventually([&] { return m_first->state().applicationReports().size() == 3; }));
    EXPECT_EQ(m_first->state().applicationReports()[2], 2u);
    std::this_thread::sleep_for(3500ms);
    EXPECT_EQ(m_first->state().applicationReports().size(), 3u) << "no report 3";
}

TEST_F(KickletProgram, ScannerErrorReportsReachThePanelThroughTheErrorGuide)
{
    lumarc::testing::TempFolder guides;
    std::ofstream(guides.path() / "KEMRGUID.ini") << "[ErType]\n5a038001=Close the cover\n";
    ASSERT_TRUE(registerErrorGuides(guides.path()));
    ::setenv("LANG", "C", 1);
    start();
    ASSERT_TRUE(m_file.writeNumber("Common", key::kCurrent, 1));
    const auto window = platform::findWindow("Kicklet");
    std::vector<uint8_t> report(288, 0);
    report[20] = 0x03, report[21] = 0x80, report[22] = 0x01, report[23] = 0x5A;
    // Ignored: another descriptor, another size.
    ASSERT_TRUE(platform::sendCopyData(window, 0, 0x44444445, report));
    ASSERT_TRUE(platform::sendCopyData(window, 0, 0x44444444, std::span(report).first(287)));
    ASSERT_TRUE(platform::sendCopyData(window, 0, 0x44444444, report));
    unitsim::SimulatedUnit& current = m_file.unit(1, "").ip == "127.0.0.2" ? *m_first : *m_second;
    ASSERT_TRUE(eventually([&] { return !current.state().panelTexts().empty(); }));
    EXPECT_EQ(current.state().panelTexts(), std::vector<std::string>{"Close the cover"});
}

TEST_F(KickletProgram, ATakenTriggerPortIsReportedAndTheRestWorks)
{
    auto taken = platform::listenTcp({0, kTriggerPort});
    ASSERT_TRUE(taken);
    start();
    EXPECT_NE(errors().find("The trigger port is already used by other application."),
              std::string::npos)
        << errors();
    EXPECT_EQ(m_file.total(), 2u) << "the refresh still runs";
}

// Runs the lumarc command; returns its exit status and standard output.
std::pair<int, std::string> lumarc(const std::string& arguments, const fs::path& scratch)
{
    const fs::path out = scratch / "lumarc.out";
    const std::string command = (platform::programFolder() / "lumarc").string() + " " + arguments +
                                " > '" + out.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, platform::readWholeFile(out).valueOr("")};
}

TEST_F(KickletProgram, TheLumarcCommandRefreshesAndReportsThroughIt)
{
    auto [code, text] = lumarc("refresh", m_sandbox.root());
    EXPECT_EQ(code, 1);
    EXPECT_NE(text.find("no event module is running"), std::string::npos) << text;

    start();
    ASSERT_TRUE(m_file.write("2", key::kStatus, "5")); // the configuration tool deletes one
    std::tie(code, text) = lumarc("refresh", m_sandbox.root());
    EXPECT_EQ(code, 0) << text;
    EXPECT_EQ(m_file.total(), 2u) << "the deleted unit was found again and appended";
    EXPECT_NE(text.find("127.0.0.2  Front desk  active  ORBIX-4000"), std::string::npos) << text;
    EXPECT_NE(text.find("127.0.0.3  Back office  active  ORBIX-4000"), std::string::npos) << text;

    lumarc::testing::TempFolder guides;
    std::ofstream(guides.path() / "KEMRGUID.ini") << "[ErType]\n00044400=Replace the lamp\n";
    ASSERT_TRUE(registerErrorGuides(guides.path()));
    ASSERT_TRUE(m_file.writeNumber("Common", key::kCurrent, 1));
    unitsim::SimulatedUnit& current = m_file.unit(1, "").ip == "127.0.0.2" ? *m_first : *m_second;
    std::tie(code, text) = lumarc("report-error '04 44 00 07'", m_sandbox.root());
    EXPECT_EQ(code, 0) << text;
    EXPECT_TRUE(eventually([&] { return !current.state().panelTexts().empty(); }));
    EXPECT_EQ(current.state().panelTexts(), std::vector<std::string>{"Replace the lamp"});
    std::tie(code, text) = lumarc("report-error 0444", m_sandbox.root());
    EXPECT_EQ(code, 2) << "four bytes or nothing";
}

TEST_F(KickletProgram, TheStillImageDeviceLocksAndUnlocksThroughIt)
{
    // Registered as an installer does, then used as the scanner tool does:
    // LockDevice, Escape, UnLockDevice from another process.
    const auto bin = platform::programFolder();
    ASSERT_EQ(std::system(((bin / "lumarc-regsvr").string() + " " +
                           (bin / "libquentysti.so").string() + " > /dev/null")
                              .c_str()),
              0);
    start();
    const uint32_t index = m_file.unit(1, "").ip == "127.0.0.2" ? 1 : 2;
    ASSERT_TRUE(m_file.writeNumber("Common", key::kCurrent, index));
    auto [code, text] = lumarc("sti inquiry", m_sandbox.root());
    EXPECT_EQ(code, 0) << text;
    EXPECT_NE(text.find("ORBIX-4000"), std::string::npos) << text;
    ASSERT_TRUE(eventually([&] { return m_first->state().panelTexts().size() >= 2; }));
    EXPECT_EQ(m_first->state().panelTexts(), (std::vector<std::string>{"0", "1"}));
}

TEST_F(KickletProgram, EndsCleanlyOnEachTerminationSignal)
{
    for (int signal : {SIGINT, SIGHUP, SIGTERM}) {
        start();
        ASSERT_TRUE(m_kicklet->terminate(signal));
        EXPECT_EQ(m_kicklet->wait(10s), std::optional<int>(0)) << "signal " << signal;
        EXPECT_TRUE(eventually([] { return platform::findWindow("Kicklet") == 0; }, 2s));
        EXPECT_FALSE(platform::NamedMutex::exists("KickletMutexObject"));
    }
}

} // namespace
} // namespace lumarc::eventmod
