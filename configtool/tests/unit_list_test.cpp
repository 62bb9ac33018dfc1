// The unit list from the settings file (rebuild passes, repairs, the rows'
// texts and images) and the unit list page's logic: the refresh handshake
// and its wait, Add, Delete, Favorite and the hand-over of a unit.
#include "fakes.h"

#include "platform/folders.h"
#include "platform/tests/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace lumarc::configtool {
namespace {

using namespace testing;
using namespace std::chrono_literals;
namespace key = shared::key;

class UnitListTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder())); }
    void unit(uint32_t n, const std::string& ip, uint32_t status = 1,
              const std::string& scanner = "ORBIX-4000", const std::string& name = "unit")
    {
        const std::string section = std::to_string(n);
        if (ip != "(none)") {
            ASSERT_TRUE(m_file.write(section, key::kIp, ip));
        }
        ASSERT_TRUE(m_file.write(section, key::kNetBoxName, name + section));
        if (scanner != "(none)") {
            ASSERT_TRUE(m_file.write(section, key::kScanner, scanner));
        }
        ASSERT_TRUE(m_file.writeNumber(section, key::kStatus, status));
        if (m_file.total() < n) {
            ASSERT_TRUE(m_file.writeNumber("Common", key::kTotal, n));
        }
    }
    std::string common(std::string_view name) { return m_file.profile().readString("Common", name, "(none)"); }

    lumarc::testing::SandboxEnvironment m_sandbox;
    shared::SettingsFile m_file;
    Texts m_texts;
};

TEST_F(UnitListTest, RowsShowTheSectionsWithStatusTextsImagesAndTheFavouriteMark)
{
    unit(1, "192.0.2.10", 1);
    unit(2, "scanpc-2", 2, "");
    unit(3, "192.0.2.12", 5, "(none)");
    unit(4, "192.0.2.13", 0);
    unit(5, "192.0.2.14", 7);
    ASSERT_TRUE(m_file.write("Common", key::kCurrent, "2"));
    UnitListFile file(m_file, m_texts);
    const UnitList list = file.rebuild();
    EXPECT_EQ(file.lastPasses(), 1);
    ASSERT_EQ(list.rows.size(), 5u);
    struct Expected {
        std::string address, scanner, status;
        UnitIcon icon;
    };
    const Expected expected[] = {
        {"192.0.2.10", "ORBIX-4000", "Active", UnitIcon::Active},
        {"scanpc-2", "--------", "Busy", UnitIcon::CurrentActive},
        {"192.0.2.12", "--------", "Deleting...", UnitIcon::Inactive},
        {"192.0.2.13", "ORBIX-4000", "Inactive", UnitIcon::Inactive},
        {"192.0.2.14", "ORBIX-4000", "Inactive", UnitIcon::Inactive},
    };
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list.rows[i].name, "unit" + std::to_string(i + 1));
        EXPECT_EQ(list.rows[i].address, expected[i].address);
        EXPECT_EQ(list.rows[i].scanner, expected[i].scanner);
        EXPECT_EQ(list.rows[i].status, expected[i].status);
        EXPECT_EQ(list.rows[i].icon, expected[i].icon);
        EXPECT_EQ(list.rows[i].favorite, i == 1);
    }
    EXPECT_EQ(list.favoriteRow, std::optional<size_t>(1));
}

TEST_F(UnitListTest, AMissingFileIsAnEmptyListAndCurrentDefaultsToTheFirstUnit)
{
    UnitListFile file(m_file, m_texts);
    EXPECT_TRUE(file.rebuild().rows.empty());
    EXPECT_FALSE(std::filesystem::exists(m_file.path())) << "an empty list repairs nothing";

    unit(1, "192.0.2.10", 0);
    const UnitList list = file.rebuild();
    EXPECT_EQ(list.rows[0].icon, UnitIcon::CurrentInactive) << "Current reads as 1";
    EXPECT_TRUE(list.rows[0].favorite);
}

