// The Administrator PIN dialog's logic, the maintenance messages by result
// code, and the Network Configuration dialog's logic against a fake unit.
#include "fakes.h"

#include <gtest/gtest.h>

namespace lumarc::configtool {
namespace {

using namespace testing;

const std::string kCannotCommunicate =
    "Can not communicate with Lumarc. Check the following and do it again.  \n- Is network "
    "cable connected? \n- Is there any problems with Network environment or the settings?";

TEST(Maintenance, EntryMessagesByResultCode)
{
    const Texts texts;
    struct Case {
        uint32_t code;
        std::string message;
    };
    const Case cases[] = {
        {1, "The IP address is incorrect."},
        {0x84, "The specified PIN does not match.\nPlease type again."},
        {0x400, "It is already in maintenance mode. Start again after the maintenance mode is completed."},
        {0x800, "It cannot be started as it is running. Start again after the scanning or the current operation has completed."},
        {0x500, kCannotCommunicate},
        {0x80000004, kCannotCommunicate},
        {10061, kCannotCommunicate},
    };
    for (const Case& c : cases)
        EXPECT_EQ(texts(maintenanceEntryMessage(c.code)), c.message) << std::hex << c.code;
    EXPECT_EQ(sharedResultMessage(0x84), 0u);
    EXPECT_EQ(texts(sharedResultMessage(0x500)),
              "Unable to continue the operation due to timeout. Quit the application and try again.");
}

TEST(Maintenance, ThePinDialogProvesThePinByEnteringTheMode)
{
    FakeUnit unit;
    FakeBoxes boxes;
    const Texts texts;
    PinLogic pin(unit, boxes, texts, "192.0.2.10");
    ASSERT_TRUE(pin.open());
    EXPECT_EQ(pin.unitName(), "Lobby");
    EXPECT_FALSE(pin.ok("9999"));
    EXPECT_EQ(boxes.last(), "The specified PIN does not match.\nPlease type again.");
    EXPECT_FALSE(unit.inMaintenance);
    EXPECT_TRUE(pin.ok("1234"));
    EXPECT_EQ(pin.pin(), "1234");
    EXPECT_TRUE(unit.inMaintenance) << "it stays entered for the follow-up dialog";

    // A unit already in maintenance mode (another PC holds it).
    EXPECT_FALSE(pin.ok("1234"));
    EXPECT_EQ(boxes.last(), "It is already in maintenance mode. Start again after the maintenance mode is completed.");

    unit.forced["getName"] = 0x80000004;
    PinLogic unreachable(unit, boxes, texts, "192.0.2.99");
    EXPECT_FALSE(unreachable.open());
    EXPECT_EQ(boxes.last(), kCannotCommunicate);
    EXPECT_EQ(unreachable.unitName(), "");

    EXPECT_TRUE(PinLogic::acceptable("123456"));
    EXPECT_FALSE(PinLogic::acceptable("1234567"));
    EXPECT_FALSE(PinLogic::acceptable("12a4"));
}

class FakeNetView : public NetworkConfigView {
public:
    void focus(NetField field) override { focused.push_back(field); }
    std::vector<NetField> focused;
};

class Network : public ::testing::Test {
protected:
    void SetUp() override { m_logic.open(m_view); }
    void apply(const NetEdits& edits)
    {
        m_logic.setEdits(edits);
        m_logic.apply();
    }

    FakeUnit m_unit;
    FakeBoxes m_boxes;
    Texts m_texts;
    FakeNetView m_view;
    NetworkConfigLogic m_logic{m_unit, m_boxes, m_texts, "192.0.2.10", "From PIN", "1234"};
};

TEST_F(Network, OpeningShowsTheUnitsSettings)
{
    EXPECT_EQ(m_logic.name(), "Lobby");
    EXPECT_EQ(m_logic.firmware(), "LM-2.10.0031");
    EXPECT_EQ(m_logic.addresses(), (std::array<uint32_t, 4>{0xFFFFFF00, 0xC0A80101, 0x08080808, 0}));
    EXPECT_EQ(m_logic.mac(), "00-1b-2c-3d-4e-af");
    EXPECT_EQ(m_logic.port().text, "10002");
    EXPECT_FALSE(m_logic.changeConfig());
    EXPECT_FALSE(m_logic.changePin());
    EXPECT_TRUE(m_boxes.shown.empty());
}

TEST_F(Network, FailedReadsAreReportedOneByOneAndKeepTheStartingValues)
{
    m_unit.forced = {{"getName", 0x500}, {"getFirmInfo", 0x80000004}, {"getNetInfo", 10060}};
    NetworkConfigLogic logic(m_unit, m_boxes, m_texts, "192.0.2.10", "From PIN", "1234");
    logic.open(m_view);
    EXPECT_EQ(m_boxes.texts(), (std::vector<std::string>{
                                   "Failed to get Lumarc configuration.\nError code = 00000500",
                                   "Failed to get Firmware version.\nError code = 80000004",
                                   "Failed to get Network Information.\nError code = 0000274c"}));
    EXPECT_EQ(logic.name(), "From PIN");
    EXPECT_EQ(logic.port().text, "10002");
    EXPECT_EQ(logic.firmware(), "");
    EXPECT_EQ(logic.mac(), "");
}

TEST_F(Network, ApplyClampsATriggerPortOutOfRangeAfterItsMessage)
{
    m_logic.setChangeConfig(true);
    struct Case {
        std::string typed;
        std::string message;
        std::string shown;
    };
    const Case cases[] = {
        {"60001", "Please enter an integer between 2000 and 60000.", "60000"},
        {"1999", "Please enter an integer between 2000 and 60000.", "2000"},
        {"0", "Please enter an integer between 2000 and 60000.", "2000"},
        {"", "Please enter a positive integer.", "10002"},
        {"99999999999", "Please enter a positive integer.", "10002"},
    };
    for (const Case& c : cases) {
        m_logic.defaultPort(); // what a text that is no number leaves
        m_boxes.shown.clear();
        m_unit.calls.clear();
        apply({"Lobby", c.typed, true, "", ""});
        EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{c.message}) << c.typed;
        EXPECT_EQ(m_logic.port().text, c.shown) << c.typed;
        EXPECT_TRUE(m_logic.port().modified);
        EXPECT_TRUE(m_unit.calls.empty()) << "Apply stopped";
    }
}

TEST_F(Network, UncheckedBoxesMakeApplyOnlyTakeTheFields)
{
    apply({"Renamed", "3000", true, "1", "2"});
    EXPECT_TRUE(m_boxes.shown.empty());
    EXPECT_EQ(m_unit.calls.size(), 3u) << "only the three reads of the opening";
    EXPECT_EQ(m_unit.name, "Lobby");
}

TEST_F(Network, PinChecksStopWithTheFocusOnTheFieldToRetype)
{
    m_logic.setChangePin(true);
    struct Case {
        std::string newPin, confirm;
        NetField focus;
    };
    for (const Case& c : {Case{"", "", NetField::NewPin}, Case{"12", "", NetField::ConfirmPin},
                          Case{"", "12", NetField::NewPin}, Case{"12", "13", NetField::NewPin}}) {
        m_view.focused.clear();
        m_boxes.shown.clear();
        apply({"Lobby", "10002", false, c.newPin, c.confirm});
        EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"Type the PIN again."});
        EXPECT_EQ(m_boxes.shown[0].icon, BoxIcon::Warning);
        EXPECT_EQ(m_view.focused, std::vector<NetField>{c.focus});
    }
    EXPECT_EQ(m_unit.adminPin, "1234");
}

