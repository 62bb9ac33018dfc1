// gaugery-snapshot: pictures of the scanner information tool for the
// documentation. Starts a simulated unit with the given scanner on
// 127.0.0.2 (run it inside a private network namespace, as
// scripts/render-pictures.sh does), opens the tool against it through COM
// on the offscreen platform and saves the two pages of the sheet and the
// Offset dialog as PNG files.
#include "coffsetdlg.h"
#include "gaugery_program.h"
#include "offset_logic.h"

#include "platform/com.h"
#include "platform/folders.h"
#include "platform/library.h"
#include "platform/tests/temp_folder.h"
#include "platform/unit_address.h"
#include "unitsim/simulated_unit.h"

#include <QApplication>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdio>

namespace {

using namespace lumarc;
using namespace lumarc::infotool;

class QuietBoxes : public MessageBoxes {
public:
    BoxAnswer show(const std::string& text, const std::string&, BoxIcon, BoxButtons) override
    {
        std::fprintf(stderr, "gaugery-snapshot: %s\n", text.c_str());
        return BoxAnswer::Cancel;
    }
};

class NoAdmin : public AdminCheck {
public:
    bool run() override { return false; }
};

bool save(QWidget* widget, const QString& path)
{
    QApplication::processEvents();
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "gaugery-snapshot: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: gaugery-snapshot MODEL FOLDER\n");
        return 2;
    }
    const std::string model = argv[1];
    const QString folder = QString::fromLocal8Bit(argv[2]);
    lumarc::testing::SandboxEnvironment sandbox;
    QApplication application(argc, argv);

    unitsim::UnitConfig config;
    config.address = *platform::resolveUnitAddress("127.0.0.2");
    config.name = "Front desk";
    config.scanner = unitsim::findScanner(model);
    if (!config.scanner) {
        std::fprintf(stderr, "gaugery-snapshot: no built-in scanner %s\n", model.c_str());
        return 2;
    }
    auto unit = unitsim::SimulatedUnit::start(config);
    if (!unit) {
        std::fprintf(stderr, "gaugery-snapshot: %s\n", unit.error().text.c_str());
        return 1;
    }
    (void)platform::ensureFolder(shared::settingsFolder());
    shared::SettingsFile settings;
    (void)settings.write("Common", "Select", "1");
    (void)settings.write("1", "IP", "127.0.0.2");
    (void)settings.write("1", "Scanner", model);
    auto server = platform::Library::load((platform::programFolder() / "libquentysti.so").string());
    if (!server ||
        (*server->function<platform::DllRegisterServerFunction>("DllRegisterServer"))() != 0) {
        std::fprintf(stderr, "gaugery-snapshot: cannot register libquentysti.so\n");
        return 1;
    }

    platform::ComScope com;
    const Texts texts;
    QuietBoxes boxes;
    ZorvanManagement management;
    bool saved = false;
    {
        GaugeryProgram program(management, boxes, texts);
        if (program.start() != ToolSession::Start::Run)
            return 1;
        GaugerySheet* sheet = program.sheet();
        sheet->show();
        // Open the first group, as a user does.
        program.deviceInfo()->click(0);
        sheet->deviceInfo()->showRows();
        saved = save(sheet, folder + "/gaugery-device-info.png");
        sheet->pages()->setCurrentIndex(1);
        saved = save(sheet, folder + "/gaugery-device-set.png") && saved;

        NoAdmin admin;
        ScannerCommands commands(program.session().link(), program.session().identity().modelClass());
        const ScannerData data;
        OffsetLogic logic(program.session().identity(), data, program.deviceSet()->image(), texts);
        COffsetDlg offset(logic, commands, program.deviceSet()->image(), boxes, admin, texts);
        offset.show();
        saved = save(&offset, folder + "/gaugery-offset.png") && saved;
        offset.hide();
        program.finish();
    }
    return saved ? 0 : 1;
}
