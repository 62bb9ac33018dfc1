// The configuration tool against the real event module (kicklet) and
// simulated units, inside the test network namespace: start-up with and
// without the event module, a second copy, refreshes and their Cancel, Add
// by host name, Delete, Favorite, the maintenance access with its PIN
// messages, users, backup and restore, the PIN change, and Scanner Info.
// The Qt window and dialogs are driven offscreen.
#include "fakes.h"

#include "configtool/cnetconfigdlg.h"
#include "configtool/cuserdlg.h"
#include "configtool/small_dialogs.h"
#include "configtool/unitdesk_program.h"
#include "platform/com.h"
#include "platform/folders.h"
#include "platform/library.h"
#include "platform/message_window.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/tests/temp_folder.h"
#include "platform/unit_address.h"
#include "qtcommon/tests/qt_support.h"
#include "unitsim/simulated_unit.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace lumarc::configtool {
namespace {

using namespace testing;
using namespace std::chrono_literals;
using qtcommon::testing::QtEnvironment;
using qtcommon::testing::whenShown;
namespace key = shared::key;
namespace fs = std::filesystem;

const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
constexpr uint16_t kTriggerPort = 10779;
constexpr const char* kPin = "4321";

template <class Condition> bool eventually(Condition condition, std::chrono::milliseconds limit = 10s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QTest::qWait(20);
    }
    return true;
}

class Program : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
        ASSERT_TRUE(m_file.write("Common", key::kTrgPort, std::to_string(kTriggerPort)));
        ASSERT_TRUE(m_file.write("TimeOut", key::kSearchBox, "1"));
        ASSERT_TRUE(m_file.write("TimeOut", key::kMonIf, "2"));
        ::setenv("LUMARC_DEBUG", "0", 1);
        m_front = unit("127.0.0.2", "Front desk");
        m_back = unit("127.0.0.3", "Back office");
    }
    void TearDown() override
    {
        m_program.reset();
        if (m_kicklet && m_kicklet->running()) {
            (void)m_kicklet->terminate(SIGTERM);
            EXPECT_EQ(m_kicklet->wait(10s), std::optional<int>(0));
        }
    }
    std::unique_ptr<unitsim::SimulatedUnit> unit(const std::string& address, const std::string& name)
    {
        unitsim::UnitConfig config;
        config.address = *platform::resolveUnitAddress(address);
        config.name = name;
        config.adminPin = kPin;
        config.triggerPort = kTriggerPort;
        config.mac[5] = static_cast<uint8_t>(address.back());
        auto started = unitsim::SimulatedUnit::start(config);
        EXPECT_TRUE(started) << started.error().text;
        return started ? std::move(*started) : nullptr;
    }
    void startKicklet()
    {
        const fs::path log = m_sandbox.root() / "kicklet.err";
        const int saved = ::dup(STDERR_FILENO);
        const int file = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        ::dup2(file, STDERR_FILENO);
        auto process = platform::Process::start(
            {(platform::programFolder() / "kicklet").string(), "--foreground"});
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        ::close(file);
        ASSERT_TRUE(process) << process.error().text;
        m_kicklet.emplace(std::move(*process));
        ASSERT_TRUE(eventually([] { return platform::findWindow("Kicklet") != 0; }));
    }
    // Starts the tool; its first refresh runs when the window is shown.
    CUnitdeskDlg& open()
    {
        auto starter = std::make_unique<GaugeryStarter>();
        m_starter = starter.get();
        m_program = std::make_unique<UnitdeskProgram>(m_management, m_eventModule, m_boxes,
                                                      m_texts, std::move(starter));
        EXPECT_EQ(m_program->start(), UnitdeskSession::Start::Run);
        m_program->window()->show();
        EXPECT_TRUE(eventually([this] { return m_program->unitList()->list().rows.size() >= 2 &&
                                                !m_program->unitList()->busy(); }));
        return *m_program->window();
    }
    CUnitdeskDlg& window() { return *m_program->window(); }
    template <class T> T* child(const char* name)
    {
        auto* widget = window().findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    int rowOf(const std::string& address)
    {
        const auto& rows = m_program->unitList()->list().rows;
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].address == address)
                return static_cast<int>(i);
        return -1;
    }
    QString cell(int row, int column) { return window().model()->index(row, column).data().toString(); }
    void select(const std::string& address)
    {
        const int row = rowOf(address);
        ASSERT_GE(row, 0) << address;
        child<QTreeView>("unitList")->selectionModel()->select(
            window().model()->index(row, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    void click(const char* name) { QTest::mouseClick(child<QPushButton>(name), Qt::LeftButton); }
    // Types PINs into the Administrator PIN dialog one after another; with
    // cancelAfter the dialog is cancelled once they are typed.
    void answerPins(std::vector<std::string> pins, bool cancelAfter = false)
    {
        whenShown<CPinDlg>([pins, cancelAfter](CPinDlg* dialog) {
            auto* pin = dialog->findChild<QLineEdit*>("pinEdit");
            auto* box = dialog->findChild<QDialogButtonBox*>("buttonBox");
            for (const auto& typed : pins) {
                pin->setText(QString::fromStdString(typed));
                QTest::mouseClick(box->button(QDialogButtonBox::Ok), Qt::LeftButton);
            }
            if (cancelAfter && dialog->isVisible())
                dialog->reject();
        });
    }

    lumarc::testing::SandboxEnvironment m_sandbox;
    shared::SettingsFile m_file;
    std::unique_ptr<unitsim::SimulatedUnit> m_front, m_back;
    std::optional<platform::Process> m_kicklet;
    ZorvanManagement m_management;
    KickletWindow m_eventModule;
    FakeBoxes m_boxes;
    Texts m_texts;
    GaugeryStarter* m_starter = nullptr;
    std::unique_ptr<UnitdeskProgram> m_program;
};

TEST_F(Program, WithoutTheEventModuleTheToolEndsBeforeAnyWindow)
{
    m_program = std::make_unique<UnitdeskProgram>(m_management, m_eventModule, m_boxes, m_texts);
    EXPECT_EQ(m_program->start(), UnitdeskSession::Start::End);
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"Kicklet is not started.Please start Kicklet."});
    EXPECT_EQ(m_boxes.shown[0].icon, BoxIcon::Error);
    EXPECT_EQ(m_program->window(), nullptr);
    m_program->finish();
    EXPECT_FALSE(platform::NamedMutex::exists(kInstanceMutex)) << "released on the early end";
}

