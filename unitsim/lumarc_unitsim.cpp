// lumarc-unitsim: a simulated Lumarc unit for tests, demos and development.
//
// Serves the management port of one unit on the given address and prints
// every request it receives. Ends cleanly on SIGINT or SIGTERM.
#include "simulated_unit.h"

#include "platform/unit_address.h"
#include "shared/version.h"

#include <arpa/inet.h>
#include <chrono>
#include <thread>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace lumarc;

constexpr const char* kUsage = R"(usage: lumarc-unitsim [OPTIONS]

Simulates Lumarc units: each has its management port (TCP 10002) on its own
address and answers discovery (UDP 10005). Run it inside a private network
namespace, or on loopback addresses.

  --address A      the (first) unit's IPv4 address (default 127.0.0.2)
  --units N        simulate N units on consecutive addresses (default 1)
  --name N         the unit's name (default LUMARC-SIM)
  --pin P          the administrator PIN (default 0000)
  --scanner M      the attached scanner: ORBIX-4000 (the default),
                   ORBIX-2200, TALVEN-S60, one model of each class the
                   scanner information tool treats in its own way
                   (LUMEN-1100, LUMEN-2150, SKARA-330, ORBIX-6100,
                   TESSEL-710, VANTA-810, ORBIX-9100, MIRO-1010,
                   TESSEL-1210, KAVRO-1310, KAVRO-14F0, SELVA-1610,
                   FLATIS-1710, NOVIA-1810), or none
  --scanner-profile FILE
                   the attached scanner from an ini file: identification,
                   VPD page, firmware, EEPROM, ink and mode pages (every key
                   is described in unitsim/profiles/example.ini)
  --firmware T     the firmware version text
  --mac M          the MAC address, six hexadecimal bytes (02:4c:4d:00:00:02)
  --user N:P[:H]   a registered user with PIN P and host H (repeatable)
  --trigger-port P the PC port the units report button presses to
                   (default 10002)
  --refuse N:CODE  refuse the next N greetings with CODE
  --delay MS       answer every request MS milliseconds late
  --split MS       send every reply in two segments, MS milliseconds apart
  --silent         read requests and never answer
  --busy           turn changes away with status 0x800
  --quiet          print nothing but errors
  --help

Commands on standard input, one per line:
  press UNIT scan|send1..send9 USER [PC[:PORT]]
                   the unit (its address or its number, 1 = the first)
                   connects to the PC's trigger port (default: the user's
                   registered host, else 127.0.0.1; the unit's trigger port)
                   and reports the button
  event UNIT CODE FLAGS USER [PC[:PORT]]   any event code and flags
  panel UNIT       what the unit's panel showed: launch reports and texts
  busy UNIT on|off, list, help, quit
)";

std::mutex g_printMutex;

void printLine(const std::string& text)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::scoped_lock lock(g_printMutex);
    std::printf("%s.%03lld %s\n", stamp, static_cast<long long>(ms), text.c_str());
    std::fflush(stdout);
}

bool parseMac(const std::string& text, std::array<uint8_t, 6>& mac)
{
    unsigned b[6];
    if (std::sscanf(text.c_str(), "%x%*[:-]%x%*[:-]%x%*[:-]%x%*[:-]%x%*[:-]%x", &b[0], &b[1],
                    &b[2], &b[3], &b[4], &b[5]) != 6)
        return false;
    for (int i = 0; i < 6; ++i) {
        if (b[i] > 0xFF)
            return false;
        mac[i] = static_cast<uint8_t>(b[i]);
    }
    return true;
}

unitsim::SimulatedUnit* findUnit(const std::string& which,
                                 std::vector<std::unique_ptr<unitsim::SimulatedUnit>>& units)
{
    char* end = nullptr;
    const long index = std::strtol(which.c_str(), &end, 10);
    if (end != which.c_str() && *end == '\0' && index >= 1 &&
        static_cast<size_t>(index) <= units.size())
        return units[static_cast<size_t>(index - 1)].get();
    for (auto& unit : units)
        if (unit->addressText() == which)
            return unit.get();
    return nullptr;
}

// The PC a press goes to: given, else the user's registered host, else
// 127.0.0.1; port 0 means the unit's trigger port.
std::optional<platform::Endpoint> pressTarget(unitsim::SimulatedUnit& unit,
                                              const std::string& user, const std::string& given)
{
    std::string host = given;
    uint16_t port = 0;
    if (host.empty()) {
        for (const auto& slot : unit.state().users())
            if (slot.name == user)
                host = slot.host;
    }
    if (host.empty())
        host = "127.0.0.1";
    if (const size_t colon = host.find(':'); colon != std::string::npos) {
        port = static_cast<uint16_t>(std::atoi(host.c_str() + colon + 1));
        host.resize(colon);
    }
    auto address = platform::resolveUnitAddress(host);
    if (!address)
        return std::nullopt;
    return platform::Endpoint{*address, port};
}

