// The scanner information tool from its start to the Device Info page
// filled, against a simulated unit on loopback (run inside a private
// network namespace: bench/run.sh, or cmake/run-in-netns.sh).
//
// One run: the instance mutex, the management library's start,
// scanner-information mode, [Common] Current, the still-image object
// created through COM with its device list and device, the model lookup,
// then the page: status check, INQUIRY, VPD page F0, the EEPROM image (and
// ink, firmware where the class has them) and the dump file. The sheet's
// painting is not included. Also counted: the management exchanges and the
// tunnel requests one run takes.
#include "infotool/device_info_logic.h"
#include "infotool/device_set_logic.h"
#include "infotool/tool_session.h"
#include "platform/com.h"
#include "platform/folders.h"
#include "platform/library.h"
#include "platform/tests/temp_folder.h"
#include "platform/unit_address.h"
#include "unitsim/simulated_unit.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using namespace lumarc;
using namespace lumarc::infotool;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 25;
constexpr double kLimitMs = 500.0;

class SilentBoxes : public MessageBoxes {
public:
    BoxAnswer show(const std::string& text, const std::string&, BoxIcon, BoxButtons) override
    {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return BoxAnswer::Cancel;
    }
};

class NoAdmin : public AdminCheck {
public:
    bool run() override { return false; }
};

bool measure(const char* model)
{
    lumarc::testing::SandboxEnvironment sandbox;
    unitsim::UnitConfig config;
    config.address = *platform::resolveUnitAddress("127.0.0.2");
    config.scanner = unitsim::findScanner(model);
    auto unit = unitsim::SimulatedUnit::start(config);
    if (!unit) {
        std::fprintf(stderr, "gaugery_bench: %s\n", unit.error().text.c_str());
        return false;
    }
    (void)platform::ensureFolder(shared::settingsFolder());
    shared::SettingsFile settings;
    (void)settings.write("Common", "Select", "1");
    (void)settings.write("Common", "Current", "1");
    (void)settings.write("1", "IP", "127.0.0.2");
    (void)settings.write("1", "Scanner", model);
    std::filesystem::create_directories(platform::windowsFolder() / "twain_32/orbscan32/DUMP");
    auto server = platform::Library::load((platform::programFolder() / "libquentysti.so").string());
    if (!server || (*server->function<platform::DllRegisterServerFunction>("DllRegisterServer"))() !=
                       platform::S_OK) {
        std::fprintf(stderr, "gaugery_bench: cannot register libquentysti.so\n");
        return false;
    }

    std::vector<double> times;
    size_t exchanges = 0, tunnel = 0;
    ModelClass modelClass = 0;
    for (int run = 0; run < kRuns; ++run) {
        const size_t exchangesBefore = (*unit)->management().requests().size();
        const size_t tunnelBefore = (*unit)->tunnel()->requests().size();
        platform::ComScope com;
        const Texts texts;
        SilentBoxes boxes;
        NoAdmin admin;
        ZorvanManagement management;
        const auto begin = Clock::now();
        ToolSession session(management, boxes, texts);
        if (session.start() != ToolSession::Start::Run)
            return false;
        ScannerData data;
        ScannerCommands commands(session.link(), session.identity().modelClass());
        DeviceSetLogic setPage(commands, session.identity(), data, texts, boxes, admin);
        DeviceInfoLogic infoPage(commands, session.identity(), data, setPage, texts, boxes);
        if (!infoPage.open())
            return false;
        const auto filled = Clock::now();
        // The mode left at the end is not part of the figure.
        exchanges = (*unit)->management().requests().size() - exchangesBefore;
        tunnel = (*unit)->tunnel()->requests().size() - tunnelBefore;
        session.end();
        modelClass = session.identity().modelClass();
        times.push_back(std::chrono::duration<double, std::milli>(filled - begin).count());
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("%-11s class %2u: median %7.2f ms, max %7.2f ms over %d runs; %zu management "
                "exchange(s) and %zu tunnel requests to the filled page -> %s (limit %.0f ms)\n",
                model, modelClass, median, times.back(), kRuns, exchanges, tunnel,
                times.back() <= kLimitMs ? "within" : "OVER", kLimitMs);
    return times.back() <= kLimitMs;
}

} // namespace

int main()
{
    bool within = true;
    for (const char* model : {"ORBIX-4000", "KAVRO-14F0", "VANTA-810", "NOVIA-1810", "MIRO-1010"})
        within = measure(model) && within;
    return within ? 0 : 1;
}