TEST_F(Program, ASecondCopyBringsTheFirstToTheFrontAndEnds)
{
    startKicklet();
    open();
    auto second = platform::Process::start({(platform::programFolder() / "unitdesk").string()});
    ASSERT_TRUE(second);
    std::optional<int> status;
    ASSERT_TRUE(eventually([&] { return (status = second->wait(0ms)).has_value(); }));
    EXPECT_EQ(status, std::optional<int>(0));
    EXPECT_TRUE(eventually([this] { return m_program->activations() == 1; }));
}

TEST_F(Program, RefreshCancelAddByHostNameDeleteAndFavorite)
{
    // A third unit on 127.0.0.1 that does not answer the broadcast: found
    // only when added by hand, here as "localhost".
    auto byHand = unit("127.0.0.1", "Back room");
    byHand->discovery().setFaults({false, 0ms, true});
    startKicklet();
    CUnitdeskDlg& dialog = open();
    ASSERT_EQ(m_program->unitList()->list().rows.size(), 2u);
    EXPECT_EQ(cell(rowOf("127.0.0.2"), 0), "Front desk");
    EXPECT_EQ(cell(rowOf("127.0.0.3"), 3), "Active");
    EXPECT_EQ(cell(rowOf("127.0.0.3"), 2), "ORBIX-4000");

    // Cancel while the event module still searches.
    std::chrono::steady_clock::time_point cancelled;
    QTimer::singleShot(300, &dialog, [&] {
        cancelled = std::chrono::steady_clock::now();
        QTest::mouseClick(dialog.progress()->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    });
    click("refreshButton");
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, 150ms);
    EXPECT_TRUE(m_boxes.shown.empty());
    // The event module still finishes the search it was asked for; the
    // flag tells when (the next refresh would take its answer otherwise).
    ASSERT_TRUE(m_file.write("Common", key::kRefresh, "0"));
    ASSERT_TRUE(eventually([this] { return m_file.refresh() == 1; }));

    whenShown<CAddDlg>([](CAddDlg* add) {
        add->findChild<QRadioButton*>("hostNameRadio")->setChecked(true);
        add->findChild<QLineEdit*>("hostNameEdit")->setText("localhost");
        add->accept();
    });
    click("addButton");
    const int added = rowOf("localhost");
    ASSERT_EQ(added, 2);
    EXPECT_EQ(cell(added, 1), "localhost");
    EXPECT_EQ(cell(added, 0), "Back room") << "queried by its host name";
    EXPECT_EQ(m_file.unit(3, "").autoFound, 0u);

    // The back office unit goes away; deleting it shows "Deleting..." until
    // the refresh has removed it.
    m_back.reset();
    select("127.0.0.3");
    bool sawDeleting = false;
    QTimer::singleShot(200, &dialog, [&] { sawDeleting = cell(rowOf("127.0.0.3"), 3) == "Deleting..."; });
    click("deleteButton");
    EXPECT_EQ(m_boxes.last(), "Do you want to delete your specified device connection.");
    EXPECT_TRUE(sawDeleting);
    EXPECT_EQ(rowOf("127.0.0.3"), -1);
    EXPECT_EQ(m_file.total(), 2u);

    select("localhost");
    click("favoriteButton");
    EXPECT_EQ(m_file.current(0), static_cast<uint32_t>(rowOf("localhost") + 1));
    EXPECT_EQ(cell(rowOf("localhost"), 4), "*");
    EXPECT_EQ(cell(rowOf("127.0.0.2"), 4), "");
}