// The repairs of a pass: what the file holds afterwards and the list shown.
TEST_F(UnitListTest, RepairsMissingAddressesAndCurrentOutOfRange)
{
    struct Case {
        const char* what;
        std::string current; // "(none)": the key is missing
        std::vector<std::string> ips;
        int passes;
        std::string currentAfter, selectAfter;
        std::vector<std::string> ipsAfter;
    };
    const Case cases[] = {
        {"Current 0 with units", "0", {"192.0.2.1", "192.0.2.2", "192.0.2.3"}, 2, "3", "3",
         {"192.0.2.1", "192.0.2.2", "192.0.2.3"}},
        {"Current beyond Total", "9", {"192.0.2.1", "192.0.2.2"}, 2, "2", "2",
         {"192.0.2.1", "192.0.2.2"}},
        {"a section without IP", "1", {"192.0.2.1", "(none)", "192.0.2.3"}, 2, "3", "3",
         {"192.0.2.1", "", "192.0.2.3"}},
        {"two without IP", "(none)", {"(none)", "192.0.2.2", "(none)"}, 3, "3", "3",
         {"", "192.0.2.2", ""}},
        {"the address 0.0.0.0", "1", {"192.0.2.1", "0.0.0.0"}, 2, "2", "2", {"192.0.2.1", ""}},
        {"an empty IP stays empty", "1", {""}, 1, "1", "(none)", {""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        lumarc::testing::SandboxEnvironment sandbox;
        ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
        shared::SettingsFile settings;
        for (size_t i = 0; i < c.ips.size(); ++i) {
            if (c.ips[i] != "(none)") {
                ASSERT_TRUE(settings.write(std::to_string(i + 1), key::kIp, c.ips[i]));
            }
            ASSERT_TRUE(settings.write(std::to_string(i + 1), key::kStatus, "1"));
        }
        ASSERT_TRUE(settings.writeNumber("Common", key::kTotal, static_cast<uint32_t>(c.ips.size())));
        if (c.current != "(none)") {
            ASSERT_TRUE(settings.write("Common", key::kCurrent, c.current));
        }
        UnitListFile file(settings, m_texts);
        const UnitList list = file.rebuild();
        EXPECT_EQ(file.lastPasses(), c.passes);
        EXPECT_EQ(settings.profile().readString("Common", key::kCurrent, "(none)"), c.currentAfter);
        EXPECT_EQ(settings.profile().readString("Common", key::kSelect, "(none)"), c.selectAfter);
        ASSERT_EQ(list.rows.size(), c.ips.size());
        for (size_t i = 0; i < c.ips.size(); ++i) {
            EXPECT_EQ(settings.profile().readString(std::to_string(i + 1), key::kIp, "(none)"),
                      c.ipsAfter[i]);
            EXPECT_EQ(list.rows[i].address, c.ipsAfter[i]);
        }
        const size_t favourite = std::stoul(c.currentAfter) - 1;
        EXPECT_EQ(list.favoriteRow, std::optional<size_t>(favourite));
        EXPECT_EQ(list.rows[favourite].icon, UnitIcon::CurrentActive);
    }
}

TEST_F(UnitListTest, AFileThatRefusesTheRepairEndsTheRebuildInsteadOfLoopingForEver)
{
    unit(1, "(none)");
    unit(2, "(none)");
    // Every write fails: the process may write no file of more than 16
    // bytes (which holds for root as well).
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit tiny = saved;
    tiny.rlim_cur = 16;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    UnitListFile file(m_file, m_texts);
    const UnitList list = file.rebuild();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(file.lastPasses(), 4) << "Total + 2 passes at most";
    EXPECT_EQ(list.rows.size(), 1u);
    EXPECT_EQ(m_file.unit(1, "(none)").ip, "(none)") << "the file is as it was";
}

TEST_F(UnitListTest, AddDeleteFavoriteAndSelectWriteTheirKeys)
{
    unit(1, "192.0.2.10");
    UnitListFile file(m_file, m_texts);
    ASSERT_TRUE(file.addUnit("scanpc-2"));
    ASSERT_TRUE(file.addUnit(dottedAddress({0, 0, 0, 0})));
    EXPECT_EQ(m_file.total(), 3u);
    EXPECT_EQ(m_file.unit(2, "").ip, "scanpc-2");
    EXPECT_EQ(m_file.unit(2, "").autoFound, 0u);
    EXPECT_EQ(m_file.profile().readString("2", key::kAuto, ""), "0");
    EXPECT_EQ(m_file.unit(3, "").ip, "0.0.0.0");

    ASSERT_TRUE(file.markForDeletion(1));
    EXPECT_EQ(m_file.unit(2, "").status, 5u);
    ASSERT_TRUE(file.makeCurrent(2));
    EXPECT_EQ(common(key::kCurrent), "3");
    ASSERT_TRUE(file.select(0));
    EXPECT_EQ(common(key::kSelect), "1");
    ASSERT_TRUE(file.select(std::nullopt));
    EXPECT_EQ(common(key::kSelect), "3") << "the text of Current when nothing is highlighted";
    ASSERT_TRUE(m_file.profile().deleteKey("Common", key::kCurrent));
    ASSERT_TRUE(file.select(std::nullopt));
    EXPECT_EQ(common(key::kSelect), "0");
}

TEST_F(UnitListTest, DottedAddressesOfTheFourFields)
{
    EXPECT_EQ(dottedAddress({192, 168, 1, 5}), "192.168.1.5");
    EXPECT_EQ(dottedAddress({0, 0, 0, 0}), "0.0.0.0");
    EXPECT_EQ(dottedAddress({255, 255, 255, 255}), "255.255.255.255");
}

// The page's logic with a fake view, event module, dialogs and starter.
class UnitPage : public UnitListTest {
protected:
    void SetUp() override
    {
        UnitListTest::SetUp();
        ASSERT_TRUE(m_file.write("TimeOut", key::kSearchBox, "1"));
        ASSERT_TRUE(m_file.write("TimeOut", key::kMonIf, "1"));
    }
    UnitListWindow& open()
    {
        m_window = std::make_unique<UnitListWindow>(m_file, m_unit, m_kicklet, m_boxes, m_texts,
                                                    m_dialogs, m_starter);
        m_window->open(m_view);
        return *m_window;
    }
    // The event module answers at the given pause.
    void answerAt(int pause)
    {
        m_view.onPause = [this, pause](int n) {
            if (n == pause) {
                ASSERT_TRUE(m_file.write("Common", key::kRefresh, "1"));
            }
        };
    }

    FakeUnit m_unit;
    FakeEventModule m_kicklet;
    FakeBoxes m_boxes;
    FakeDialogs m_dialogs;
    FakeStarter m_starter;
    FakeView m_view;
    std::unique_ptr<UnitListWindow> m_window;
};

TEST_F(UnitPage, TheWaitAndTheProgressRangeComeFromTheTimeOuts)
{
    struct Case {
        const char* searchBox;
        const char* monIf;
        uint32_t waitMs;
    };
    for (const Case& c : {Case{nullptr, nullptr, 20000}, Case{"5", "10", 20000}, Case{"1", "1", 7000},
                          Case{"30", "0", 35000}}) {
        SCOPED_TRACE(c.waitMs);
        if (c.searchBox) {
            ASSERT_TRUE(m_file.write("TimeOut", key::kSearchBox, c.searchBox));
            ASSERT_TRUE(m_file.write("TimeOut", key::kMonIf, c.monIf));
        } else {
            ASSERT_TRUE(m_file.profile().eraseSection("TimeOut"));
        }
        UnitListWindow& window = open();
        EXPECT_EQ(window.refreshWaitMs(), c.waitMs);
        answerAt(3);
        window.refresh();
        EXPECT_EQ(m_view.progressMaximum, static_cast<int>(c.waitMs / 100));
    }
}

TEST_F(UnitPage, ARefreshPostsTheRequestWaitsForTheAnswerAndRebuilds)
{
    unit(1, "192.0.2.10");
    UnitListWindow& window = open();
    m_view.highlighted = 0;
    m_kicklet.onRequest = [this] {
        EXPECT_EQ(common(key::kRefresh), "0") << "written before the request";
        EXPECT_TRUE(m_view.busy);
        EXPECT_TRUE(m_view.progressOpen);
    };
    m_view.onPause = [this](int n) {
        if (n == 4) {
            unit(2, "192.0.2.11"); // the event module found another unit
            ASSERT_TRUE(m_file.write("Common", key::kRefresh, "1"));
        }
    };
    const int listsBefore = m_view.lists;
    window.refresh();
    EXPECT_EQ(m_kicklet.requests, 1);
    EXPECT_EQ(m_view.pauses, 4);
    EXPECT_EQ(m_view.progressValues, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(m_view.lists, listsBefore + 1);
    EXPECT_EQ(m_view.shown.rows.size(), 2u);
    EXPECT_FALSE(m_view.progressOpen);
    EXPECT_FALSE(m_view.busy);
    EXPECT_FALSE(m_view.selectionButtons) << "the rebuilt list has no selection";
    EXPECT_EQ(common(key::kRefresh), "1");
    EXPECT_TRUE(m_boxes.shown.empty());
}

TEST_F(UnitPage, CancelEndsTheWaitAtTheNextReading)
{
    unit(1, "192.0.2.10");
    UnitListWindow& window = open();
    m_view.onPause = [&window](int n) {
        if (n == 3)
            window.cancelRefresh();
    };
    window.refresh();
    EXPECT_EQ(m_view.pauses, 3) << "no pause after the one Cancel came in";
    EXPECT_EQ(common(key::kRefresh), "1");
    EXPECT_FALSE(m_view.busy);
    EXPECT_TRUE(m_boxes.shown.empty());
}

TEST_F(UnitPage, AnExhaustedWaitShowsTheTimeoutAndRebuildsFromTheFile)
{
    unit(1, "192.0.2.10");
    UnitListWindow& window = open(); // W = 7000 ms: the bar runs to 70
    window.refresh();
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"Failed to refresh network due to timeout."});
    EXPECT_EQ(m_boxes.shown[0].icon, BoxIcon::Warning);
    EXPECT_EQ(m_view.progressValues.back(), 70) << "i runs past W/100 once";
    EXPECT_EQ(m_view.pauses, 72);
    EXPECT_EQ(common(key::kRefresh), "1");
    EXPECT_FALSE(m_view.busy);
}

TEST_F(UnitPage, WithoutTheEventModuleTheRefreshStopsWithItsMessageAndTheListStays)
{
    unit(1, "192.0.2.10");
    UnitListWindow& window = open();
    m_kicklet.present = false;
    const int lists = m_view.lists;
    window.refresh();
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"Kicklet is not started.Please start Kicklet."});
    EXPECT_EQ(m_boxes.shown[0].icon, BoxIcon::Error);
    EXPECT_EQ(m_view.lists, lists);
    EXPECT_EQ(m_view.busyChanges, (std::vector<bool>{true, false}));
    EXPECT_FALSE(m_view.progressOpen);
    EXPECT_EQ(m_view.pauses, 0);
}

