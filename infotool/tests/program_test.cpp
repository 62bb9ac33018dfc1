// The whole tool against a simulated unit inside the test network
// namespace: the still-image server registered and created through COM, the
// unit's management and tunnel, the real sheet, pages and dialogs driven
// offscreen, and the program itself for what only a process shows.
#include "fakes.h"
#include "qt_support.h"

#include "infotool/coffsetdlg.h"
#include "infotool/cpindlg.h"
#include "infotool/gaugery_program.h"
#include "infotool/spin_edit.h"
#include "platform/com.h"
#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/library.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/tests/temp_folder.h"
#include "platform/unit_address.h"
#include "unitsim/simulated_unit.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace lumarc::infotool {
namespace {

using namespace testing;
using namespace std::chrono_literals;

const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
constexpr const char* kUnit = "127.0.0.2";
constexpr const char* kPin = "4321";

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

class Program : public ::testing::Test {
protected:
    void start(const std::string& model)
    {
        m_model = model;
        unitsim::UnitConfig config;
        config.address = *platform::resolveUnitAddress(kUnit);
        config.adminPin = kPin;
        config.scanner = unitsim::findScanner(model);
        auto unit = unitsim::SimulatedUnit::start(config);
        ASSERT_TRUE(unit) << unit.error().text;
        m_unit = std::move(*unit);
        ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
        shared::SettingsFile settings;
        ASSERT_TRUE(settings.write("Common", "Select", "2"));
        ASSERT_TRUE(settings.write("Common", "Current", "1"));
        ASSERT_TRUE(settings.write("1", "IP", "127.0.0.9"));
        ASSERT_TRUE(settings.write("2", "IP", kUnit));
        ASSERT_TRUE(settings.write("2", "Scanner", model));
        std::filesystem::create_directories(platform::windowsFolder() / "twain_32" /
                                            "orbscan32" / "DUMP");
        auto server = platform::Library::load(
            (platform::programFolder() / "libquentysti.so").string());
        ASSERT_TRUE(server) << server.error().text;
        ASSERT_EQ((*server->function<platform::DllRegisterServerFunction>("DllRegisterServer"))(),
                  platform::S_OK);
    }
    void TearDown() override { m_program.reset(); }

    GaugeryProgram& open()
    {
        m_program = std::make_unique<GaugeryProgram>(m_management, m_boxes, m_texts);
        EXPECT_EQ(m_program->start(), ToolSession::Start::Run);
        m_program->sheet()->show();
        return *m_program;
    }
    void close()
    {
        m_program->finish();
        m_program.reset();
    }
    QTreeWidget* list() { return m_program->sheet()->findChild<QTreeWidget*>("deviceInfoList"); }
    std::string row(const std::string& label)
    {
        // Every group expanded in turn, so that every row can be read.
        auto* logic = m_program->deviceInfo();
        for (const auto& r : logic->allRows())
            if (r.label == label)
                return r.value;
        return "(none)";
    }
    template <class T> T* child(const char* name)
    {
        auto* widget = m_program->sheet()->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void showDeviceSet() { m_program->sheet()->pages()->setCurrentIndex(1); }
    // Types pins into the PIN dialogs that come, one after another.
    void answerPins(std::vector<std::string> pins)
    {
        if (pins.empty())
            return;
        whenShown<CPinDlg>([this, pins](CPinDlg* dialog) mutable {
            EXPECT_EQ(dialog->findChild<QLineEdit*>("addressEdit")->text(), kUnit);
            EXPECT_EQ(dialog->findChild<QLineEdit*>("unitNameEdit")->text(), "LUMARC-SIM");
            auto* pin = dialog->findChild<QLineEdit*>("pinEdit");
            auto* ok = dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok);
            for (const auto& typed : pins) {
                pin->setText(QString::fromStdString(typed));
                QTest::mouseClick(ok, Qt::LeftButton);
            }
        });
    }
    void pressOk()
    {
        QTest::mouseClick(
            child<QDialogButtonBox>("sheetButtons")->button(QDialogButtonBox::Ok), Qt::LeftButton);
    }
    std::array<uint8_t, 511> eeprom() { return m_unit->scanner()->eeprom(); }

