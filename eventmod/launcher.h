// The launcher: what a button press on a unit starts, and the watch that
// tells the unit whether the started program went on to scan.
//
//   idle --button event admitted, program started (report 0)--> pending
//   pending --transport mutex appears, or 0x8200 from the device--> idle
//   pending --60 one-second ticks without the mutex (report 3)--> idle
//   any --button event while pending or while a scan runs (report 2)
//
// Everything runs on the event module's main thread.
#pragma once

#include "launch_command.h"

#include "platform/process.h"
#include "platform/result.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumarc::eventmod {

// Report codes for Zorvan_Apl_Report.
enum class Report : uint32_t { Started = 0, NotStarted = 1, Busy = 2, NoScan = 3 };

// What the launcher needs from the world; EventModule gives the real ones,
// tests give fakes.
struct LauncherServices {
    std::function<void(const std::string& unit, Report code)> report;
    // Whether a scanning program holds the transport ("Drovik32MutexObject").
    std::function<bool()> transportBusy;
    std::function<Result<platform::Process>(const LaunchCommand&)> start;
    // Prepares the TWAIN data sources for a scanner model.
    std::function<void(const std::string& model)> prepareDataSources;
    std::function<std::filesystem::path()> launchFile;
    // How many one-second ticks a started program has to open the scanner.
    int watchLimit = 60;
};

// The values the launcher takes from a ButtonEvent block.
struct ButtonPress {
    std::string unit; // dotted IPv4
    uint32_t flags = 0;
    std::string user;
    std::string scanner;
};

class Launcher {
public:
    explicit Launcher(LauncherServices services) : m_services(std::move(services)) {}

    // Handles an admitted-or-not button press; true when the launch watch
    // must start (a program was started).
    bool launch(const ButtonPress& press);

    // One tick of the launch watch; false when the watch is over.
    bool tick();

    // The device was locked (0x8200): the started program scans.
    void scannerTaken() { m_pending = false; }

    bool pending() const { return m_pending; }

    // Collects the exit status of started programs that have ended, so none
    // stays a zombie. Call on SIGCHLD and at any tick.
    void reapChildren();
    size_t childrenRunning() const { return m_children.size(); }

private:
    void makeCurrent(const ButtonPress& press);

    LauncherServices m_services;
    bool m_pending = false;
    std::string m_pendingUnit;
    int m_watchCount = 0;
    std::vector<platform::Process> m_children;
};

} // namespace lumarc::eventmod
