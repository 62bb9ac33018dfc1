// The lumarc command against a simulated unit (inside the test namespace).
#include "platform/tests/temp_folder.h"
#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/unit_address.h"
#include "shared/settings_file.h"
#include "tools/lumarc_command.h"
#include "tools/regsvr_command.h"
#include "unitsim/simulated_unit.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace lumarc::tools {
namespace {

constexpr const char* kUnit = "127.0.0.2";
constexpr const char* kPin = "2468";

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

class LumarcCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        unitsim::UnitConfig config;
        config.adminPin = kPin;
        config.address = *platform::resolveUnitAddress(kUnit);
        auto unit = unitsim::SimulatedUnit::start(config);
        ASSERT_TRUE(unit) << unit.error().text;
        m_unit = std::move(*unit);
        ::unsetenv("LUMARC_PIN");
        ::unsetenv("LUMARC_UNIT");
    }
    Outcome run(std::vector<std::string> args, const std::string& input = "")
    {
        args.insert(args.begin(), {"--unit", kUnit});
        std::istringstream in(input);
        std::ostringstream out, err;
        const int code = runLumarc(args, in, out, err);
        return {code, out.str(), err.str()};
    }

    // The program on a terminal of its own, answered as a person would: each
    // answer is typed once its prompt shows (a PIN prompt throws away what
    // was typed ahead). The screen is everything the terminal showed.
    struct TerminalRun {
        int status;
        std::string screen;
    };
    TerminalRun onTerminal(std::vector<std::string> args,
                           const std::vector<std::pair<std::string, std::string>>& dialogue)
    {
        args.insert(args.begin(), {(platform::programFolder() / "lumarc").string(), "--unit", kUnit});
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        int terminal = -1;
        const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
        if (child == 0) {
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        EXPECT_GT(child, 0);
        std::string screen;
        const auto readSome = [&] {
            pollfd ready{terminal, POLLIN, 0};
            char bytes[512];
            if (::poll(&ready, 1, 10000) != 1)
                return false;
            const ssize_t n = ::read(terminal, bytes, sizeof bytes);
            if (n <= 0)
                return false; // EIO once the program has ended
            screen.append(bytes, static_cast<size_t>(n));
            return true;
        };
        size_t seen = 0;
        for (const auto& [prompt, answer] : dialogue) {
            while (screen.find(prompt, seen) == std::string::npos && readSome()) {
            }
            seen = screen.size();
            (void)!::write(terminal, answer.data(), answer.size());
        }
        while (readSome()) {
        }
        ::close(terminal);
        int status = 0;
        ::waitpid(child, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, screen};
    }

    lumarc::testing::SandboxEnvironment m_sandbox;
    std::unique_ptr<unitsim::SimulatedUnit> m_unit;
};

TEST_F(LumarcCommand, InfoShowsNameFirmwareNetworkAndScanner)
{
    const Outcome info = run({"info"});
    ASSERT_EQ(info.code, kLumarcOk) << info.err;
    for (const char* part : {"LUMARC-SIM", "LM-2.10.0031", "255.255.255.0", "02:4c:4d:00:00:02",
                             "ORBIX-4000", "VELORIN"})
        EXPECT_NE(info.out.find(part), std::string::npos) << part << "\n" << info.out;

    const Outcome json = run({"--json", "name"});
    EXPECT_EQ(json.out, "{\"unit\":\"127.0.0.2\",\"name\":\"LUMARC-SIM\",\"triggerPort\":10002}\n");
}

TEST_F(LumarcCommand, AdministratorCommandsRunInsideMaintenanceModeWithThePinFromStdin)
{
    ASSERT_TRUE(m_unit->state().preloadUser({"alice", "1", "pc-a"}));
    const Outcome users = run({"--pin", "-", "--json", "users"}, std::string(kPin) + "\n");
    ASSERT_EQ(users.code, kLumarcOk) << users.err;
    EXPECT_EQ(users.out, "[{\"slot\":1,\"name\":\"alice\",\"host\":\"pc-a\"}]\n");
    EXPECT_EQ(users.out.find(kPin), std::string::npos) << "the PIN is never echoed";
    const auto requests = m_unit->management().requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].bytes[8], 0x50); // 0x150 enter
    EXPECT_EQ(requests[2].bytes[8], 0x51); // 0x151 leave
    EXPECT_FALSE(m_unit->state().inMaintenance());
}

