// The Qt views offscreen against fakes: the unit list window (its list,
// busy state, progress window and Cancel, view styles, pages, launch keys,
// trigger port, closing), and the User Registration and Network
// Configuration dialogs' controls.
#include "fakes.h"

#include "configtool/cnetconfigdlg.h"
#include "configtool/cunitdeskdlg.h"
#include "configtool/cuserdlg.h"
#include "configtool/ip_address_edit.h"
#include "configtool/small_dialogs.h"
#include "platform/folders.h"
#include "platform/tests/temp_folder.h"
#include "qtcommon/tests/qt_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QHeaderView>
#include <QTabWidget>
#include <QTreeView>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

namespace lumarc::configtool {
namespace {

using namespace testing;
using namespace std::chrono_literals;
using qtcommon::testing::QtEnvironment;
using qtcommon::testing::whenShown;
namespace key = shared::key;

const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class Window : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
        for (uint32_t n = 1; n <= 3; ++n) {
            ASSERT_TRUE(m_file.write(std::to_string(n), key::kIp, "192.0.2." + std::to_string(n)));
            ASSERT_TRUE(m_file.write(std::to_string(n), key::kNetBoxName, "unit" + std::to_string(n)));
            ASSERT_TRUE(m_file.write(std::to_string(n), key::kStatus, "1"));
        }
        ASSERT_TRUE(m_file.write("Common", key::kTotal, "3"));
        ASSERT_TRUE(m_file.write("Common", key::kCurrent, "2"));
        ASSERT_TRUE(m_file.write("TimeOut", key::kSearchBox, "1"));
        ASSERT_TRUE(m_file.write("TimeOut", key::kMonIf, "1"));
    }
    CUnitdeskDlg& open(bool viewChooser = false)
    {
        m_window = std::make_unique<UnitListWindow>(m_file, m_unit, m_kicklet, m_boxes, m_texts,
                                                    m_dialogs, m_starter);
        m_dialog = std::make_unique<CUnitdeskDlg>(*m_window, m_launch, m_port, m_texts,
                                                  VersionFolders::ofThisProgram(), viewChooser);
        m_dialog->open();
        m_dialog->show();
        return *m_dialog;
    }
    template <class T> T* child(const char* name)
    {
        auto* widget = m_dialog->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString cell(int row, int column)
    {
        return m_dialog->model()->index(row, column).data().toString();
    }
    void click(const char* button) { QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton); }
    void selectRow(int row)
    {
        auto* list = child<QTreeView>("unitList");
        list->selectionModel()->select(m_dialog->model()->index(row, 0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    lumarc::testing::SandboxEnvironment m_sandbox;
    shared::SettingsFile m_file;
    FakeUnit m_unit;
    FakeEventModule m_kicklet;
    FakeBoxes m_boxes;
    FakeDialogs m_dialogs;
    FakeStarter m_starter;
    Texts m_texts;
    LaunchOptions m_launch{platform::Profile(shared::launchFilePath())};
    TriggerPortPage m_port{m_file, m_boxes, m_texts};
    std::unique_ptr<UnitListWindow> m_window;
    std::unique_ptr<CUnitdeskDlg> m_dialog;
};

TEST_F(Window, TheListShowsTheUnitsColumnsAndTheFavourite)
{
    CUnitdeskDlg& dialog = open();
    EXPECT_EQ(dialog.windowTitle(), "Lumarc Configuration Tool");
    QStandardItemModel* model = dialog.model();
    ASSERT_EQ(model->rowCount(), 3);
    const QStringList headings = {"Lumarc unit name", "Host name/IP address", "Scanner", "Status",
                                  "Favorite"};
    const auto* list = child<QTreeView>("unitList");
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(model->headerData(i, Qt::Horizontal).toString(), headings[i]);
        EXPECT_GE(list->columnWidth(i), list->header()->sectionSizeHint(i))
            << "the heading is shown whole: " << headings[i].toStdString();
    }
    EXPECT_EQ(cell(0, 0), "unit1");
    EXPECT_EQ(cell(1, 1), "192.0.2.2");
    EXPECT_EQ(cell(1, 2), "--------");
    EXPECT_EQ(cell(1, 3), "Active");
    EXPECT_EQ(cell(1, 4), "*");
    EXPECT_EQ(cell(0, 4), "");
    EXPECT_FALSE(child<QComboBox>("viewCombo")->isVisible()) << "ShowViewMode 0";
    for (const char* button : {"deleteButton", "userConfigButton", "adminButton",
                               "scannerInfoButton", "favoriteButton"})
        EXPECT_FALSE(child<QPushButton>(button)->isEnabled()) << button;
    selectRow(0);
    EXPECT_TRUE(child<QPushButton>("deleteButton")->isEnabled());
    EXPECT_EQ(m_window->list().rows.size(), 3u);
}

TEST_F(Window, ARefreshIsBusyShowsProgressAndCancelEndsItAtOnce)
{
    CUnitdeskDlg& dialog = open();
    bool checked = false;
    std::chrono::steady_clock::time_point cancelled;
    // While the wait runs: everything disabled, the progress window up.
    QTimer::singleShot(250, &dialog, [&] {
        EXPECT_FALSE(child<QPushButton>("refreshButton")->isEnabled());
        EXPECT_FALSE(child<QPushButton>("okButton")->isEnabled());
        EXPECT_FALSE(child<QTabWidget>("pageTabs")->tabBar()->isEnabled());
        EXPECT_EQ(dialog.cursor().shape(), Qt::WaitCursor);
        CProgressDlg* progress = dialog.progress();
        ASSERT_NE(progress, nullptr);
        EXPECT_TRUE(progress->isVisible());
        EXPECT_EQ(progress->maximum(), 70) << "W = (1 + 1 + 5) s";
        EXPECT_GE(progress->value(), 1);
        checked = true;
        cancelled = std::chrono::steady_clock::now();
        QTest::mouseClick(progress->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    });
    click("refreshButton");
    const auto ended = std::chrono::steady_clock::now();
    EXPECT_TRUE(checked);
    EXPECT_LT(ended - cancelled, 100ms) << "Cancel ends the wait within one poll";
    EXPECT_EQ(dialog.progress(), nullptr);
    EXPECT_TRUE(child<QPushButton>("refreshButton")->isEnabled());
    EXPECT_EQ(m_file.refresh(), 1u);
    EXPECT_TRUE(m_boxes.shown.empty());
}

TEST_F(Window, TheViewChooserSwitchesBetweenReportAndTheIconViews)
{
    CUnitdeskDlg& dialog = open(true);
    auto* chooser = child<QComboBox>("viewCombo");
    EXPECT_TRUE(chooser->isVisible());
    EXPECT_EQ(chooser->currentText(), "REPORT");
    EXPECT_EQ(chooser->count(), 4);
    auto* views = child<QStackedWidget>("unitViews");
    auto* icons = child<QListView>("unitIconList");
    chooser->setCurrentIndex(0);
    EXPECT_EQ(views->currentWidget(), icons);
    EXPECT_EQ(icons->viewMode(), QListView::IconMode);
    EXPECT_EQ(icons->iconSize(), QSize(32, 32));
    chooser->setCurrentIndex(2);
    EXPECT_EQ(icons->flow(), QListView::TopToBottom);
    // One selection behind all views.
    icons->selectionModel()->select(dialog.model()->index(2, 0), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(dialog.highlightedRow(), std::optional<size_t>(2));
    chooser->setCurrentIndex(3);
    EXPECT_EQ(views->currentWidget(), child<QTreeView>("unitList"));
}

TEST_F(Window, PagesLaunchKeysAndTheTriggerPort)
{
    CUnitdeskDlg& dialog = open();
    auto* tabs = child<QTabWidget>("pageTabs");
    EXPECT_EQ(tabs->tabText(3), "Version");
    tabs->setCurrentIndex(1);
    auto* buttons = child<QComboBox>("buttonCombo");
    EXPECT_EQ(buttons->count(), 10);
    EXPECT_EQ(buttons->itemText(3), "SendTo 3");
    ASSERT_TRUE(platform::Profile(shared::launchFilePath()).writeString("Launch", "Send3_Opt", "/USER"));
    buttons->setCurrentIndex(3);
    EXPECT_EQ(child<QLineEdit>("argumentEdit")->text(), "/USER");
    QTest::keyClicks(child<QLineEdit>("targetEdit"), "x");
    platform::Profile launch(shared::launchFilePath());
    EXPECT_EQ(launch.readString("Launch", "Send3_Apl", "(none)"), "x");
    EXPECT_EQ(launch.readString("Launch", "Send3_Wrk", "(none)"), "") << "all three written";

    tabs->setCurrentIndex(2);
    auto* port = child<QLineEdit>("triggerPortEdit");
    EXPECT_EQ(port->text(), "10002");
    port->selectAll();
    QTest::keyClicks(port, "1500");
    tabs->setCurrentIndex(0);
    EXPECT_EQ(tabs->currentIndex(), 2) << "kept on Advance";
    EXPECT_EQ(port->text(), "2000");
    EXPECT_EQ(m_boxes.last(), "Please enter an integer between 2000 and 60000.");
    tabs->setCurrentIndex(3);
    EXPECT_EQ(tabs->currentIndex(), 3);
    EXPECT_EQ(child<QLabel>("versionCaptionLabel")->text().toStdString().rfind("Lumarc Configuration Tool Version ", 0), 0u);

    m_boxes.shown.clear();
    click("okButton");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(m_boxes.shown.size(), 1u) << "the restart message, once";
    EXPECT_EQ(m_file.trgPort(), 2000u);
}

TEST_F(Window, TheVersionInformationDialogListsTheFiles)
{
    CUnitdeskDlg& dialog = open();
    whenShown<CVersionDlg>([](CVersionDlg* versions) {
        auto* list = versions->findChild<QTreeWidget*>("fileList");
        EXPECT_EQ(list->headerItem()->text(0), "File Name");
        EXPECT_EQ(list->topLevelItem(0)->text(0), "unitdesk");
        EXPECT_EQ(list->topLevelItem(list->topLevelItemCount() - 1)->text(1), "Not found");
        versions->accept();
    });
    dialog.showVersionInformation();
}

class UserDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_unit.users[0] = {"alice", "1111", "192.0.2.20"};
        m_dialog.open();
        m_dialog.show();
    }
    template <class T> T* child(const char* name) { return m_dialog.findChild<T*>(name); }
    void clickAt(const QPoint& point)
    {
        QTest::mouseClick(child<QTableWidget>("userList")->viewport(), Qt::LeftButton, {}, point);
    }

    FakeUnit m_unit;
    FakeBoxes m_boxes;
    Texts m_texts;
    UserRegistrationLogic m_logic{m_unit, m_boxes, m_texts, "192.0.2.10", "Lobby", "1234"};
    CUserDlg m_dialog{m_logic, m_boxes, m_texts};
};

TEST_F(UserDialog, ClicksOnRowsFreeSlotsAndTheEmptyArea)
{
    auto* list = child<QTableWidget>("userList");
    EXPECT_EQ(list->rowCount(), 32);
    EXPECT_EQ(list->item(31, 0)->text(), "32");
    clickAt(list->visualRect(list->model()->index(0, 1)).center());
    EXPECT_TRUE(child<QRadioButton>("modifyRadio")->isChecked());
    EXPECT_EQ(child<QLineEdit>("userNameEdit")->text(), "alice");
    EXPECT_TRUE(child<QLineEdit>("userNameEdit")->isReadOnly());
    EXPECT_TRUE(child<QPushButton>("deleteButton")->isEnabled());

    QTest::mouseClick(child<QRadioButton>("addRadio"), Qt::LeftButton);
    EXPECT_EQ(child<QLineEdit>("hostEdit")->text(), "");
    // Below the last row (the list is scrolled to its end first).
    list->scrollToBottom();
    clickAt(QPoint(5, list->viewport()->height() - 2));
    if (list->indexAt(QPoint(5, list->viewport()->height() - 2)).isValid())
        GTEST_SKIP() << "the rows fill the list";
    EXPECT_TRUE(child<QRadioButton>("modifyRadio")->isChecked());
    EXPECT_EQ(child<QLineEdit>("userNameEdit")->text(), "");
    EXPECT_FALSE(child<QPushButton>("deleteButton")->isEnabled());
}

TEST_F(UserDialog, AUserNameLongerThanSixteenBytesIsUndone)
{
    auto* name = child<QLineEdit>("userNameEdit");
    name->setFocus();
    QTest::keyClicks(name, "abcdefghijklmnop");
    EXPECT_EQ(name->text(), "abcdefghijklmnop");
    QTest::keyClicks(name, "q");
    EXPECT_EQ(name->text(), "abcdefghijklmnop");
    EXPECT_EQ(name->cursorPosition(), 16) << "the caret went back one position";
    name->clear();
    // Keys that type a three-byte character each.
    for (int i = 0; i < 6; ++i) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(0x5C71)));
        QApplication::sendEvent(name, &press);
    }
    EXPECT_EQ(name->text().toUtf8().size(), 15) << "a sixth three-byte character does not fit";
}