TEST_F(UnitPage, ClicksEnableTheSelectionButtonsOnlyOnARow)
{
    unit(1, "192.0.2.10");
    UnitListWindow& window = open();
    EXPECT_FALSE(m_view.selectionButtons);
    m_view.highlighted = 0;
    window.selectionChanged();
    EXPECT_TRUE(m_view.selectionButtons);
    m_view.highlighted.reset();
    window.selectionChanged();
    EXPECT_FALSE(m_view.selectionButtons);
}

TEST_F(UnitPage, DeleteAsksMarksTheRowAndRefreshes)
{
    unit(1, "192.0.2.10");
    unit(2, "192.0.2.11");
    UnitListWindow& window = open();
    m_view.highlighted = 1;
    m_boxes.answers = {BoxAnswer::No};
    window.remove();
    EXPECT_EQ(m_file.unit(2, "").status, 1u) << "No changes nothing";
    EXPECT_EQ(m_kicklet.requests, 0);

    answerAt(2);
    window.remove();
    EXPECT_EQ(m_boxes.shown.back().text, "Do you want to delete your specified device connection.");
    EXPECT_EQ(m_boxes.shown.back().icon, BoxIcon::Question);
    EXPECT_EQ(m_boxes.shown.back().buttons, BoxButtons::YesNo);
    EXPECT_EQ(m_file.unit(2, "").status, 5u);
    EXPECT_EQ(m_view.statusTexts, (std::vector<std::pair<size_t, std::string>>{{1, "Deleting..."}}));
    EXPECT_EQ(m_kicklet.requests, 1);
    EXPECT_EQ(m_view.shown.rows[1].status, "Deleting...") << "until the event module removes it";
}