TEST_F(LumarcCommand, FailureExitsNonZeroWithTheCodeAndItsMeaning)
{
    // The meaning first, in the system's words; the number with --verbose.
    const Outcome wrong = run({"--pin", "-", "users"}, "0000\n");
    EXPECT_EQ(wrong.code, 4) << "refused credentials";
    EXPECT_NE(wrong.err.find("entering maintenance mode: wrong PIN\n"), std::string::npos)
        << wrong.err;
    EXPECT_EQ(wrong.err.find("0x"), std::string::npos) << wrong.err;

    const Outcome off = run({"--unit", "127.0.0.9", "name"});
    EXPECT_EQ(off.code, 3) << "unreachable";
    EXPECT_NE(off.err.find("reading the unit name: Connection refused\n"), std::string::npos)
        << off.err;
    EXPECT_NE(off.err.find("is 127.0.0.9 a Lumarc unit"), std::string::npos) << off.err;
    const Outcome verbose = run({"--unit", "127.0.0.9", "-v", "name"});
    EXPECT_NE(verbose.err.find("Connection refused (0x0000274D)"), std::string::npos)
        << verbose.err;
    const Outcome json = run({"--unit", "127.0.0.9", "--json", "name"});
    EXPECT_EQ(json.out, "{\"unit\":\"127.0.0.9\",\"error\":\"reading the unit name\","
                        "\"reason\":\"Connection refused\",\"code\":\"0x0000274D\"}\n");

    // A failure inside maintenance mode still leaves the mode.
    const Outcome missing = run({"--pin", kPin, "user-delete", "nobody"});
    EXPECT_EQ(missing.code, kLumarcFailed);
    EXPECT_NE(missing.err.find("no such user"), std::string::npos) << missing.err;
    EXPECT_FALSE(m_unit->state().inMaintenance());
}

TEST_F(LumarcCommand, UsersAreRegisteredChangedAndDeleted)
{
    ASSERT_EQ(run({"--user-pin", "-", "--host", "192.0.2.20", "user-add", "bob"}, "7777\n").code,
              kLumarcOk);
    EXPECT_EQ(m_unit->state().users()[0].pin, "7777");
    ASSERT_EQ(run({"--pin", "-", "--user-pin", "-", "user-modify", "bob"},
                  std::string(kPin) + "\n8888\n")
                  .code,
              kLumarcOk);
    EXPECT_EQ(m_unit->state().users()[0].pin, "8888");
    ASSERT_EQ(run({"--pin", kPin, "user-delete", "bob"}).code, kLumarcOk);
    EXPECT_TRUE(m_unit->state().users()[0].name.empty());
}

TEST_F(LumarcCommand, BackupAndRestoreTheUserTableThroughAFile)
{
    ASSERT_TRUE(m_unit->state().preloadUser({"carol", "3", "pc-c"}));
    const std::string file = (m_sandbox.root() / "users.bak").string();
    ASSERT_EQ(run({"--pin", kPin, "--key", "secret", "backup", file}).code, kLumarcOk);
    EXPECT_EQ(std::filesystem::file_size(file), 344320u);
    ASSERT_EQ(run({"--pin", kPin, "user-delete", "carol"}).code, kLumarcOk);
    EXPECT_EQ(run({"--pin", kPin, "--key", "secret", "restore", file}).code, kLumarcUsage)
        << "a destructive command without a terminal needs --yes";
    EXPECT_TRUE(m_unit->state().users()[0].name.empty());
    ASSERT_EQ(run({"--pin", kPin, "--key", "secret", "--yes", "restore", file}).code, kLumarcOk);
    EXPECT_EQ(m_unit->state().users()[0].name, "carol");

    const Outcome wrongKey = run({"--pin", kPin, "--key", "guess", "-y", "restore", file});
    EXPECT_EQ(wrongKey.code, 4) << "wrong key: refused";
    std::ofstream(file, std::ios::trunc) << "not a backup";
    EXPECT_EQ(run({"--pin", kPin, "--key", "secret", "-y", "restore", file}).code, kLumarcUsage);
}

