// The configuration tool with 100 units in Quenty.ini, offscreen: how long
// one list rebuild takes (the file read and repaired, the window's model
// filled), and how soon after the refresh handshake ends the window shows
// the list. The event module is a stand-in window titled "Kicklet" in this
// process that answers a refresh request after 300 ms, as the real one does
// after its search; the time from its Refresh = 1 to the list on the screen
// is the tool's own. Limits: 50 ms per rebuild, 0.3 s after the handshake.
//
//   unitdesk_bench [ROUNDS]
#include "configtool/cunitdeskdlg.h"
#include "configtool/unit_list_window.h"
#include "platform/folders.h"
#include "platform/message_window.h"
#include "platform/tests/temp_folder.h"

#include <QApplication>
#include <QStandardItemModel>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <thread>
#include <vector>

namespace {

using namespace lumarc;
using namespace lumarc::configtool;
using Clock = std::chrono::steady_clock;

constexpr int kUnits = 100;
constexpr double kRebuildLimitMs = 50.0;
constexpr double kShownLimitMs = 300.0;
constexpr auto kSearchTime = std::chrono::milliseconds(300);

class SilentBoxes : public shared::MessageBoxes {
public:
    shared::BoxAnswer show(const std::string& text, const std::string&, shared::BoxIcon,
                           shared::BoxButtons) override
    {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return shared::BoxAnswer::Ok;
    }
};
class NoDialogs : public UnitDialogs {
public:
    std::optional<AddChoice> runAdd() override { return std::nullopt; }
    bool runPin(PinLogic&) override { return false; }
    void runUserRegistration(UserRegistrationLogic&) override {}
    void runNetworkConfiguration(NetworkConfigLogic&) override {}
};
class NoStarter : public ProgramStarter {
public:
    bool start() override { return false; }
    Wait waitUntilReady(std::chrono::milliseconds) override { return Wait::Failed; }
};
class NoUnits : public ZorvanManagement {};

// The stand-in event module: a titled window on a thread of its own that
// answers each refresh request kSearchTime later with Refresh = 1.
class StandIn {
public:
    StandIn()
    {
        std::promise<platform::WindowHandle> ready;
        auto made = ready.get_future();
        m_thread = std::thread([this, &ready] {
            auto window = platform::createWindow(
                [this](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
                    if (message == shared::kRefreshRequest) {
                        std::this_thread::sleep_for(kSearchTime);
                        // The handshake ends with this write; the tool may
                        // read it before the write returns.
                        m_answered = Clock::now().time_since_epoch().count();
                        shared::SettingsFile file;
                        (void)file.write("Common", "Refresh", "1");
                        (void)file.flush();
                    } else if (message == platform::wm::kApp + 9) {
                        platform::postQuitMessage(0);
                    }
                    return 0;
                },
                shared::kEventModuleTitle);
            ready.set_value(window ? *window : 0);
            platform::Message message;
            while (platform::getMessage(message))
                platform::dispatchMessage(message);
            if (window)
                (void)platform::destroyWindow(*window);
        });
        m_window = made.get();
    }
    ~StandIn()
    {
        (void)platform::postMessage(m_window, platform::wm::kApp + 9);
        m_thread.join();
    }
    bool ok() const { return m_window != 0; }
    Clock::time_point answered() const
    {
        return Clock::time_point(Clock::duration(m_answered.load()));
    }

private:
    std::thread m_thread;
    platform::WindowHandle m_window = 0;
    std::atomic<Clock::rep> m_answered{0};
};

struct Stats {
    double median, largest;
};
Stats stats(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.back()};
}

} // namespace

// The offscreen platform's notes (it cannot raise windows) are no results.
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

int main(int argc, char** argv)
{
    qInstallMessageHandler(quiet);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    lumarc::testing::SandboxEnvironment sandbox;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    (void)platform::ensureFolder(shared::settingsFolder());
    shared::SettingsFile settings;
    for (int n = 1; n <= kUnits; ++n) {
        const std::string section = std::to_string(n);
        const platform::Profile::KeyValue values[] = {
            {"IP", "192.0.2." + std::to_string(n)}, {"NetBoxName", "Unit " + section},
            {"Scanner", "ORBIX-4000"},                {"MAC", "02-4c-4d-00-00-01"},
            {"Status", n % 3 == 0 ? "0" : "1"},       {"Auto", "1"}};
        (void)settings.profile().writeStrings(section, values);
    }
    (void)settings.write("Common", "Total", std::to_string(kUnits));
    (void)settings.write("Common", "Current", "42");

    StandIn standIn;
    if (!standIn.ok()) {
        std::fprintf(stderr, "unitdesk_bench: the stand-in window could not be made\n");
        return 1;
    }
    const Texts texts;
    SilentBoxes boxes;
    NoUnits management;
    KickletWindow eventModule;
    NoDialogs dialogs;
    NoStarter starter;
    LaunchOptions launch{platform::Profile(shared::launchFilePath())};
    TriggerPortPage triggerPort(settings, boxes, texts);
    UnitListWindow window(settings, management, eventModule, boxes, texts, dialogs, starter);
    CUnitdeskDlg dialog(window, launch, triggerPort, texts, VersionFolders::ofThisProgram(), false);
    dialog.open();
    dialog.show();
    QApplication::processEvents();

    // One rebuild: the file read into rows (with its repairs) and the
    // window's model filled from them.
    std::vector<double> rebuilds;
    UnitListFile file(settings, texts);
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        const UnitList list = file.rebuild();
        dialog.showList(list);
        rebuilds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (dialog.model()->rowCount() != kUnits)
            return 1;
    }

    // The handshake's end to the list shown: a refresh as the Refresh
    // button starts it.
    std::vector<double> shown;
    for (int i = 0; i < rounds; ++i) {
        window.refresh();
        const auto filled = Clock::now();
        if (dialog.model()->rowCount() != kUnits || !dialog.isVisible() || window.busy())
            return 1;
        shown.push_back(
            std::chrono::duration<double, std::milli>(filled - standIn.answered()).count());
    }

    const Stats rebuild = stats(rebuilds);
    const Stats after = stats(shown);
    std::printf("Configuration tool, %d units in Quenty.ini, %d rounds, offscreen\n", kUnits, rounds);
    std::printf("  list rebuild (file + window)      median %6.2f ms  largest %6.2f ms  (limit %.0f ms)  %s\n",
                rebuild.median, rebuild.largest, kRebuildLimitMs,
                rebuild.largest <= kRebuildLimitMs ? "ok" : "OVER");
    std::printf("  handshake end to the list shown   median %6.1f ms  largest %6.1f ms  (limit %.0f ms)  %s\n",
                after.median, after.largest, kShownLimitMs,
                after.largest <= kShownLimitMs ? "ok" : "OVER");
    return rebuild.largest <= kRebuildLimitMs && after.largest <= kShownLimitMs ? 0 : 1;
}
