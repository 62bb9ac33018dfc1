// unitdesk-snapshot: pictures of the configuration tool for the
// documentation. Starts a simulated unit with users on 127.0.0.2 (run it
// inside a private network namespace, as scripts/render-pictures.sh does),
// writes a unit list of three units, and saves the unit list window's four
// pages and the Administrator PIN, User Registration and Network
// Configuration dialogs, rendered on the offscreen platform, as PNG files.
#include "cnetconfigdlg.h"
#include "cunitdeskdlg.h"
#include "cuserdlg.h"
#include "small_dialogs.h"
#include "unit_list_window.h"

#include "platform/folders.h"
#include "platform/tests/temp_folder.h"
#include "platform/unit_address.h"
#include "unitsim/simulated_unit.h"

#include <QApplication>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTreeView>

#include <cstdio>

namespace {

using namespace lumarc;
using namespace lumarc::configtool;

class QuietBoxes : public shared::MessageBoxes {
public:
    shared::BoxAnswer show(const std::string& text, const std::string&, shared::BoxIcon,
                           shared::BoxButtons) override
    {
        std::fprintf(stderr, "unitdesk-snapshot: %s\n", text.c_str());
        return shared::BoxAnswer::Cancel;
    }
};

// The pictures show the window as it is after a refresh: nothing is asked
// of an event module, no dialog runs and no program starts.
class NoEventModule : public EventModuleLink {
public:
    bool exists() override { return true; }
    bool requestRefresh() override { return false; }
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

bool save(QWidget* widget, const QString& path)
{
    QApplication::processEvents();
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "unitdesk-snapshot: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

void writeUnitList()
{
    (void)platform::ensureFolder(shared::settingsFolder());
    shared::SettingsFile settings;
    const struct {
        const char *ip, *name, *scanner, *status;
    } units[] = {
        {"127.0.0.2", "Front desk", "ORBIX-4000", "1"},
        {"192.0.2.17", "Back office", "ORBIX-2200", "2"},
        {"scanpc-7", "Archive", "", "0"},
    };
    for (size_t i = 0; i < std::size(units); ++i) {
        const std::string section = std::to_string(i + 1);
        (void)settings.write(section, "IP", units[i].ip);
        (void)settings.write(section, "NetBoxName", units[i].name);
        (void)settings.write(section, "Scanner", units[i].scanner);
        (void)settings.write(section, "Status", units[i].status);
        (void)settings.write(section, "Auto", i == 2 ? "0" : "1");
    }
    (void)settings.write("Common", "Total", "3");
    (void)settings.write("Common", "Current", "1");
    platform::Profile launch(shared::launchFilePath());
    (void)launch.writeString("Launch", "Scan_Apl", "/usr/bin/lumarc-scan");
    (void)launch.writeString("Launch", "Scan_Opt", "-u 127.0.0.2 -o /home/alice/scan.png");
    (void)launch.writeString("Launch", "Scan_Wrk", "/home/alice");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: unitdesk-snapshot FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    lumarc::testing::SandboxEnvironment sandbox;
    QApplication application(argc, argv);

    unitsim::UnitConfig config;
    config.address = *platform::resolveUnitAddress("127.0.0.2");
    config.name = "Front desk";
    config.adminPin = "4321";
    auto unit = unitsim::SimulatedUnit::start(config);
    if (!unit) {
        std::fprintf(stderr, "unitdesk-snapshot: %s\n", unit.error().text.c_str());
        return 1;
    }
    (void)(*unit)->state().preloadUser({"alice", "1111", "192.0.2.20"});
    (void)(*unit)->state().preloadUser({"bob", "2222", "scanpc-2"});
    (void)(*unit)->state().preloadUser({"carol", "3333", "192.0.2.31"});
    writeUnitList();

    const Texts texts;
    QuietBoxes boxes;
    ZorvanManagement management;
    if (management.startup() != 0)
        return 1;
    NoEventModule eventModule;
    NoDialogs dialogs;
    NoStarter starter;
    shared::SettingsFile settings;
    UnitListWindow window(settings, management, eventModule, boxes, texts, dialogs, starter);
    LaunchOptions launch{platform::Profile(shared::launchFilePath())};
    TriggerPortPage triggerPort(settings, boxes, texts);
    bool saved = true;
    {
        CUnitdeskDlg dialog(window, launch, triggerPort, texts, VersionFolders::ofThisProgram(),
                            false);
        dialog.open();
        dialog.resize(640, 340);
        dialog.show();
        dialog.findChild<QTreeView*>("unitList")
            ->selectionModel()
            ->select(dialog.model()->index(0, 0),
                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        auto* tabs = dialog.findChild<QTabWidget*>("pageTabs");
        const char* names[] = {"unitdesk-select-scanner.png", "unitdesk-launch-option.png",
                               "unitdesk-advance.png", "unitdesk-version.png"};
        for (int page = 0; page < 4; ++page) {
            tabs->setCurrentIndex(page);
            saved = save(&dialog, folder + "/" + names[page]) && saved;
        }
    }

    PinLogic pin(management, boxes, texts, "127.0.0.2");
    if (!pin.open())
        return 1;
    {
        CPinDlg dialog(pin, texts);
        dialog.show();
        saved = save(&dialog, folder + "/unitdesk-pin.png") && saved;
    }
    {
        UserRegistrationLogic users(management, boxes, texts, "127.0.0.2", pin.unitName(), "4321");
        CUserDlg dialog(users, boxes, texts);
        dialog.open();
        dialog.show();
        saved = save(&dialog, folder + "/unitdesk-users.png") && saved;
    }
    {
        NetworkConfigLogic network(management, boxes, texts, "127.0.0.2", pin.unitName(), "4321");
        CNetConfigDlg dialog(network, texts);
        dialog.open();
        dialog.show();
        saved = save(&dialog, folder + "/unitdesk-network.png") && saved;
    }
    management.cleanup();
    return saved ? 0 : 1;
}