TEST_F(UnitPage, AddWritesTheTypedUnitAndFavoriteTheCurrentOneBothThenRefresh)
{
    unit(1, "192.0.2.10");
    UnitListWindow& window = open();
    answerAt(1);
    window.add(); // Cancel
    EXPECT_EQ(m_file.total(), 1u);
    EXPECT_EQ(m_kicklet.requests, 0);

    m_dialogs.add = AddChoice{true, "scanpc-2", {}};
    window.add();
    EXPECT_EQ(m_file.unit(2, "").ip, "scanpc-2");
    EXPECT_EQ(m_view.shown.rows[1].address, "scanpc-2");
    m_dialogs.add = AddChoice{false, "ignored", {0, 0, 0, 0}};
    window.add();
    EXPECT_EQ(m_kicklet.requests, 2);
    // 0.0.0.0 became a unit with an empty address, current and selected.
    EXPECT_EQ(m_view.shown.rows[2].address, "");
    EXPECT_EQ(common(key::kCurrent), "3");
    EXPECT_EQ(common(key::kSelect), "3");
    EXPECT_TRUE(m_view.shown.rows[2].favorite);

    m_view.highlighted = 0;
    window.favorite();
    EXPECT_EQ(common(key::kCurrent), "1");
    EXPECT_TRUE(m_view.shown.rows[0].favorite);
    EXPECT_EQ(m_view.shown.rows[0].icon, UnitIcon::CurrentActive);
}

