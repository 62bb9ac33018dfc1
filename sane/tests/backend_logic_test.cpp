// The backend's logic without a unit: its configuration file, the unit list
// and the options.
#include "platform/folders.h"
#include "platform/tests/temp_folder.h"
#include "sane/config.h"
#include "sane/device_list.h"
#include "sane/options.h"

#include <gtest/gtest.h>

#include <sane/saneopts.h>

#include <cstring>

namespace lumarc::sane {
namespace {

TEST(Config, UnitsSettingsAndNonsense)
{
    std::vector<std::string> problems;
    const BackendConfig config = parseConfig("# units\n"
                                             "192.0.2.7   # the front desk\n"
                                             "\tunit scan-room\r\n"
                                             "192.0.2.7\n"
                                             "discover\n"
                                             "settings off\n"
                                             "unit a b\n"
                                             "rm -rf /\n"
                                             "b\xff\x01" "ad name\n",
                                             problems);
    EXPECT_EQ(config.units, (std::vector<std::string>{"192.0.2.7", "scan-room"}));
    EXPECT_TRUE(config.discover);
    EXPECT_FALSE(config.settingsUnits);
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0].rfind("line 7: ", 0), 0u) << problems[0];
    EXPECT_NE(problems[2].find("'b??ad name'"), std::string::npos) << problems[2];

    const BackendConfig empty = parseConfig("", problems);
    EXPECT_TRUE(empty.units.empty());
    EXPECT_FALSE(empty.discover);
    EXPECT_TRUE(empty.settingsUnits);
}

TEST(Config, FoldersAsSaneSearchesThem)
{
    using Paths = std::vector<std::filesystem::path>;
    EXPECT_EQ(configFolders(nullptr, "/etc/sane.d"), (Paths{".", "/etc/sane.d"}));
    EXPECT_EQ(configFolders("/a:/b", "/etc/sane.d"), (Paths{"/a", "/b"}));
    // A trailing colon adds the default folders.
    EXPECT_EQ(configFolders("/a:", "/etc/sane.d"), (Paths{"/a", ".", "/etc/sane.d"}));
    EXPECT_EQ(configFolders("::/a", "/etc/sane.d"), (Paths{"/a"}));
}

TEST(Config, UnitNames)
{
    EXPECT_TRUE(isUnitName("192.0.2.7"));
    EXPECT_TRUE(isUnitName("scan-room.example"));
    EXPECT_FALSE(isUnitName(""));
    EXPECT_FALSE(isUnitName("-x"));
    EXPECT_FALSE(isUnitName("a b"));
    EXPECT_FALSE(isUnitName("a/b"));
    EXPECT_FALSE(isUnitName(std::string(254, 'a')));
}

TEST(DeviceList, ConfiguredSettingsAndFoundUnitsEachOnce)
{
    lumarc::testing::SandboxEnvironment sandbox;
    ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
    shared::SettingsFile settings;
    ASSERT_TRUE(settings.writeNumber("Common", "Total", 4));
    ASSERT_TRUE(settings.write("1", "IP", "192.0.2.7"));
    ASSERT_TRUE(settings.write("1", "Scanner", "ORBIX-4000"));
    ASSERT_TRUE(settings.write("2", "IP", "192.0.2.8"));
    ASSERT_TRUE(settings.writeNumber("2", "Status", 5)); // marked for removal
    ASSERT_TRUE(settings.write("3", "IP", "0.0.0.0"));   // not set up yet
    ASSERT_TRUE(settings.write("4", "IP", "192.0.2.9"));

    BackendConfig config;
    config.units = {"192.0.2.9", "scan-room"};
    const auto units = collectUnits(config, settings, {{"192.0.2.7", "X"}, {"192.0.2.10", "Y"}});
    ASSERT_EQ(units.size(), 4u);
    EXPECT_EQ(units[0].address, "192.0.2.9");
    EXPECT_EQ(units[1].address, "scan-room");
    EXPECT_EQ(units[2].address, "192.0.2.7");
    EXPECT_EQ(units[2].model, "ORBIX-4000");
    EXPECT_EQ(units[3].address, "192.0.2.10");

    config.settingsUnits = false;
    EXPECT_EQ(collectUnits(config, settings, {}).size(), 2u);
}

class OptionsTest : public ::testing::Test {
protected:
    OptionsTest()
    {
        shared::Capabilities c;
        c.basicX = c.basicY = 300;
        c.minimum = 50;
        c.maximum = 600;
        c.windowWidth = 2480; // A4 at 300 dpi
        c.windowLength = 3507;
        c.colour = c.grey = true;
        m_options.emplace(limitsOf(c));
    }
    SANE_Status set(SANE_Int option, SANE_Word& value, SANE_Int& info)
    {
        return m_options->control(option, SANE_ACTION_SET_VALUE, &value, &info);
    }
    std::optional<Options> m_options;
};

TEST_F(OptionsTest, StandardNamesAndTheScannersRanges)
{
    const auto* resolution = m_options->descriptor(option::kResolution);
    EXPECT_STREQ(resolution->name, SANE_NAME_SCAN_RESOLUTION);
    EXPECT_EQ(resolution->constraint.range->min, 50);
    EXPECT_EQ(resolution->constraint.range->max, 600);
    EXPECT_STREQ(m_options->descriptor(option::kMode)->constraint.string_list[1],
                 SANE_VALUE_SCAN_MODE_GRAY);
    EXPECT_STREQ(m_options->descriptor(option::kBottomRightY)->name, SANE_NAME_SCAN_BR_Y);
    EXPECT_NEAR(SANE_UNFIX(m_options->descriptor(option::kBottomRightX)->constraint.range->max),
                210.0, 0.1);
    EXPECT_EQ(m_options->descriptor(option::kTotal), nullptr);
    SANE_Word count = 0;
    ASSERT_EQ(m_options->control(option::kCount, SANE_ACTION_GET_VALUE, &count, nullptr),
              SANE_STATUS_GOOD);
    EXPECT_EQ(count, option::kTotal);
}