TEST_F(LumarcCommand, OnATerminalDestructiveCommandsAskFirstAndANewPinIsTypedTwiceUnseen)
{
    ASSERT_TRUE(m_unit->state().preloadUser({"carol", "3", "pc-c"}));
    const std::string file = (m_sandbox.root() / "users.bak").string();
    ASSERT_EQ(run({"--pin", kPin, "--key", "secret", "backup", file}).code, kLumarcOk);
    ASSERT_EQ(run({"--pin", kPin, "user-delete", "carol"}).code, kLumarcOk);
    const std::vector<std::string> restore = {"--pin", kPin, "--key", "secret", "restore", file};

    for (const char* refusal : {"n\n", "\n", "whatever\n"}) {
        const TerminalRun no = onTerminal(restore, {{"[y/N] ", refusal}});
        EXPECT_EQ(no.status, kLumarcUsage) << no.screen;
        EXPECT_NE(no.screen.find("not confirmed; nothing was done"), std::string::npos) << no.screen;
        EXPECT_TRUE(m_unit->state().users()[0].name.empty()) << "nothing was restored";
    }
    const TerminalRun yes = onTerminal(restore, {{"[y/N] ", "y\n"}});
    EXPECT_EQ(yes.status, kLumarcOk) << yes.screen;
    EXPECT_EQ(m_unit->state().users()[0].name, "carol");

    const TerminalRun differ = onTerminal(
        {"--pin", kPin, "set-admin-pin"},
        {{"new administrator PIN: ", "1357\n"}, {"new administrator PIN again: ", "1358\n"}});
    EXPECT_EQ(differ.status, kLumarcUsage) << differ.screen;
    EXPECT_NE(differ.screen.find("the two new PINs differ"), std::string::npos) << differ.screen;
    EXPECT_EQ(m_unit->state().config().adminPin, kPin);

    const TerminalRun same = onTerminal(
        {"--pin", kPin, "set-admin-pin"},
        {{"new administrator PIN: ", "1357\n"}, {"new administrator PIN again: ", "1357\n"}});
    EXPECT_EQ(same.status, kLumarcOk) << same.screen;
    EXPECT_EQ(m_unit->state().config().adminPin, "1357");
    EXPECT_EQ(same.screen.find("1357"), std::string::npos) << "a PIN is never shown: " << same.screen;
}

