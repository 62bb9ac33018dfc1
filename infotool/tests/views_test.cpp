// The Qt views offscreen: the spin edit's repeat on a fake clock, clicks in
// the Device Info list, the Device Set page's buttons, the Offset dialog's
// unit lists and the PIN edit.
#include "fakes.h"
#include "qt_support.h"

#include "infotool/cdevinfodlg.h"
#include "infotool/cdevsetdlg.h"
#include "infotool/coffsetdlg.h"
#include "infotool/cpindlg.h"
#include "infotool/spin_edit.h"
#include "platform/tests/temp_folder.h"
#include "unitsim/scanner_profiles.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTreeWidget>

namespace lumarc::infotool {
namespace {

using namespace testing;

const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// A timer whose ticks the test gives.
class FakeTimer : public RepeatTimer {
public:
    explicit FakeTimer(FakeTimer** self) { *self = this; }
    void start(std::chrono::milliseconds interval, std::function<void()> tick) override
    {
        started = interval;
        m_tick = std::move(tick);
        running = true;
    }
    void stop() override { running = false; }
    void tick(int times)
    {
        for (int i = 0; i < times && running; ++i)
            m_tick();
    }
    std::chrono::milliseconds started{0};
    bool running = false;

private:
    std::function<void()> m_tick;
};

class Spin : public ::testing::Test {
protected:
    void SetUp() override
    {
        setRepeatTimerFactory([this] { return std::make_unique<FakeTimer>(&timer); });
        edit = std::make_unique<SpinEdit>();
        edit->setRange({-127, 127});
        edit->resize(80, 24);
        edit->show();
    }
    void TearDown() override { setRepeatTimerFactory({}); }
    QPoint upper() const { return {8, 2}; }
    QPoint lower() const { return {8, edit->button()->height() - 2}; }