TEST_F(Network, APinChangeAndAConfigurationChangeInOneApplyUseTheNewPin)
{
    m_logic.setChangePin(true);
    m_logic.setChangeConfig(true);
    apply({"Reception", "12000", true, "5678", "5678"});
    EXPECT_EQ(m_boxes.texts(), (std::vector<std::string>{"The PIN was successfully changed.",
                                                         "Lumarc configuration was successfully changed."}));
    EXPECT_EQ(m_unit.calls[3], "setAdmin 1234 5678");
    EXPECT_EQ(m_unit.calls[4], "setName 5678 12000 Reception");
    EXPECT_EQ(m_logic.currentPin(), "5678");
    EXPECT_EQ(m_unit.name, "Reception");
    EXPECT_EQ(m_unit.triggerPort, 12000u);

    // Twenty characters of three bytes each do not fit the unit's 47 bytes:
    // the name is cut between characters, never inside one.
    std::string wide;
    for (int i = 0; i < 20; ++i)
        wide += "\xE5\xB1\xB1";
    m_logic.setChangePin(false);
    apply({wide, "12000", false, "", ""});
    EXPECT_EQ(m_unit.name, wide.substr(0, 45));
}

TEST_F(Network, FailedChangesAreReportedAndKeepTheCurrentPin)
{
    m_logic.setChangePin(true);
    m_logic.setChangeConfig(true);
    m_unit.forced["setAdmin"] = 0x84;
    apply({"Reception", "10002", false, "5678", "5678"});
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"Failed to modify PIN.\nError code = 00000084"});
    EXPECT_EQ(m_logic.currentPin(), "1234");
    EXPECT_EQ(m_unit.name, "Lobby") << "a failed PIN change stops Apply";

    m_unit.forced = {{"setName", 0x99}};
    m_logic.setChangePin(false);
    m_boxes.shown.clear();
    apply({"Reception", "10002", false, "", ""});
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"Failed to change Lumarc configuration."});
    m_unit.forced = {{"setName", 0x400}};
    apply({"Reception", "10002", false, "", ""});
    EXPECT_EQ(m_boxes.last(), "It is already in maintenance mode. Start again after the maintenance mode is completed.");

    m_unit.forced.clear();
    m_boxes.shown.clear();
    apply({"", "10002", false, "", ""});
    EXPECT_EQ(m_view.focused.back(), NetField::Name) << "an empty name: focus, no message";
    EXPECT_TRUE(m_boxes.shown.empty());
}

TEST_F(Network, DefaultPutsBackTheStandardPort)
{
    apply({"Lobby", "3000", true, "", ""});
    m_logic.defaultPort();
    EXPECT_EQ(m_logic.port().text, "10002");
    EXPECT_TRUE(m_logic.port().modified);
}

TEST(NetworkPin, AnEmptyCurrentPinIsRefused)
{
    FakeUnit unit;
    FakeBoxes boxes;
    const Texts texts;
    FakeNetView view;
    NetworkConfigLogic logic(unit, boxes, texts, "192.0.2.10", "x", "");
    logic.open(view);
    logic.setChangeConfig(true);
    logic.setEdits({"Lobby", "10002", false, "", ""});
    logic.apply();
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Type the PIN again."});
    EXPECT_EQ(view.focused, std::vector<NetField>{NetField::CurrentPin});
}

} // namespace
} // namespace lumarc::configtool