TEST_F(LumarcCommand, RestoreRefusesAnythingButOneBackupBlockBeforeSendingAByte)
{
    constexpr size_t kBlock = 344320;
    const auto write = [&](const std::string& name, size_t bytes) {
        const std::string path = (m_sandbox.root() / name).string();
        std::ofstream(path, std::ios::binary) << std::string(bytes, '\x42');
        return path;
    };
    for (const std::string& file :
         {write("short.bak", kBlock - 1), write("long.bak", kBlock + 1), write("empty.bak", 0),
          std::string("/dev/zero"), std::string("/dev/urandom")}) {
        const Outcome r = run({"--pin", kPin, "--key", "secret", "restore", file});
        EXPECT_EQ(r.code, kLumarcUsage) << file;
        EXPECT_NE(r.err.find(file + " is not a user table backup"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("344320 bytes"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(m_unit->management().requests().empty()) << "nothing was sent to the unit";
}

TEST_F(LumarcCommand, ModesPanelReportFlashAndTests)
{
    EXPECT_EQ(run({"scanner-mode", "on"}).code, kLumarcOk);
    EXPECT_TRUE(m_unit->state().inScannerInfoMode());
    EXPECT_EQ(run({"panel", "E-12 paper jam"}).code, kLumarcOk);
    EXPECT_EQ(m_unit->state().panelTexts().back(), "E-12 paper jam");
    EXPECT_EQ(run({"report", "2"}).code, kLumarcOk);
    EXPECT_EQ(m_unit->state().applicationReports().back(), 2u);

    const std::string in = (m_sandbox.root() / "fw.bin").string();
    const std::string out = (m_sandbox.root() / "back.bin").string();
    std::ofstream(in, std::ios::binary) << "firmware!";
    ASSERT_EQ(run({"--pin", kPin, "--yes", "flash-write", "0x2000", in}).code, kLumarcOk);
    ASSERT_EQ(run({"--pin", kPin, "flash-read", "0x2000", "9", out}).code, kLumarcOk);
    std::ifstream back(out, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(back), {}), "firmware!");

    const Outcome key = run({"--json", "test", "panel-key", "0x1234"});
    EXPECT_EQ(key.out, "{\"key\":52}\n");
    EXPECT_EQ(run({"test", "lan-speed", "65536"}).code, kLumarcOk);
    EXPECT_EQ(run({"--pin", kPin, "test", "devinfo", "0102030405060708090a0b0c"}).code,
              kLumarcOk);
    EXPECT_EQ(m_unit->state().deviceInfo()[11], 0x0C);
}

TEST_F(LumarcCommand, ChangingTheAdministratorPinLeavesMaintenanceWithTheNewOne)
{
    ASSERT_EQ(run({"--pin", "-", "--new-pin", "-", "set-admin-pin"}, std::string(kPin) + "\n9753\n")
                  .code,
              kLumarcOk);
    EXPECT_EQ(m_unit->state().config().adminPin, "9753");
    EXPECT_FALSE(m_unit->state().inMaintenance());
}

TEST_F(LumarcCommand, DiscoverListsTheUnitsThatAnswer)
{
    ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
    ASSERT_TRUE(shared::SettingsFile().write("TimeOut", "SearchBox", "1"));
    const Outcome found = run({"--json", "discover"});
    ASSERT_EQ(found.code, kLumarcOk) << found.err;
    EXPECT_EQ(found.out, "[{\"address\":\"127.0.0.2\",\"name\":\"LUMARC-SIM\",\"mac\":"
                         "\"02:4c:4d:00:00:02\",\"busy\":false,\"scanner\":\"ORBIX-4000\"}]\n");
}

TEST_F(LumarcCommand, EventsPrintsEachButtonPressUntilTheCount)
{
    constexpr uint16_t kTrigger = 10778;
    ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
    ASSERT_TRUE(shared::SettingsFile().write("Common", "TrgPort", std::to_string(kTrigger)));
    std::jthread unit([&] {
        const platform::Endpoint pc{*platform::resolveUnitAddress("127.0.0.1"), kTrigger};
        unitsim::EventMessage scan;
        scan.user = "alice";
        unitsim::EventMessage sendTo;
        sendTo.flags = unitsim::kFlagSendTo | 3;
        sendTo.user = "bob";
        for (const auto& message : {scan, sendTo}) {
            for (int attempt = 0; attempt < 100; ++attempt) {
                auto outcome = m_unit->press(pc, message, std::chrono::seconds(2));
                if (outcome && outcome->greeting == 0)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
    });
    const Outcome events = run({"events", "--count", "2"});
    ASSERT_EQ(events.code, kLumarcOk) << events.err;
    EXPECT_NE(events.out.find("127.0.0.2  Scan  user alice  scanner ORBIX-4000\n"),
              std::string::npos)
        << events.out;
    EXPECT_NE(events.out.find("127.0.0.2  Send-to 3  user bob  scanner ORBIX-4000\n"),
              std::string::npos)
        << events.out;
}

TEST_F(LumarcCommand, ATakenTriggerPortSaysWhichAndHowToChangeIt)
{
    constexpr uint16_t kTrigger = 10779;
    ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
    ASSERT_TRUE(shared::SettingsFile().write("Common", "TrgPort", std::to_string(kTrigger)));
    const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(taken, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kTrigger);
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(taken, 1), 0);
    const Outcome events = run({"events", "--count", "1"});
    ::close(taken);
    EXPECT_EQ(events.code, kLumarcFailed);
    EXPECT_NE(events.err.find("opening the trigger port 10779: "), std::string::npos)
        << events.err;
    EXPECT_NE(events.err.find("port 10779 is taken"), std::string::npos) << events.err;
    EXPECT_NE(events.err.find("lumarc-ini set --settings Common TrgPort N"), std::string::npos);
    EXPECT_EQ(events.err.find("0x"), std::string::npos) << "numbers only with --verbose";
}

TEST_F(LumarcCommand, WrongCommandLinesAreUsageErrors)
{
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"frobnicate"}, {"name", "extra"}, {"maintenance", "maybe"},
             {"report", "three"}, {"--bogus", "name"}, {"backup", "f"},
             {"set-name", std::string(48, 'x')}, {"test", "warp"}}) {
        const Outcome o = run(args, std::string(kPin) + "\n");
        EXPECT_EQ(o.code, kLumarcUsage) << (args.empty() ? "" : args[0]);
        EXPECT_NE(o.err.find("lumarc --help"), std::string::npos);
    }
    EXPECT_EQ(run({"--pin", "-", "users"}, "").code, kLumarcUsage) << "no PIN on stdin";

    // Values are checked before anything is sent.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--trigger-port", "70000", "--pin", kPin, "set-name", "x"},
             {"--trigger-port=1999", "--pin", kPin, "set-name", "x"},
             {"--host", "pc one", "--user-pin", "1", "user-add", "bob"},
             {"--host=300.1.2.3", "--user-pin", "1", "user-add", "bob"},
             {"--host=-x", "--user-pin", "1", "user-add", "bob"},
             {"--user-pin", "1", "user-add", std::string(32, 'u')},
             {"set-name", ""},
             {"report", "4"},
             {"panel", std::string(65, 'p')},
             {"--timeout", "0", "name"},
             {"--count", "-1", "events"}}) {
        const Outcome o = run(args, std::string(kPin) + "\n");
        EXPECT_EQ(o.code, kLumarcUsage) << args[0] << " " << args.back();
    }
    EXPECT_TRUE(m_unit->management().requests().empty()) << "nothing was sent";
}