// One command line; false for quit.
bool runCommand(const std::string& line, std::vector<std::unique_ptr<unitsim::SimulatedUnit>>& units)
{
    std::istringstream words(line);
    std::string command;
    if (!(words >> command))
        return true;
    if (command == "quit")
        return false;
    if (command == "help") {
        std::fputs("press UNIT scan|send1..send9 USER [PC[:PORT]] | event UNIT CODE FLAGS USER "
                   "[PC[:PORT]] | busy UNIT on|off | panel UNIT | list | quit\n",
                   stdout);
        return true;
    }
    if (command == "list") {
        for (size_t i = 0; i < units.size(); ++i) {
            const auto config = units[i]->state().config();
            printLine(std::to_string(i + 1) + ": " + units[i]->addressText() + " \"" +
                      config.name + "\" trigger port " + std::to_string(config.triggerPort));
        }
        return true;
    }
    std::string which;
    words >> which;
    unitsim::SimulatedUnit* unit = findUnit(which, units);
    if (unit == nullptr) {
        printLine("no unit " + which + " (try list)");
        return true;
    }
    if (command == "panel") {
        std::string log;
        for (const std::string& entry : unit->state().panelLog())
            log += (log.empty() ? "" : ", ") + entry;
        printLine("unit " + unit->addressText() + " panel: " + (log.empty() ? "(nothing)" : log));
        return true;
    }
    if (command == "busy") {
        std::string state;
        words >> state;
        unit->state().setBusy(state == "on");
        printLine("unit " + which + (state == "on" ? " busy" : " not busy"));
        return true;
    }
    unitsim::EventMessage message;
    std::string pc;
    if (command == "press") {
        std::string button;
        words >> button >> message.user >> pc;
        if (button == "scan") {
            message.flags = unitsim::kFlagScan;
        } else if (button.size() == 5 && button.rfind("send", 0) == 0 && button[4] >= '1' &&
                   button[4] <= '9') {
            message.flags = unitsim::kFlagSendTo | static_cast<uint32_t>(button[4] - '0');
        } else {
            printLine("press: the button is scan or send1 .. send9");
            return true;
        }
    } else if (command == "event") {
        std::string code, flags;
        words >> code >> flags >> message.user >> pc;
        message.code = static_cast<uint32_t>(std::strtoul(code.c_str(), nullptr, 0));
        message.flags = static_cast<uint32_t>(std::strtoul(flags.c_str(), nullptr, 0));
    } else {
        printLine("unknown command " + command + " (try help)");
        return true;
    }
    const auto target = pressTarget(*unit, message.user, pc);
    if (!target) {
        printLine("press: cannot resolve the PC");
        return true;
    }
    auto outcome = unit->press(*target, message, std::chrono::seconds(15));
    if (!outcome) {
        printLine("unit " + unit->addressText() + ": press failed: " + outcome.error().text);
        return true;
    }
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%X", message.flags);
    printLine("unit " + unit->addressText() + ": event " + std::to_string(message.code) +
              " flags " + flags + " for " + message.user + " -> " +
              (outcome->greeting != 0 ? "PC busy, turned away"
                                      : outcome->acknowledged ? "acknowledged"
                                                              : "not acknowledged"));
    return true;
}