TEST_F(Program, UsersAreAddedModifiedDeletedBackedUpAndRestored)
{
    ASSERT_TRUE(m_front->state().preloadUser({"alice", "1111", "192.0.2.20"}));
    ASSERT_TRUE(m_front->state().preloadUser({"bob", "2222", "scanpc-2"}));
    startKicklet();
    open();
    select("127.0.0.2");
    const fs::path backup = m_sandbox.root() / "Front desk_backup.bin";
    std::vector<unitsim::UserSlot> before;
    answerPins({kPin});
    whenShown<CUserDlg>([&](CUserDlg* users) {
        EXPECT_TRUE(m_front->state().inMaintenance());
        auto* list = users->findChild<QTableWidget*>("userList");
        EXPECT_EQ(list->item(1, 1)->text(), "bob");
        users->findChild<QLineEdit*>("userNameEdit")->setText(QString::fromUtf8("\u3000carol "));
        users->findChild<QLineEdit*>("pinEdit")->setText("3333");
        users->findChild<QLineEdit*>("hostEdit")->setText("192.168.1.5");
        QTest::mouseClick(users->findChild<QPushButton*>("enterButton"), Qt::LeftButton);
        EXPECT_EQ(list->item(2, 1)->text(), "carol");

        // Modify bob's host.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1, 1)).center());
        EXPECT_TRUE(users->findChild<QRadioButton*>("modifyRadio")->isChecked());
        users->findChild<QLineEdit*>("hostEdit")->setText("scanpc-3");
        QTest::mouseClick(users->findChild<QPushButton*>("enterButton"), Qt::LeftButton);
        EXPECT_EQ(list->item(1, 2)->text(), "scanpc-3");

        // Back up, delete alice, restore: the table is as it was.
        users->fileChooser = [&](bool, const std::string&) { return backup.string(); };
        before = m_front->state().users();
        whenShown<CBackupPassDlg>([](CBackupPassDlg* password) {
            password->findChild<QLineEdit*>("passwordEdit")->setText("s3cret");
            password->findChild<QLineEdit*>("passwordAgainEdit")->setText("s3cret");
            password->accept();
        });
        QTest::mouseClick(users->findChild<QPushButton*>("backupButton"), Qt::LeftButton);
        EXPECT_EQ(fs::file_size(backup), kUserDatabaseSize);

        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0, 1)).center());
        QTest::mouseClick(users->findChild<QPushButton*>("deleteButton"), Qt::LeftButton);
        EXPECT_EQ(list->item(0, 1)->text(), "");

        whenShown<CBackupPassDlg>([](CBackupPassDlg* password) {
            EXPECT_FALSE(password->findChild<QLineEdit*>("passwordAgainEdit")->isEnabled());
            password->findChild<QLineEdit*>("passwordEdit")->setText("s3cret");
            password->accept();
        });
        QTest::mouseClick(users->findChild<QPushButton*>("restoreButton"), Qt::LeftButton);
        EXPECT_EQ(list->item(0, 1)->text(), "alice");
        users->accept();
    });
    click("userConfigButton");
    EXPECT_FALSE(m_front->state().inMaintenance()) << "left when the dialog closed";
    const auto after = m_front->state().users();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].name, before[i].name) << i;
        EXPECT_EQ(after[i].pin, before[i].pin) << i;
        EXPECT_EQ(after[i].host, before[i].host) << i;
    }
    EXPECT_EQ(after[2].name, "carol");
    EXPECT_EQ(after[1].host, "scanpc-3");
    EXPECT_EQ(m_boxes.texts(), (std::vector<std::string>{
                                   "User information was registered successfully.",
                                   "User information was modified.",
                                   "All user information was successfully backed up.",
                                   "OK to remove?",
                                   "User information was deleted.",
                                   "All user information was successfully restored."}));
}

