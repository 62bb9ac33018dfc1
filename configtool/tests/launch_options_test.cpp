// The Launch Option page (the keys of every button, saving as typed) and
// the Advance page's trigger port (leaving the page, closing the window).
#include "fakes.h"

#include "configtool/launch_options.h"

#include "platform/folders.h"
#include "platform/tests/temp_folder.h"

#include <gtest/gtest.h>

namespace lumarc::configtool {
namespace {

using namespace testing;

TEST(Launch, KeysOfEveryButton)
{
    const std::pair<int, std::string> cases[] = {
        {0, "Scan"},   {1, "Send1"}, {2, "Send2"}, {3, "Send3"}, {4, "Send4"}, {5, "Send5"},
        {6, "Send6"},  {7, "Send7"}, {8, "Send8"}, {9, "Send9"}, {10, "Scan"}, {-1, "Scan"},
    };
    for (const auto& [button, stem] : cases) {
        const LaunchKeys keys = launchKeys(button);
        EXPECT_EQ(keys.target, stem + "_Apl") << button;
        EXPECT_EQ(keys.argument, stem + "_Opt") << button;
        EXPECT_EQ(keys.startIn, stem + "_Wrk") << button;
    }
}

class LaunchPage : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder())); }
    std::string key(const std::string& name)
    {
        return platform::Profile(shared::launchFilePath()).readString("Launch", name, "(none)");
    }
    lumarc::testing::SandboxEnvironment m_sandbox;
};

TEST_F(LaunchPage, AMissingFileShowsEmptyFieldsAndTheFirstKeystrokeCreatesIt)
{
    LaunchOptions launch{platform::Profile(shared::launchFilePath())};
    const LaunchFields& fields = launch.choose(0);
    EXPECT_EQ(fields.target, "");
    EXPECT_EQ(fields.argument, "");
    EXPECT_EQ(fields.startIn, "");
    EXPECT_FALSE(std::filesystem::exists(shared::launchFilePath()));
    launch.save({"/", "", ""});
    EXPECT_EQ(key("Scan_Apl"), "/");
    EXPECT_EQ(key("Scan_Opt"), "") << "all three keys are written";
    EXPECT_EQ(key("Scan_Wrk"), "");
}

TEST_F(LaunchPage, EachButtonShowsAndWritesItsOwnKeys)
{
    platform::Profile file(shared::launchFilePath());
    ASSERT_TRUE(file.writeString("Launch", "Send3_Apl", "/usr/bin/simple-scan"));
    ASSERT_TRUE(file.writeString("Launch", "Send3_Opt", "/USER"));
    ASSERT_TRUE(file.writeString("Launch", "Send3_Wrk", "/tmp"));
    ASSERT_TRUE(file.writeString("Launch", "Scan_Apl", "scan-app"));
    LaunchOptions launch{platform::Profile(shared::launchFilePath())};
    EXPECT_EQ(launch.choose(0).target, "scan-app");
    const LaunchFields& send3 = launch.choose(3);
    EXPECT_EQ(send3.target, "/usr/bin/simple-scan");
    EXPECT_EQ(send3.argument, "/USER");
    EXPECT_EQ(send3.startIn, "/tmp");
    launch.save({"/usr/bin/simple-scanX", "/USER", "/tmp"});
    EXPECT_EQ(key("Send3_Apl"), "/usr/bin/simple-scanX");
    EXPECT_EQ(key("Scan_Apl"), "scan-app") << "other buttons stay";
    for (int button = 1; button <= 9; ++button) {
        launch.choose(button);
        launch.save({"t" + std::to_string(button), "a", "w"});
    }
    EXPECT_EQ(key("Send9_Apl"), "t9");
    EXPECT_EQ(key("Send1_Wrk"), "w");

    const std::string longValue(300, 'x');
    ASSERT_TRUE(file.writeString("Launch", "Send5_Apl", longValue));
    EXPECT_EQ(launch.choose(5).target.size(), 259u) << "read with 260 bytes of room";
}

class TriggerPort : public LaunchPage {
protected:
    shared::SettingsFile m_settings;
    FakeBoxes m_boxes;
    Texts m_texts;
    TriggerPortPage m_page{m_settings, m_boxes, m_texts};
    void type(const std::string& text)
    {
        m_page.field().text = text;
        m_page.field().modified = true;
    }
    std::string written() { return m_settings.profile().readString("Common", "TrgPort", "(none)"); }
};

TEST_F(TriggerPort, LeavingTheAdvancePageWithABadValueKeepsItThere)
{
    m_page.load();
    EXPECT_EQ(m_page.field().text, "10002");
    struct Case {
        std::string typed;
        bool leaves;
        std::string shown, message;
    };
    const Case cases[] = {
        {"1500", false, "2000", "Please enter an integer between 2000 and 60000."},
        {"60001", false, "60000", "Please enter an integer between 2000 and 60000."},
        {"abc", false, "10002", "Please enter a positive integer."},
        {"", false, "10002", "Please enter a positive integer."},
        {"2000", true, "2000", ""},
        {" 60000 ", true, " 60000 ", ""},
    };
    for (const Case& c : cases) {
        m_boxes.shown.clear();
        type(c.typed);
        EXPECT_EQ(m_page.leave(), c.leaves) << c.typed;
        EXPECT_EQ(m_page.field().text, c.shown) << c.typed;
        EXPECT_EQ(m_boxes.texts(), c.message.empty() ? std::vector<std::string>{}
                                                     : std::vector<std::string>{c.message});
    }
}

TEST_F(TriggerPort, ClosingWritesThePortAndWarnsOnceAboutAChange)
{
    m_page.load();
    EXPECT_TRUE(m_page.close()) << "unchanged";
    EXPECT_EQ(written(), "10002") << "written even when unchanged";
    EXPECT_TRUE(m_boxes.shown.empty());

    type("1999");
    EXPECT_FALSE(m_page.close());
    EXPECT_EQ(m_page.field().text, "2000");
    EXPECT_EQ(written(), "10002");
    m_boxes.shown.clear();
    EXPECT_TRUE(m_page.close()) << "2000 is in range";
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{
                                   "The trigger port changes will take effect after restarting the "
                                   "PC. The Trigger port value for PC must be identical with that "
                                   "of trigger port for Lumarc."});
    EXPECT_EQ(m_boxes.shown[0].icon, BoxIcon::Warning);
    EXPECT_EQ(written(), "2000");

    m_page.load();
    EXPECT_EQ(m_page.valueAtOpening(), 2000u);
    type("x");
    EXPECT_FALSE(m_page.close()) << "a text that is no number keeps the window";
    EXPECT_EQ(m_page.field().text, "2000");
    m_page.setDefault();
    m_boxes.shown.clear();
    EXPECT_TRUE(m_page.close());
    EXPECT_EQ(m_boxes.shown.size(), 1u);
    EXPECT_EQ(written(), "10002");
}

} // namespace
} // namespace lumarc::configtool