TEST(NetDialog, CheckBoxesMakeTheirFieldsWritableAndDefaultResetsThePort)
{
    FakeUnit unit;
    unit.triggerPort = 12345;
    FakeBoxes boxes;
    const Texts texts;
    NetworkConfigLogic logic(unit, boxes, texts, "192.0.2.10", "Lobby", "1234");
    CNetConfigDlg dialog(logic, texts);
    dialog.open();
    auto* name = dialog.findChild<QLineEdit*>("nameEdit");
    auto* port = dialog.findChild<QLineEdit*>("triggerPortEdit");
    auto* defaultButton = dialog.findChild<QPushButton*>("defaultButton");
    EXPECT_EQ(port->text(), "12345");
    EXPECT_EQ(dialog.findChild<QLineEdit*>("macEdit")->text(), "00-1b-2c-3d-4e-af");
    EXPECT_EQ(dialog.findChild<IpAddressEdit*>("gatewayEdit")->fields(),
              (std::array<uint8_t, 4>{192, 168, 1, 1}));
    EXPECT_TRUE(name->isReadOnly());
    EXPECT_FALSE(defaultButton->isEnabled());
    dialog.findChild<QCheckBox*>("changeConfigCheck")->setChecked(true);
    EXPECT_FALSE(name->isReadOnly());
    EXPECT_FALSE(port->isReadOnly());
    QTest::mouseClick(defaultButton, Qt::LeftButton);
    EXPECT_EQ(port->text(), "10002");
    EXPECT_TRUE(dialog.findChild<QLineEdit*>("newPinEdit")->isReadOnly());
    dialog.findChild<QCheckBox*>("changePinCheck")->setChecked(true);
    EXPECT_FALSE(dialog.findChild<QLineEdit*>("confirmPinEdit")->isReadOnly());

    port->setText("70000");
    QTest::mouseClick(dialog.findChild<QPushButton*>("applyButton"), Qt::LeftButton);
    EXPECT_EQ(port->text(), "60000");
}

TEST(AddDialog, TheChosenKindOfAddressEnablesItsField)
{
    const Texts texts;
    CAddDlg dialog(texts);
    auto* address = dialog.findChild<IpAddressEdit*>("ipAddressEdit");
    auto* host = dialog.findChild<QLineEdit*>("hostNameEdit");
    EXPECT_TRUE(address->isEnabled());
    EXPECT_FALSE(host->isEnabled());
    address->field(0)->setText("192");
    address->field(1)->setText("168");
    address->field(3)->setText("5");
    EXPECT_EQ(dialog.choice().address, (std::array<uint8_t, 4>{192, 168, 0, 5})) << "empty is 0";
    dialog.findChild<QRadioButton*>("hostNameRadio")->setChecked(true);
    EXPECT_FALSE(address->isEnabled());
    EXPECT_TRUE(host->isEnabled());
    host->setText("scanpc-2");
    EXPECT_TRUE(dialog.choice().byHostName);
    EXPECT_EQ(dialog.choice().hostName, "scanpc-2");
}

} // namespace
} // namespace lumarc::configtool
