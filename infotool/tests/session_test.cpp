// The tool's start and end, and the administrator PIN dialog's logic,
// against a fake unit and a fake still-image object.
#include "fake_sti.h"
#include "fakes.h"

#include "infotool/pin_logic.h"
#include "infotool/tool_session.h"
#include "platform/folders.h"
#include "platform/named_mutex.h"
#include "platform/tests/temp_folder.h"

#include <gtest/gtest.h>

namespace lumarc::infotool {
namespace {

using namespace testing;
using Names = std::vector<std::string>;

class Session : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
        write("Common", "Select", "3");
        write("Common", "Current", "2");
        write("3", "IP", "127.0.0.4");
        write("3", "Scanner", "NOVIA-1810");
    }
    void write(const char* section, const char* key, const char* value)
    {
        ASSERT_TRUE(settings.write(section, key, value));
    }
    StiDeviceLink::Creator creator()
    {
        return [this](IVexEmStiMgr** out) {
            if (!registered)
                return platform::REGDB_E_CLASSNOTREG;
            ++sti.refs;
            *out = static_cast<IVexEmStiMgr*>(&sti);
            return platform::S_OK;
        };
    }

    lumarc::testing::SandboxEnvironment sandbox;
    shared::SettingsFile settings;
    Texts texts;
    FakeUnit unit;
    FakeBoxes boxes;
    FakeSti sti;
    bool registered = true;
};

TEST_F(Session, StartsInScannerInformationModeAndLeavesItAtTheEnd)
{
    {
        ToolSession session(unit, boxes, texts, creator());
        ASSERT_EQ(session.start(), ToolSession::Start::Run);
        EXPECT_EQ(session.caption(), "NOVIA-1810 - 127.0.0.4");
        EXPECT_EQ(session.identity().modelClass(), 18);
        EXPECT_TRUE(session.link().hasDevice());
        EXPECT_EQ(settings.current(0), 3u) << "the still-image device serves the selected unit";
        EXPECT_EQ(unit.names(), (Names{"startup", "scannerInfoMode"}));
        EXPECT_EQ(unit.calls[1].unit, "127.0.0.4");
        EXPECT_EQ(unit.calls[1].flag, 1u);
    }
    EXPECT_EQ(unit.names(), (Names{"startup", "scannerInfoMode", "scannerInfoMode", "cleanup"}));
    EXPECT_EQ(unit.calls[2].flag, 0u);
    EXPECT_EQ(settings.current(0), 3u) << "and stays so";
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(sti.refs, 0);
}

TEST_F(Session, CurrentIsWrittenOnlyWhenItNamesAUnit)
{
    for (const char* current : {"0", ""}) {
        if (*current != 0)
            write("Common", "Current", current);
        else
            ASSERT_TRUE(settings.profile().deleteKey("Common", "Current"));
        ToolSession session(unit, boxes, texts, creator());
        ASSERT_EQ(session.start(), ToolSession::Start::Run);
        session.end();
        EXPECT_EQ(settings.current(-1), *current != 0 ? 0u : static_cast<uint32_t>(-1))
            << "Current \"" << current << "\" is left alone";
    }
}

TEST_F(Session, NoUsableSelectionShowsTheScannerMessageAndCallsNothingMore)
{
    const struct {
        const char *select, *ip, *scanner;
    } cases[] = {{"0", "127.0.0.4", "NOVIA-1810"},
                 {"3", "127.0.0.4", ""},
                 {"3", "", "NOVIA-1810"},
                 {"7", nullptr, nullptr}};
    for (const auto& c : cases) {
        write("Common", "Select", c.select);
        if (c.ip != nullptr) {
            write("3", "IP", c.ip);
            write("3", "Scanner", c.scanner);
        }
        FakeUnit fresh;
        FakeBoxes shown;
        ToolSession session(fresh, shown, texts, creator());
        EXPECT_EQ(session.start(), ToolSession::Start::End);
        session.end();
        EXPECT_EQ(shown.texts(), (Names{"The image scanner not found.\nPlease check if power is "
                                        "ON, or if cable is connected."}))
            << c.select;
        EXPECT_EQ(shown.shown[0].icon, BoxIcon::Error);
        EXPECT_EQ(fresh.names(), (Names{"startup", "cleanup"})) << c.select;
    }
}