TEST_F(LumarcCommand, OneSyntaxForOptionsHelpAndArguments)
{
    // --opt=value, options after the command, "--" before an argument that
    // begins with "-".
    EXPECT_EQ(run({"panel", "--", "-12 paper jam"}).code, kLumarcOk);
    EXPECT_EQ(m_unit->state().panelTexts().back(), "-12 paper jam");
    EXPECT_EQ(run({"report", "2", "--quiet"}).out, "") << "--quiet prints nothing but errors";
    const Outcome help = run({"help", "panel"});
    EXPECT_EQ(help.code, kLumarcOk);
    EXPECT_NE(help.out.find("Usage: lumarc [OPTION]... panel TEXT"), std::string::npos) << help.out;
    EXPECT_EQ(run({"panel", "--help"}).out, help.out);
    EXPECT_NE(run({"--help"}).out.find("Exit status: 0 success, 1 failure, 2"), std::string::npos);
    EXPECT_NE(run({"-V"}).out.find("lumarc (Lumarc) "), std::string::npos);
    // Under --json, errors are JSON too, and every result names its unit.
    EXPECT_EQ(run({"--json", "report", "3"}).out,
              "{\"unit\":\"127.0.0.2\",\"ok\":true,\"done\":\"report sent\"}\n");
    const Outcome bad = run({"--json", "report", "9"});
    EXPECT_EQ(bad.code, kLumarcUsage);
    EXPECT_EQ(bad.out.rfind("{\"error\":", 0), 0u) << bad.out;
}

