// lumarc-unitsim: a simulated Lumarc unit for tests, demos and development.
//
// Serves the management port of one unit on the given address and prints
// every request it receives. Ends cleanly on SIGINT or SIGTERM.
#include "simulated_unit.h"

#include "platform/unit_address.h"

#include <chrono>
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

Simulates one Lumarc unit: its management port (TCP 10002) on ADDRESS.
Run it inside a private network namespace, or on a loopback address.

  --address A      the unit's IPv4 address (default 127.0.0.2)
  --name N         the unit's name (default LUMARC-SIM)
  --pin P          the administrator PIN (default 0000)
  --scanner M      the attached scanner: ORBIX-4000, ORBIX-2200, TALVEN-S60
                   or none (default ORBIX-4000)
  --firmware T     the firmware version text
  --mac M          the MAC address, six hexadecimal bytes (02:4c:4d:00:00:02)
  --user N:P[:H]   a registered user with PIN P and host H (repeatable)
  --refuse N:CODE  refuse the next N greetings with CODE
  --delay MS       answer every request MS milliseconds late
  --split MS       send every reply in two segments, MS milliseconds apart
  --silent         read requests and never answer
  --busy           turn changes away with status 0x800
  --quiet          print nothing but errors
  --help
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
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--quiet") {
            quiet = true;
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

    unitsim::ManagementServer::LogSink log;
    const std::string address = platform::addressText(config.address);
    if (!quiet)
        log = [address](const std::string& line) { printLine("unit " + address + ": " + line); };
    auto unit = unitsim::SimulatedUnit::start(config, log);
    if (!unit) {
        std::fprintf(stderr, "lumarc-unitsim: cannot serve %s:10002: %s\n", address.c_str(),
                     unit.error().text.c_str());
        return 1;
    }
    (*unit)->management().setFaults(faults);
    (*unit)->state().setBusy(busy);
    for (const auto& user : users) {
        if (!(*unit)->state().preloadUser(user)) {
            std::fprintf(stderr, "lumarc-unitsim: cannot register user %s\n", user.name.c_str());
            return 1;
        }
    }
    if (!quiet)
        printLine("unit " + address + ": \"" + config.name + "\" ready, scanner " +
                  (config.scanner ? config.scanner->model : std::string("none")));

    int signal = 0;
    sigwait(&signals, &signal);
    if (!quiet)
        printLine("unit " + address + ": stopping on " + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
    return 0;
}