TEST_F(Session, ARefusedModeNamesItsReason)
{
    const struct {
        uint32_t result;
        uint32_t message;
    } cases[] = {{1, sid::kAddressIncorrect},
                 {0x84, sid::kCannotCommunicate},
                 {1024, sid::kInMaintenance},
                 {2048, sid::kUnitBusy},
                 {0x80000004, sid::kCannotCommunicate}};
    for (const auto& c : cases) {
        FakeUnit refusing;
        refusing.enterResult = c.result;
        FakeBoxes shown;
        ToolSession session(refusing, shown, texts, creator());
        EXPECT_EQ(session.start(), ToolSession::Start::End);
        session.end();
        EXPECT_EQ(shown.texts(), (Names{texts(c.message)})) << c.result;
        EXPECT_EQ(refusing.names(), (Names{"startup", "scannerInfoMode", "cleanup"}))
            << "a mode never entered is not left";
    }
}

TEST_F(Session, FailuresAfterTheModeStillLeaveIt)
{
    registered = false;
    ToolSession session(unit, boxes, texts, creator());
    EXPECT_EQ(session.start(), ToolSession::Start::End);
    EXPECT_EQ(boxes.texts(), (Names{"DLL is not registered. Re-install the Lumarc software."}));
    session.end();
    EXPECT_EQ(unit.names(), (Names{"startup", "scannerInfoMode", "scannerInfoMode", "cleanup"}));

    FakeUnit failing;
    failing.startupResult = 10091;
    FakeBoxes shown;
    ToolSession noNetwork(failing, shown, texts, creator());
    EXPECT_EQ(noNetwork.start(), ToolSession::Start::End);
    EXPECT_EQ(shown.texts(), (Names{"Can not initialize communication on the network."}));
}

TEST_F(Session, ASecondCopyEndsSilently)
{
    auto first = platform::NamedMutex::create("Gaugery");
    ASSERT_TRUE(first);
    ToolSession session(unit, boxes, texts, creator());
    EXPECT_EQ(session.start(), ToolSession::Start::SecondCopy);
    session.end();
    EXPECT_TRUE(unit.calls.empty());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Session, AStopEndsTheStartAtItsNextStep)
{
    ToolSession session(unit, boxes, texts, creator());
    session.requestStop();
    EXPECT_EQ(session.start(), ToolSession::Start::End);
    session.end();
    EXPECT_EQ(unit.names(), (Names{"startup", "cleanup"}));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Session, PinDialogProvesThePinAndLeavesMaintenanceAtOnce)
{
    PinLogic pin(unit, settings, boxes, texts);
    ASSERT_TRUE(pin.open());
    EXPECT_EQ(pin.address(), "127.0.0.4");
    EXPECT_EQ(pin.unitName(), "Front desk");
    EXPECT_FALSE(pin.ok("9999"));
    EXPECT_EQ(boxes.texts(), (Names{"The specified PIN does not match.\nPlease type again."}));
    EXPECT_TRUE(pin.ok("1234"));
    EXPECT_EQ(unit.names(),
              (Names{"getName", "maintenanceMode", "maintenanceMode", "maintenanceMode"}));
    EXPECT_EQ(unit.calls[2].pin, "root:1234");
    EXPECT_EQ(unit.calls[2].flag, 1u);
    EXPECT_EQ(unit.calls[3].flag, 0u) << "left right behind the enter";

    EXPECT_TRUE(PinLogic::acceptable("123456"));
    EXPECT_FALSE(PinLogic::acceptable("1234567"));
    EXPECT_FALSE(PinLogic::acceptable("12a4"));
}

TEST_F(Session, PinDialogClosesWhenTheUnitCannotBeReached)
{
    unit.nameResult = 0x80000004;
    PinLogic pin(unit, settings, boxes, texts);
    EXPECT_FALSE(pin.open());
    EXPECT_EQ(boxes.texts(), (Names{texts(sid::kCannotCommunicate)}));
    EXPECT_EQ(pin.unitName(), "");

    write("3", "IP", "");
    FakeUnit fresh;
    PinLogic empty(fresh, settings, boxes, texts);
    EXPECT_FALSE(empty.open());
    EXPECT_TRUE(fresh.calls.empty());

    ASSERT_TRUE(settings.profile().deleteKey("3", "IP"));
    fresh.nameResult = ZORVAN_UNRESOLVABLE;
    PinLogic missing(fresh, settings, boxes, texts);
    EXPECT_FALSE(missing.open());
    EXPECT_EQ(fresh.calls.at(0).unit, "0.0.0.0") << "a missing address reads as 0.0.0.0";
}

TEST(FormatText, PutsTheTextsInOrder)
{
    EXPECT_EQ(formatText("%s - %s", {"A", "B"}), "A - B");
    EXPECT_EQ(formatText("%s (%d%%) %s", {"x%s", "y"}), "x%s (%d%%) y");
    EXPECT_EQ(formatText("%s %s %s", {"only"}), "only  ");
}

} // namespace
} // namespace lumarc::infotool