int usage(const std::string& message)
{
    std::fprintf(stderr, "lumarc-unitsim: %s\n(lumarc-unitsim --help shows the usage)\n",
                 message.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    unitsim::UnitConfig config;
    std::vector<unitsim::UserSlot> users;
    bool quiet = false;
    bool busy = false;
    int unitCount = 1;
    unitsim::FaultPlan faults;
    const auto milliseconds = [](const char* v) -> std::optional<std::chrono::milliseconds> {
        if (v == nullptr)
            return std::nullopt;
        char* end = nullptr;
        const long value = std::strtol(v, &end, 10);
        if (end == v || *end != '\0' || value < 0)
            return std::nullopt;
        return std::chrono::milliseconds(value);
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version" || arg == "-V") {
            std::printf("lumarc-unitsim (Lumarc) %.*s\n",
                        static_cast<int>(lumarc::shared::kVersion.size()),
                        lumarc::shared::kVersion.data());
            return 0;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--units") {
            const char* v = value();
            unitCount = v != nullptr ? std::atoi(v) : 0;
            if (unitCount < 1 || unitCount > 250)
                return usage("--units needs a number from 1 to 250");
        } else if (arg == "--trigger-port") {
            const char* v = value();
            const int port = v != nullptr ? std::atoi(v) : 0;
            if (port < 1 || port > 65535)
                return usage("--trigger-port needs a port number");
            config.triggerPort = static_cast<uint32_t>(port);
        } else if (arg == "--busy") {
            busy = true;
        } else if (arg == "--silent") {
            faults.silent = true;
        } else if (arg == "--delay" || arg == "--split") {
            const auto ms = milliseconds(value());
            if (!ms)
                return usage(arg + " needs milliseconds");
            if (arg == "--delay")
                faults.replyDelay = *ms;
            else
                faults.splitPause = *ms;
        } else if (arg == "--refuse") {
            const char* v = value();
            const char* colon = v != nullptr ? std::strchr(v, ':') : nullptr;
            char* end = nullptr;
            const long count = v != nullptr ? std::strtol(v, &end, 10) : -1;
            if (colon == nullptr || end != colon || count < 0)
                return usage("--refuse needs N:CODE");
            const unsigned long code = std::strtoul(colon + 1, &end, 0);
            if (*end != '\0' || code == 0 || code > 0xFFFFFFFFul)
                return usage("--refuse needs N:CODE with a non-zero CODE");
            faults.refuseGreetings = static_cast<int>(count);
            faults.refusalCode = static_cast<uint32_t>(code);
        } else if (arg == "--address") {
            const char* v = value();
            auto address = platform::resolveUnitAddress(v != nullptr ? v : "");
            if (!address)
                return usage("--address needs an IPv4 address");
            config.address = *address;
        } else if (arg == "--name") {
            const char* v = value();
            if (v == nullptr)
                return usage("--name needs a name");
            config.name = v;
        } else if (arg == "--pin") {
            const char* v = value();
            if (v == nullptr)
                return usage("--pin needs a PIN");
            config.adminPin = v;
        } else if (arg == "--firmware") {
            const char* v = value();
            if (v == nullptr)
                return usage("--firmware needs a text");
            config.firmware = v;
        } else if (arg == "--scanner") {
            const char* v = value();
            if (v == nullptr)
                return usage("--scanner needs a model or none");
            if (std::strcmp(v, "none") == 0) {
                config.scanner.reset();
            } else if (auto profile = unitsim::findScanner(v)) {
                config.scanner = *profile;
            } else {
                return usage(std::string("unknown scanner model ") + v);
            }
        } else if (arg == "--scanner-profile") {
            const char* v = value();
            if (v == nullptr)
                return usage("--scanner-profile needs a file");
            auto profile = unitsim::loadScannerProfile(v);
            if (!profile)
                return usage(profile.error().text);
            config.scanner = *profile;
        } else if (arg == "--mac") {
            const char* v = value();
            if (v == nullptr || !parseMac(v, config.mac))
                return usage("--mac needs six hexadecimal bytes");
        } else if (arg == "--user") {
            const char* v = value();
            if (v == nullptr)
                return usage("--user needs NAME:PIN[:HOST]");
            std::stringstream parts(v);
            unitsim::UserSlot user;
            std::getline(parts, user.name, ':');
            std::getline(parts, user.pin, ':');
            std::getline(parts, user.host);
            if (user.name.empty())
                return usage("--user needs NAME:PIN[:HOST]");
            users.push_back(user);
        } else {
            return usage("unknown option " + arg);
        }
    }

    // The signals are taken by sigwait below; blocking them before any
    // thread starts keeps them away from the server threads.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::vector<std::unique_ptr<unitsim::SimulatedUnit>> units;
    for (int i = 0; i < unitCount; ++i) {
        unitsim::UnitConfig unitConfig = config;
        unitConfig.address = htonl(ntohl(config.address) + static_cast<uint32_t>(i));
        if (unitCount > 1)
            unitConfig.name = config.name + "-" + std::to_string(i + 1);
        unitConfig.mac[5] = static_cast<uint8_t>(config.mac[5] + i);
        const std::string address = platform::addressText(unitConfig.address);
        unitsim::ManagementServer::LogSink log;
        if (!quiet)
            log = [address](const std::string& line) {
                printLine("unit " + address + ": " + line);
            };
        auto unit = unitsim::SimulatedUnit::start(unitConfig, log);
        if (!unit) {
            std::fprintf(stderr, "lumarc-unitsim: cannot serve %s: %s\n", address.c_str(),
                         unit.error().text.c_str());
            return 1;
        }
        (*unit)->management().setFaults(faults);
        (*unit)->state().setBusy(busy);
        // A unit on a loopback address is this machine's alone: it answers
        // discovery from here only, never from the network around it.
        if ((ntohl(unitConfig.address) >> 24) == 127) {
            unitsim::DiscoveryFaults local;
            local.localRequestersOnly = true;
            (*unit)->discovery().setFaults(local);
        }
        for (const auto& user : users) {
            if (!(*unit)->state().preloadUser(user)) {
                std::fprintf(stderr, "lumarc-unitsim: cannot register user %s\n",
                             user.name.c_str());
                return 1;
            }
        }
        if (!quiet)
            printLine("unit " + address + ": \"" + unitConfig.name + "\" ready, scanner " +
                      (unitConfig.scanner ? unitConfig.scanner->model : std::string("none")));
        units.push_back(std::move(*unit));
    }

    // Commands from standard input; end of input leaves the units running
    // until a signal comes, "quit" ends the program like a signal.
    std::thread commands([&units] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!runCommand(line, units)) {
                ::kill(::getpid(), SIGTERM);
                return;
            }
        }
    });
    commands.detach();

    int signal = 0;
    sigwait(&signals, &signal);
    if (!quiet)
        printLine(std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
    std::fflush(stdout);
    // The command reader may be blocked on standard input: end the process
    // without waiting for it.
    std::_Exit(0);
}