    lumarc::testing::SandboxEnvironment m_sandbox;
    platform::ComScope m_com;
    std::unique_ptr<unitsim::SimulatedUnit> m_unit;
    std::string m_model;
    ZorvanManagement m_management;
    FakeBoxes m_boxes;
    Texts m_texts;
    std::unique_ptr<GaugeryProgram> m_program;
};

TEST_F(Program, Class15PagesCounterPinAndPowerSaving)
{
    start("ORBIX-4000");
    GaugeryProgram& program = open();
    EXPECT_TRUE(m_unit->state().inScannerInfoMode());
    EXPECT_EQ(shared::SettingsFile().current(0), 2u) << "the still-image device serves Select";
    EXPECT_EQ(program.sheet()->windowTitle(), "ORBIX-4000 - 127.0.0.2");
    ASSERT_EQ(list()->topLevelItemCount(), 10);
    EXPECT_EQ(row("Product Identification"), "ORBIX-4000");
    EXPECT_EQ(row("Firmware Ver.(MDC)"), "0210");
    EXPECT_EQ(row("Initial Use"), "24/03/18");
    EXPECT_EQ(row("Endorser Firmware Ver."), "0105");
    EXPECT_TRUE(std::filesystem::exists(platform::windowsFolder() /
                                        "twain_32/orbscan32/DUMP/EEPORBIX-4000.bin"));

    showDeviceSet();
    EXPECT_EQ(child<QLineEdit>("firstCounterEdit")->text(), "48000");
    EXPECT_EQ(child<QLineEdit>("minutesEdit")->text(), "20");
    QTest::mouseClick(child<QPushButton>("clearFirstButton"), Qt::LeftButton);
    child<QSlider>("powerSavingSlider")->setValue(10);
    answerPins({"1111", kPin});
    pressOk();
    EXPECT_FALSE(program.sheet()->isVisible()) << "written, the sheet closes";
    EXPECT_EQ(m_boxes.texts(),
              (std::vector<std::string>{"Write to EEPROM\nOK?",
                                        "The specified PIN does not match.\nPlease type again."}));
    EXPECT_FALSE(m_unit->state().inMaintenance()) << "left right after the PIN was proved";
    EXPECT_EQ(eeprom()[62], 0);
    EXPECT_EQ(eeprom()[63], 0);
    EXPECT_EQ(eeprom()[328], 0x8A);
    EXPECT_EQ(m_unit->scanner()->powerSaving(), 0x8A);
    close();
    EXPECT_FALSE(m_unit->state().inScannerInfoMode()) << "left at the end";

    // A new start reads back what was written.
    open();
    showDeviceSet();
    EXPECT_EQ(child<QLineEdit>("firstCounterEdit")->text(), "0");
    EXPECT_EQ(child<QLineEdit>("minutesEdit")->text(), "50");
    close();
}

TEST_F(Program, Class13OffsetsAndMagnificationWrittenAndReadBack)
{
    start("ORBIX-2200");
    open();
    EXPECT_EQ(row("Initial Use"), "Not Registed");
    EXPECT_EQ(row("Serial Number"), "Not Defined");
    showDeviceSet();
    EXPECT_EQ(child<QLineEdit>("pickRollerEdit")->text(), "12500");
    whenShown<COffsetDlg>([this](COffsetDlg* dialog) {
        auto* units = dialog->findChild<QComboBox*>("unitCombo");
        units->setCurrentIndex(1); // ADF(front)
        dialog->findChild<SpinEdit*>("mainEdit")->setValue(-3);
        dialog->findChild<SpinEdit*>("subEdit")->setValue(2);
        auto* magnification = dialog->findChild<QComboBox*>("magnificationUnitCombo");
        magnification->setCurrentIndex(1); // ADF
        dialog->findChild<QSlider*>("magnificationSlider")->setValue(21);
        answerPins({kPin});
        QTest::mouseClick(
            dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok),
            Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>("offsetButton"), Qt::LeftButton);
    EXPECT_EQ(eeprom()[53], 0x2B);
    EXPECT_EQ(eeprom()[56], 21);
    EXPECT_EQ(eeprom()[60], 25) << "the counters around stay";
    close();

    open();
    showDeviceSet();
    whenShown<COffsetDlg>([](COffsetDlg* dialog) {
        dialog->findChild<QComboBox*>("unitCombo")->setCurrentIndex(1);
        EXPECT_EQ(dialog->findChild<SpinEdit*>("mainEdit")->value(), -3);
        EXPECT_EQ(dialog->findChild<SpinEdit*>("subEdit")->value(), 2);
        dialog->findChild<QComboBox*>("magnificationUnitCombo")->setCurrentIndex(1);
        EXPECT_EQ(dialog->findChild<QLineEdit*>("magnificationEdit")->text(), "2.1");
        dialog->reject();
    });
    QTest::mouseClick(child<QPushButton>("offsetButton"), Qt::LeftButton);
    close();
}

TEST_F(Program, Class18PowerSavingAndMagnificationInItsOwnForm)
{
    start("NOVIA-1810");
    open();
    EXPECT_EQ(row("On Board IPC"), "Yes (IPC4/IPC4d)");
    EXPECT_EQ(row("Serial No."), "181818 ");
    showDeviceSet();
    EXPECT_EQ(child<QLineEdit>("minutesEdit")->text(), "30");
    EXPECT_EQ(child<QLineEdit>("inkEdit")->text(), "18");
    QTest::mouseClick(child<QPushButton>("clearInkButton"), Qt::LeftButton);
    child<QSlider>("powerSavingSlider")->setValue(4);
    answerPins({kPin});
    pressOk();
    EXPECT_EQ(eeprom()[64], 0x84) << "(minutes / 5) or 0x80, as MODE SENSE reads it";
    EXPECT_EQ(m_unit->scanner()->inkPercent(), 100);
    close();

    open();
    showDeviceSet();
    EXPECT_EQ(child<QLineEdit>("minutesEdit")->text(), "20");
    whenShown<COffsetDlg>([this](COffsetDlg* dialog) {
        auto* magnification = dialog->findChild<QComboBox*>("magnificationUnitCombo");
        EXPECT_EQ(magnification->count(), 2);
        magnification->setCurrentIndex(1); // ADF
        EXPECT_EQ(dialog->findChild<QLineEdit*>("magnificationEdit")->text(), "2.5");
        dialog->findChild<QSlider*>("magnificationSlider")->setValue(-25);
        answerPins({kPin});
        QTest::mouseClick(
            dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok),
            Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>("offsetButton"), Qt::LeftButton);
    EXPECT_EQ(eeprom()[10], 0x39);
    close();
}

TEST_F(Program, Class8CountersClearedAndWrittenBack)
{
    start("VANTA-810");
    open();
    EXPECT_EQ(row("Buffering Capability"), "4096 KB");
    showDeviceSet();
    EXPECT_EQ(child<QLineEdit>("adfTotalEdit")->text(), "345678");
    EXPECT_EQ(child<QLineEdit>("firstCounterEdit")->text(), "54321");
    EXPECT_TRUE(child<QPushButton>("powerSavingButton")->isEnabled());
    QTest::mouseClick(child<QPushButton>("clearFirstButton"), Qt::LeftButton);
    m_boxes.answers = {BoxAnswer::Cancel};
    pressOk();
    EXPECT_TRUE(m_program->sheet()->isVisible()) << "Cancel keeps the sheet open";
    EXPECT_EQ(eeprom()[56], 0x31);
    answerPins({kPin});
    pressOk();
    for (const size_t at : {56, 57, 60, 61, 86, 88, 90})
        EXPECT_EQ(eeprom()[at], 0) << at;
    EXPECT_EQ(eeprom()[62], 0xFF) << "the pick roller stays";
    close();
    EXPECT_FALSE(m_unit->state().inScannerInfoMode());
}

// The program as a process.
class ProgramProcess : public Program {
protected:
    platform::Process launch()
    {
        m_log = m_sandbox.root() / "gaugery.err";
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("LUMARC_DEBUG", "1", 1);
        const int saved = ::dup(STDERR_FILENO);
        const int file = ::open(m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(file, STDERR_FILENO);
        auto process = platform::Process::start({(platform::programFolder() / "gaugery").string()});
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        ::close(file);
        ::unsetenv("LUMARC_DEBUG");
        EXPECT_TRUE(process) << process.error().text;
        return std::move(*process);
    }
    std::string log() { return platform::readWholeFile(m_log, 1 << 20).valueOr(""); }
    std::filesystem::path m_log;
};

TEST_F(ProgramProcess, EndsOnSigtermAndLeavesScannerInformationMode)
{
    start("KAVRO-14F0");
    auto process = launch();
    ASSERT_TRUE(eventually([&] { return m_unit->tunnel()->requests().size() >= 5; }))
        << "the Device Info page was read\n"
        << log();
    EXPECT_TRUE(m_unit->state().inScannerInfoMode());
    ASSERT_TRUE(process.terminate(SIGTERM));
    EXPECT_EQ(process.wait(10s), std::optional<int>(0)) << log();
    EXPECT_FALSE(m_unit->state().inScannerInfoMode());
}

TEST_F(ProgramProcess, SelectZeroShowsTheScannerMessageAndCallsNoUnit)
{
    start("KAVRO-14F0");
    ASSERT_TRUE(shared::SettingsFile().write("Common", "Select", "0"));
    auto process = launch();
    ASSERT_TRUE(eventually([&] { return log().find("The image scanner not found") != std::string::npos; }))
        << log();
    ASSERT_TRUE(process.terminate(SIGHUP));
    EXPECT_EQ(process.wait(10s), std::optional<int>(0));
    EXPECT_TRUE(m_unit->management().requests().empty()) << "no unit was asked anything";
}

TEST_F(ProgramProcess, ASecondCopyEndsSilently)
{
    start("KAVRO-14F0");
    auto first = platform::NamedMutex::create("Gaugery");
    ASSERT_TRUE(first);
    auto process = launch();
    EXPECT_EQ(process.wait(10s), std::optional<int>(0));
    EXPECT_EQ(log().find("(Gaugery) message"), std::string::npos) << log();
    EXPECT_FALSE(m_unit->state().inScannerInfoMode());
}

} // namespace
} // namespace lumarc::infotool