TEST_F(UnitPage, ScannerInfoSelectsTheUnitAndWaitsForTheProgram)
{
    unit(1, "192.0.2.10");
    unit(2, "192.0.2.11");
    UnitListWindow& window = open();
    m_view.highlighted = 1;
    window.scannerInfo();
    EXPECT_EQ(common(key::kSelect), "2");
    EXPECT_EQ(m_starter.starts, 1);
    EXPECT_EQ(m_starter.waits, std::vector<std::chrono::milliseconds>{10000ms});
    EXPECT_TRUE(m_boxes.shown.empty());

    struct Case {
        bool startable;
        std::deque<ProgramStarter::Wait> answers;
        std::vector<std::string> messages;
        size_t waits;
    };
    using W = ProgramStarter::Wait;
    const Case cases[] = {
        {false, {}, {"Failed to start up the program. Re-install the Lumarc Software."}, 0},
        {true, {W::TimedOut}, {"Failed to start up the program due to time-out. Start the program again."}, 1},
        {true, {W::Failed, W::Failed, W::Ready}, {}, 3},
        {true, std::deque<W>(60, W::Failed), {}, 50},
    };
    for (const Case& c : cases) {
        m_boxes.shown.clear();
        m_starter.waits.clear();
        m_starter.startable = c.startable;
        m_starter.answers = c.answers;
        window.scannerInfo();
        EXPECT_EQ(m_boxes.texts(), c.messages);
        EXPECT_EQ(m_starter.waits.size(), c.waits);
    }
}

TEST_F(UnitPage, UserConfigRunsInsideMaintenanceModeAndLeavesItAfterwards)
{
    unit(1, "192.0.2.10");
    unit(2, "scanpc-2");
    UnitListWindow& window = open();
    m_view.highlighted = 1;
    bool ran = false;
    m_dialogs.pins = {"9999", "1234"};
    m_dialogs.users = [&](UserRegistrationLogic& logic) {
        ran = true;
        EXPECT_TRUE(m_unit.inMaintenance);
        EXPECT_EQ(logic.address(), "scanpc-2") << "column 1 of the highlighted row";
        EXPECT_EQ(logic.unitName(), "Lobby");
        EXPECT_EQ(logic.adminPin(), "1234");
    };
    window.userConfig();
    EXPECT_TRUE(ran);
    EXPECT_EQ(common(key::kSelect), "2");
    EXPECT_FALSE(m_unit.inMaintenance);
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"The specified PIN does not match.\nPlease type again."});

    // Cancel in the PIN dialog: no follow-up, nothing to leave.
    ran = false;
    m_dialogs.pins = {};
    m_unit.calls.clear();
    window.userConfig();
    EXPECT_FALSE(ran);
    EXPECT_EQ(m_unit.calls, std::vector<std::string>{"getName scanpc-2"});
}

TEST_F(UnitPage, AdminLeavesMaintenanceWithTheNewPinAndRenamesTheRow)
{
    unit(1, "192.0.2.10");
    UnitListWindow& window = open();
    m_view.highlighted = 0;
    m_dialogs.pins = {"1234"};
    m_dialogs.network = [](NetworkConfigLogic& logic) {
        logic.setChangePin(true);
        logic.setChangeConfig(true);
        logic.setEdits({"Reception", "10002", false, "4321", "4321"});
        logic.apply();
    };
    window.admin();
    EXPECT_EQ(m_unit.adminPin, "4321");
    EXPECT_EQ(m_unit.name, "Reception");
    EXPECT_FALSE(m_unit.inMaintenance) << "left with the new PIN";
    EXPECT_EQ(m_unit.calls.back(), "maintenance 0 192.0.2.10 4321");
    EXPECT_EQ(m_view.names, (std::vector<std::pair<size_t, std::string>>{{0, "Reception"}}));
}

TEST_F(UnitPage, AHundredUnitsRebuildInOnePass)
{
    for (uint32_t n = 1; n <= 100; ++n)
        unit(n, "192.0.2." + std::to_string(n));
    UnitListFile file(m_file, m_texts);
    const UnitList list = file.rebuild();
    EXPECT_EQ(file.lastPasses(), 1);
    EXPECT_EQ(list.rows.size(), 100u);
    EXPECT_EQ(list.rows[99].address, "192.0.2.100");
}

} // namespace
} // namespace lumarc::configtool