TEST_F(LumarcCommand, FilesAreOpenedFirstWrittenWholeAndDashIsStandardInOrOut)
{
    namespace fs = std::filesystem;
    ASSERT_TRUE(m_unit->state().preloadUser({"dora", "4", "pc-d"}));
    // A wrong output path costs no request and names the real cause.
    const Outcome missing =
        run({"--pin", kPin, "--key", "k", "backup", (m_sandbox.root() / "no/users.bak").string()});
    EXPECT_EQ(missing.code, kLumarcFailed);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.err.find("No space"), std::string::npos) << missing.err;
    EXPECT_TRUE(m_unit->management().requests().empty());
    EXPECT_EQ(run({"--pin", kPin, "--key", "k", "backup", m_sandbox.root().string()}).code,
              kLumarcFailed)
        << "a folder is no file";

    // The key from standard input, the backup owner-only.
    const fs::path file = m_sandbox.root() / "users.bak";
    ASSERT_EQ(run({"--pin", "-", "--key", "-", "backup", file.string()},
                  std::string(kPin) + "\nk\n")
                  .code,
              kLumarcOk);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::group_all, fs::perms::none);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::others_all, fs::perms::none);

    // "-" restores from standard input, never from a file named "-".
    const std::string block = *platform::readWholeFile(file);
    ASSERT_EQ(run({"--pin", kPin, "--key", "k", "-y", "restore", "-"}, block).code, kLumarcOk);
    EXPECT_FALSE(fs::exists("-"));

    // A flash dump to a device stays a device.
    EXPECT_EQ(run({"--pin", kPin, "flash-read", "0x2000", "16", "/dev/null"}).code, kLumarcOk);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(LumarcCommand, JsonIsValidUtf8WhateverTheUnitSends)
{
    unitsim::UnitConfig config = m_unit->state().config();
    config.name = "Caf\xe9 \xe2\x82\xac \xc0";
    m_unit.reset();
    auto unit = unitsim::SimulatedUnit::start(config);
    ASSERT_TRUE(unit);
    m_unit = std::move(*unit);
    const Outcome name = run({"--json", "name"});
    ASSERT_EQ(name.code, kLumarcOk) << name.err;
    EXPECT_NE(name.out.find("\"name\":\"Caf\\u00e9 \xe2\x82\xac \\u00c0\""), std::string::npos)
        << name.out;
}

// lumarc sti goes through COM to the still-image server, which serves the
// current unit of the shared settings file.
TEST_F(LumarcCommand, StiListsTheDeviceAndRunsAnInquiryThroughTheServer)
{
    const auto sti = [](std::vector<std::string> args) {
        std::istringstream in;
        std::ostringstream out, err;
        const int code = runLumarc(args, in, out, err);
        return Outcome{code, out.str(), err.str()};
    };
    const Outcome unregistered = sti({"sti", "list"});
    EXPECT_EQ(unregistered.code, kLumarcFailed);
    EXPECT_NE(unregistered.err.find("0x80040154"), std::string::npos) << unregistered.err;
    EXPECT_NE(unregistered.err.find("lumarc-regsvr"), std::string::npos) << unregistered.err;

    std::ostringstream quiet;
    ASSERT_EQ(runRegsvr({(platform::programFolder() / "libquentysti.so").string()}, quiet, quiet),
              kRegsvrOk)
        << quiet.str();
    shared::SettingsFile settings;
    ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
    ASSERT_TRUE(settings.write("1", "IP", kUnit));

    const Outcome list = sti({"sti", "list"});
    ASSERT_EQ(list.code, kLumarcOk) << list.err;
    for (const char* part : {"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000", "VELORIN",
                             "ORBIX-4000 on NET", "\\\\.\\Usbscan0"})
        EXPECT_NE(list.out.find(part), std::string::npos) << part << "\n" << list.out;

    const Outcome inquiry = sti({"--json", "sti", "inquiry"});
    ASSERT_EQ(inquiry.code, kLumarcOk) << inquiry.err;
    EXPECT_EQ(inquiry.out, "{\"vendor\":\"VELORIN\",\"product\":\"ORBIX-4000\",\"revision\":"
                           "\"1.07\",\"status\":1,\"scsiStatus\":0,\"hostAdapterStatus\":0,"
                           "\"sense\":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]}\n");
    ASSERT_EQ(m_unit->tunnel()->requests().size(), 1u);

    unitsim::TunnelFaults busy;
    busy.failOpcode = 0x12;
    busy.failStatus = 0x08;
    m_unit->tunnel()->setFaults(busy);
    const Outcome refused = sti({"sti", "inquiry"});
    EXPECT_EQ(refused.code, kLumarcFailed);
    EXPECT_NE(refused.out.find("0x05 (scanner busy)"), std::string::npos) << refused.out;

    EXPECT_EQ(sti({"sti"}).code, kLumarcUsage);
    EXPECT_EQ(sti({"sti", "scan"}).code, kLumarcUsage);
    EXPECT_EQ(sti({"-u", kUnit, "sti", "list"}).code, kLumarcUsage) << "the current unit only";
}