TEST_F(Program, AWrongPinAndAUnitAlreadyInMaintenanceKeepThePinDialogOpen)
{
    startKicklet();
    open();
    select("127.0.0.2");
    answerPins({"1111"}, true);
    click("adminButton");
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"The specified PIN does not match.\nPlease type again."});
    EXPECT_FALSE(m_front->state().inMaintenance());

    // Another PC holds the unit in maintenance mode.
    ASSERT_EQ(Zorvan_MaintenanceMode("127.0.0.2", "root", kPin, 1), 0u);
    m_boxes.shown.clear();
    answerPins({kPin}, true);
    click("userConfigButton");
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{
                                   "It is already in maintenance mode. Start again after the "
                                   "maintenance mode is completed."});
    EXPECT_EQ(Zorvan_MaintenanceMode("127.0.0.2", "root", kPin, 0), 0u) << "still the other PC's";
}

TEST_F(Program, APinChangeThenCloseLeavesMaintenanceWithTheNewPin)
{
    startKicklet();
    open();
    select("127.0.0.2");
    answerPins({kPin});
    whenShown<CNetConfigDlg>([](CNetConfigDlg* network) {
        EXPECT_EQ(network->findChild<QLineEdit*>("nameEdit")->text(), "Front desk");
        EXPECT_EQ(network->findChild<QLineEdit*>("firmwareEdit")->text(), "LM-2.10.0031");
        EXPECT_EQ(network->findChild<QLineEdit*>("macEdit")->text(), "02-4c-4d-00-00-32");
        network->findChild<QCheckBox*>("changePinCheck")->setChecked(true);
        network->findChild<QCheckBox*>("changeConfigCheck")->setChecked(true);
        network->findChild<QLineEdit*>("newPinEdit")->setText("8765");
        network->findChild<QLineEdit*>("confirmPinEdit")->setText("8765");
        network->findChild<QLineEdit*>("nameEdit")->setText("Reception");
        QTest::mouseClick(network->findChild<QPushButton*>("applyButton"), Qt::LeftButton);
        QTest::mouseClick(network->findChild<QPushButton*>("closeButton"), Qt::LeftButton);
    });
    click("adminButton");
    EXPECT_EQ(m_boxes.texts(), (std::vector<std::string>{"The PIN was successfully changed.",
                                                         "Lumarc configuration was successfully changed."}));
    EXPECT_EQ(m_front->state().config().adminPin, "8765");
    EXPECT_EQ(m_front->state().config().name, "Reception");
    EXPECT_FALSE(m_front->state().inMaintenance()) << "left with the new PIN";
    EXPECT_EQ(cell(rowOf("127.0.0.2"), 0), "Reception");
}

TEST_F(Program, ScannerInfoStartsTheScannerToolForTheSelectedUnit)
{
    auto server = platform::Library::load((platform::programFolder() / "libquentysti.so").string());
    ASSERT_TRUE(server) << server.error().text;
    ASSERT_EQ((*server->function<platform::DllRegisterServerFunction>("DllRegisterServer"))(),
              platform::S_OK);
    fs::create_directories(platform::windowsFolder() / "twain_32" / "orbscan32" / "DUMP");
    startKicklet();
    open();
    select("127.0.0.3");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    click("scannerInfoButton");
    EXPECT_TRUE(m_boxes.shown.empty()) << m_boxes.last();
    EXPECT_EQ(m_file.select(), static_cast<uint32_t>(rowOf("127.0.0.3") + 1));
    ASSERT_NE(m_starter->last(), nullptr);
    EXPECT_TRUE(eventually([this] { return m_back->state().inScannerInfoMode(); }))
        << "gaugery opened the selected unit";
    EXPECT_FALSE(m_front->state().inScannerInfoMode());
    ASSERT_TRUE(m_starter->last()->terminate(SIGTERM));
    EXPECT_EQ(m_starter->last()->wait(10s), std::optional<int>(0));
    EXPECT_FALSE(m_back->state().inScannerInfoMode()) << "left at its end";
}

} // namespace
} // namespace lumarc::configtool