    FakeTimer* timer = nullptr;
    std::unique_ptr<SpinEdit> edit;
};

TEST_F(Spin, HeldUpperHalfRepeatsWithAGrowingStep)
{
    QTest::mousePress(edit->button(), Qt::LeftButton, {}, upper());
    EXPECT_EQ(edit->value(), 1) << "a press adds 1";
    EXPECT_EQ(timer->started, std::chrono::milliseconds(100));
    timer->tick(9);
    EXPECT_EQ(edit->value(), 10);
    timer->tick(1);
    EXPECT_EQ(edit->value(), 15) << "the 10th repeat steps by 5";
    timer->tick(20);
    EXPECT_EQ(edit->value(), 127) << "and never past the maximum";
    QTest::mouseRelease(edit->button(), Qt::LeftButton, {}, upper());
    EXPECT_FALSE(timer->running);

    QTest::mousePress(edit->button(), Qt::LeftButton, {}, lower());
    EXPECT_EQ(edit->value(), 126);
    edit->setPointerInHalf(false); // the pointer left the half: no repeats
    timer->tick(5);
    EXPECT_EQ(edit->value(), 126);
    QTest::mouseRelease(edit->button(), Qt::LeftButton, {}, lower());
}

TEST_F(Spin, ArrowKeysPressTheHalvesAndTypedTextIsKeptInRange)
{
    edit->edit()->setFocus();
    QTest::keyPress(edit->edit(), Qt::Key_Up);
    EXPECT_EQ(edit->value(), 1);
    timer->tick(2);
    EXPECT_EQ(edit->value(), 3);
    QTest::keyRelease(edit->edit(), Qt::Key_Up);
    EXPECT_FALSE(timer->running);
    QTest::keyClick(edit->edit(), Qt::Key_Down);
    EXPECT_EQ(edit->value(), 2);

    EXPECT_EQ(edit->edit()->maxLength(), 4);
    edit->edit()->clear();
    QTest::keyClicks(edit->edit(), "-9x99");
    EXPECT_EQ(edit->edit()->text(), "-999") << "digits and a sign only";
    QTest::keyClick(edit->edit(), Qt::Key_Return);
    EXPECT_EQ(edit->value(), -127);
    EXPECT_EQ(edit->edit()->text(), "-127");
}

class Pages : public ::testing::Test {
protected:
    void load(const std::string& model)
    {
        channel.attach(*unitsim::findScanner(model));
        identity = identify("VELORIN", model + " on NET", model + " on NET");
        commands.emplace(channel, identity.modelClass());
        setLogic.emplace(*commands, identity, data, texts, boxes, admin);
        infoLogic.emplace(*commands, identity, data, *setLogic, texts, boxes);
    }
    template <class T> T* find(QWidget* parent, const char* name)
    {
        auto* widget = parent->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    Texts texts;
    FakeChannel channel;
    FakeBoxes boxes;
    FakeAdmin admin;
    ScannerIdentity identity;
    ScannerData data;
    std::optional<ScannerCommands> commands;
    std::optional<DeviceSetLogic> setLogic;
    std::optional<DeviceInfoLogic> infoLogic;
};

TEST_F(Pages, DeviceInfoHeadsExpandOnAClick)
{
    load("ORBIX-4000");
    CDevInfoDlg page(*infoLogic, texts);
    page.resize(420, 400);
    page.show();
    page.initialise();
    auto* list = find<QTreeWidget>(&page, "deviceInfoList");
    EXPECT_EQ(list->headerItem()->text(0), "Function");
    EXPECT_EQ(list->headerItem()->text(1), "Support");
    EXPECT_EQ(list->columnWidth(0), 200);
    ASSERT_EQ(list->topLevelItemCount(), 10);
    EXPECT_EQ(list->topLevelItem(7)->text(0), "Endorser");

    const QRect head = list->visualItemRect(list->topLevelItem(0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, head.center());
    ASSERT_EQ(list->topLevelItemCount(), 10 + 8);
    EXPECT_EQ(list->topLevelItem(1)->text(0), "Vendor Identification");
    EXPECT_EQ(list->topLevelItem(2)->text(1), "ORBIX-4000");

    // Below the last row: nothing happens.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(10, list->viewport()->height() - 2));
    EXPECT_EQ(list->topLevelItemCount(), 18);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, head.center());
    EXPECT_EQ(list->topLevelItemCount(), 10);
}

TEST_F(Pages, DeviceSetButtonsAndSliderReachTheLogic)
{
    load("KAVRO-14F0");
    CDevSetDlg page(*setLogic);
    page.show();
    page.initialise();
    auto* pick = find<QLineEdit>(&page, "pickRollerEdit");
    EXPECT_EQ(pick->text(), "129000");
    EXPECT_TRUE(pick->isReadOnly());
    EXPECT_EQ(find<QLabel>(&page, "firstCounterLabel")->text(), "Pad :");
    EXPECT_FALSE(find<QWidget>(&page, "lampEdit")->isVisible());
    QTest::mouseClick(find<QPushButton>(&page, "clearPickButton"), Qt::LeftButton);
    EXPECT_EQ(pick->text(), "0");
    auto* slider = find<QSlider>(&page, "powerSavingSlider");
    EXPECT_EQ(slider->minimum(), 3);
    EXPECT_EQ(slider->maximum(), 11);
    EXPECT_EQ(slider->value(), 5);
    slider->setValue(8);
    EXPECT_EQ(find<QLineEdit>(&page, "minutesEdit")->text(), "40");
    EXPECT_TRUE(setLogic->modified());
    EXPECT_TRUE(page.apply());
    EXPECT_EQ(channel.scanner->eeprom()[64], 0x88);
    EXPECT_FALSE(find<QPushButton>(&page, "resetButton")->isVisible());
}

TEST_F(Pages, OffsetDialogKeepsEachUnitsValues)
{
    load("ORBIX-2200");
    ASSERT_TRUE(setLogic->open());
    OffsetLogic logic(identity, data, setLogic->image(), texts);
    COffsetDlg dialog(logic, *commands, setLogic->image(), boxes, admin, texts);
    dialog.show();
    auto* units = find<QComboBox>(&dialog, "unitCombo");
    auto* mainEdit = find<SpinEdit>(&dialog, "mainEdit");
    ASSERT_EQ(units->count(), 3);
    EXPECT_EQ(units->itemText(0), "Flat bed");
    EXPECT_EQ(mainEdit->value(), -2);
    EXPECT_EQ(mainEdit->range().maximum, 4);
    mainEdit->setValue(4);
    units->setCurrentIndex(1);
    EXPECT_EQ(mainEdit->value(), 2) << "the ADF's own value";
    units->setCurrentIndex(0);
    EXPECT_EQ(mainEdit->value(), 4) << "the flat bed kept what was typed";
    EXPECT_TRUE(find<QWidget>(&dialog, "topCheck")->isVisible());
    auto* slider = find<QSlider>(&dialog, "magnificationSlider");
    EXPECT_EQ(slider->tickInterval(), 3);
    slider->setValue(-25);
    EXPECT_EQ(find<QLineEdit>(&dialog, "magnificationEdit")->text(), "-2.5");
    QTest::mouseClick(find<QDialogButtonBox>(&dialog, "buttonBox")->button(QDialogButtonBox::Ok),
                      Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(channel.scanner->eeprom()[55], 0x34) << "flat bed main 4, sub 3";
    EXPECT_EQ(channel.scanner->eeprom()[57], 0x99) << "-2.5 %";
}

TEST_F(Pages, PinEditTakesSixDigits)
{
    lumarc::testing::SandboxEnvironment sandbox;
    shared::SettingsFile settings;
    FakeUnit unit;
    PinLogic logic(unit, settings, boxes, texts);
    CPinDlg dialog(logic, texts);
    dialog.show();
    auto* pin = find<QLineEdit>(&dialog, "pinEdit");
    EXPECT_EQ(pin->echoMode(), QLineEdit::Password);
    QTest::keyClicks(pin, "12a34567");
    EXPECT_EQ(pin->text(), "123456");
    EXPECT_EQ(find<QLineEdit>(&dialog, "unitNameEdit")->maxLength(), 20);
}

} // namespace
} // namespace lumarc::infotool