TEST_F(LumarcCommand, ScannerShowsThePagesDirectlyOrThroughTheSelectedUnit)
{
    // -u: through the transport, in scanner-information mode, the settings
    // file left alone (it does not even exist afterwards).
    const Outcome direct = run({"--json", "scanner"});
    ASSERT_EQ(direct.code, kLumarcOk) << direct.err;
    for (const char* part : {"\"modelClass\":15", "\"label\":\"Firmware Ver.(MDC)\",\"value\":\"0210\"",
                             "\"first\":{\"label\":\"Brake Roller:\",\"value\":48000}",
                             "\"countersRead\":true", "\"powerSavingMinutes\":20"})
        EXPECT_NE(direct.out.find(part), std::string::npos) << part << "\n" << direct.out;
    EXPECT_FALSE(std::filesystem::exists(shared::settingsFilePath()));
    EXPECT_FALSE(m_unit->state().inScannerInfoMode()) << "left at the end";
    const auto written = [&] {
        for (const auto& r : m_unit->tunnel()->requests())
            if (r.dataOutLength > 16)
                return true;
        return false;
    };
    EXPECT_FALSE(written()) << "nothing is written";

    // Without -u: the selected unit through COM, as the tool goes.
    std::ostringstream quiet;
    ASSERT_EQ(runRegsvr({(platform::programFolder() / "libquentysti.so").string()}, quiet, quiet),
              kRegsvrOk);
    shared::SettingsFile settings;
    ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
    ASSERT_TRUE(settings.write("Common", "Select", "2"));
    ASSERT_TRUE(settings.write("Common", "Current", "1"));
    ASSERT_TRUE(settings.write("2", "IP", kUnit));
    ASSERT_TRUE(settings.write("2", "Scanner", "ORBIX-4000"));
    std::istringstream in;
    std::ostringstream out, err;
    ASSERT_EQ(runLumarc({"scanner"}, in, out, err), kLumarcOk) << err.str();
    EXPECT_NE(out.str().find("Brake Roller:"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("Endorser Firmware Ver."), std::string::npos);
    EXPECT_EQ(settings.current(0), 2u) << "Current follows Select, as in the tool";
    EXPECT_FALSE(m_unit->state().inScannerInfoMode());

    ASSERT_TRUE(settings.write("Common", "Select", "0"));
    std::ostringstream none, noneErr;
    EXPECT_EQ(runLumarc({"scanner"}, in, none, noneErr), kLumarcFailed);
    EXPECT_NE(noneErr.str().find("The image scanner not found."), std::string::npos);
    EXPECT_EQ(runLumarc({"scanner", "extra"}, in, none, noneErr), kLumarcUsage);
}

} // namespace
} // namespace lumarc::tools