TEST_F(OptionsTest, OutOfRangeValuesAreMovedToTheLimitAndSaidSo)
{
    SANE_Int info = 0;
    SANE_Word dpi = 2400;
    ASSERT_EQ(set(option::kResolution, dpi, info), SANE_STATUS_GOOD);
    EXPECT_EQ(dpi, 600);
    EXPECT_TRUE(info & SANE_INFO_INEXACT);
    EXPECT_TRUE(info & SANE_INFO_RELOAD_PARAMS);
    dpi = 1;
    ASSERT_EQ(set(option::kResolution, dpi, info), SANE_STATUS_GOOD);
    EXPECT_EQ(dpi, 50);
    dpi = 300;
    ASSERT_EQ(set(option::kResolution, dpi, info), SANE_STATUS_GOOD);
    EXPECT_EQ(info & SANE_INFO_INEXACT, 0);

    SANE_Word x = SANE_FIX(-5);
    ASSERT_EQ(set(option::kTopLeftX, x, info), SANE_STATUS_GOOD);
    EXPECT_EQ(x, 0);
    EXPECT_TRUE(info & SANE_INFO_INEXACT);
    SANE_Word right = SANE_FIX(400);
    ASSERT_EQ(set(option::kBottomRightX, right, info), SANE_STATUS_GOOD);
    // The window asked for stays within the scanner's: 2480 pixels at 300 dpi.
    const shared::ScanWindow w = m_options->window();
    EXPECT_LE(w.left + w.width, 2480u * 4);
    EXPECT_EQ(w.resolution, 300u);
}

TEST_F(OptionsTest, ValuesThatMeanNothingAreRefused)
{
    char mode[32] = "Lineart";
    EXPECT_EQ(m_options->control(option::kMode, SANE_ACTION_SET_VALUE, mode, nullptr),
              SANE_STATUS_INVAL);
    std::memset(mode, 'G', sizeof mode); // no NUL within the option's size
    EXPECT_EQ(m_options->control(option::kMode, SANE_ACTION_SET_VALUE, mode, nullptr),
              SANE_STATUS_INVAL);
    SANE_Word preview = 7;
    EXPECT_EQ(m_options->control(option::kPreview, SANE_ACTION_SET_VALUE, &preview, nullptr),
              SANE_STATUS_INVAL);
    SANE_Word any = 0;
    EXPECT_EQ(m_options->control(option::kGeometryGroup, SANE_ACTION_GET_VALUE, &any, nullptr),
              SANE_STATUS_INVAL);
    EXPECT_EQ(m_options->control(option::kResolution, SANE_ACTION_SET_AUTO, &any, nullptr),
              SANE_STATUS_INVAL);
}

TEST_F(OptionsTest, TheWindowAndItsParameters)
{
    char grey[] = "Gray";
    ASSERT_EQ(m_options->control(option::kMode, SANE_ACTION_SET_VALUE, grey, nullptr),
              SANE_STATUS_GOOD);
    SANE_Int info = 0;
    // Corners given the wrong way round still make the area between them.
    SANE_Word v = SANE_FIX(60);
    set(option::kTopLeftX, v, info);
    v = SANE_FIX(10);
    set(option::kBottomRightX, v, info);
    v = SANE_FIX(20);
    set(option::kTopLeftY, v, info);
    v = SANE_FIX(60);
    set(option::kBottomRightY, v, info);
    shared::ScanWindow w = m_options->window();
    EXPECT_EQ(w.left, 472u);  // 10 mm in 1/1200 inch
    EXPECT_EQ(w.width, 2363u); // 60 mm - 10 mm
    EXPECT_TRUE(w.gray);
    const SANE_Parameters p = parametersOf(w);
    EXPECT_EQ(p.format, SANE_FRAME_GRAY);
    EXPECT_EQ(p.pixels_per_line, static_cast<SANE_Int>(2363 * 300 / 1200));
    EXPECT_EQ(p.bytes_per_line, p.pixels_per_line);
    EXPECT_EQ(p.lines, static_cast<SANE_Int>(w.length * 300 / 1200));

    SANE_Word on = SANE_TRUE;
    ASSERT_EQ(m_options->control(option::kPreview, SANE_ACTION_SET_VALUE, &on, &info),
              SANE_STATUS_GOOD);
    EXPECT_EQ(m_options->window().resolution, kPreviewResolution);
}

TEST(Limits, WithoutACapabilityPageOrWithAnOddOne)
{
    const ScannerLimits none = limitsOf(std::nullopt);
    EXPECT_EQ(none.maximum, 1200u);
    EXPECT_EQ(none.width, shared::kA4Width);
    shared::Capabilities odd;
    odd.basicX = odd.basicY = 100;
    odd.minimum = 0;
    odd.maximum = 100000;
    odd.windowWidth = 1000000;
    odd.windowLength = 1000;
    const ScannerLimits limits = limitsOf(odd);
    EXPECT_EQ(limits.minimum, 1u);
    EXPECT_EQ(limits.maximum, 9600u);
    EXPECT_EQ(limits.width, 2 * shared::kA4Width);
    EXPECT_EQ(limits.length, 12000u);
    EXPECT_TRUE(limits.colour && limits.grey);
}

} // namespace
} // namespace lumarc::sane
