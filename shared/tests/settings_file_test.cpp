// The shared settings file: location, defaults, unit sections, handshake.
#include "platform/tests/temp_folder.h"
#include "platform/folders.h"
#include "shared/settings_file.h"

#include <gtest/gtest.h>

#include <fstream>

namespace lumarc::shared {
namespace {

class Settings : public ::testing::Test {
protected:
    lumarc::testing::SandboxEnvironment m_sandbox;
};

TEST_F(Settings, EveryDeliverableFindsTheSameFile)
{
    const auto folder = m_sandbox.root() / "config" / "Velorin" / "Orbtwain";
    EXPECT_EQ(settingsFilePath(), folder / "Quenty.ini");
    EXPECT_EQ(launchFilePath(), folder / "Lanyard.ini");
    EXPECT_EQ(SettingsFile().path(), folder / "Quenty.ini");
}

TEST_F(Settings, MissingFileReadsAsAnEmptyListWithEveryDefault)
{
    const SettingsFile file;
    EXPECT_EQ(file.total(), 0u);
    EXPECT_EQ(file.current(defaults::kCurrentInUnitList), 1u);
    EXPECT_EQ(file.current(defaults::kCurrentInEventModule), 0u);
    EXPECT_EQ(file.select(), 0u);
    EXPECT_EQ(file.refresh(), 0u);
    EXPECT_EQ(file.trgPort(), 10002u);
    EXPECT_EQ(file.showViewMode(), 0u);
    EXPECT_EQ(file.searchBoxSeconds(), 5u);
    EXPECT_EQ(file.monIfSeconds(), 10u);
    const UnitRecord unit = file.unit(1, defaults::kIpInConfigTool);
    EXPECT_EQ(unit.ip, "0.0.0.0");
    EXPECT_EQ(unit.scanner, "");
    EXPECT_EQ(unit.status, 0u);
    EXPECT_EQ(file.unit(1, defaults::kIpElsewhere).ip, "");
    EXPECT_EQ(refreshWaitLimit(file.searchBoxSeconds(), file.monIfSeconds()),
              std::chrono::milliseconds(20000));
}

TEST_F(Settings, PresentEmptyIpIsEmptyAndNamesIgnoreCase)
{
    ASSERT_TRUE(platform::ensureFolder(settingsFolder()));
    std::ofstream(settingsFilePath()) << "[COMMON]\ntotal=2\ntrgport=3000\n"
                                         "[1]\nip=\nnetboxname=Lobby\nSTATUS=1\nauto=1\n"
                                         "[2]\nScanner=ORBIX-40\n";
    const SettingsFile file;
    EXPECT_EQ(file.total(), 2u);
    EXPECT_EQ(file.trgPort(), 3000u);
    const UnitRecord first = file.unit(1, defaults::kIpInConfigTool);
    EXPECT_EQ(first.ip, "");
    EXPECT_EQ(first.netBoxName, "Lobby");
    EXPECT_EQ(first.status, static_cast<uint32_t>(UnitStatus::Active));
    EXPECT_EQ(first.autoFound, 1u);
    EXPECT_EQ(file.unit(2, defaults::kIpInConfigTool).ip, "0.0.0.0") << "no IP key: missing";
}

TEST_F(Settings, FirstStartCreatesFoldersAndFileButKeepsAnExistingList)
{
    SettingsFile file;
    ASSERT_TRUE(file.createIfMissing());
    EXPECT_TRUE(std::filesystem::exists(settingsFilePath()));
    EXPECT_EQ(file.profile().readString("Common", "Total", "missing"), "0");

    ASSERT_TRUE(file.writeNumber(section::kCommon, key::kTotal, 3));
    ASSERT_TRUE(file.createIfMissing());
    EXPECT_EQ(file.total(), 3u);
}

TEST_F(Settings, MovingAUnitCopiesItsLinesOverTheTarget)
{
    SettingsFile file;
    ASSERT_TRUE(file.createIfMissing());
    ASSERT_TRUE(file.write("1", key::kIp, "192.0.2.1"));
    ASSERT_TRUE(file.write("1", key::kStatus, "5"));
    ASSERT_TRUE(file.write("2", key::kIp, "lobby-unit"));
    ASSERT_TRUE(file.write("2", key::kMac, "00-11-22-33-44-55"));
    ASSERT_TRUE(file.moveUnit(2, 1));
    const UnitRecord moved = file.unit(1, defaults::kIpElsewhere);
    EXPECT_EQ(moved.ip, "lobby-unit");
    EXPECT_EQ(moved.mac, "00-11-22-33-44-55");
    EXPECT_EQ(moved.status, 0u) << "the old lines are gone, not merged";
}

TEST_F(Settings, RetriedWriteSucceedsOnceTheFolderExists)
{
    SettingsFile file;
    EXPECT_FALSE(file.writeWithRetry(section::kCommon, key::kRefresh, kRefreshDone))
        << "both attempts fail without the folder";
    ASSERT_TRUE(platform::ensureFolder(settingsFolder()));
    EXPECT_TRUE(file.writeWithRetry(section::kCommon, key::kRefresh, kRefreshDone));
    EXPECT_EQ(file.refresh(), 1u);
}

} // namespace
} // namespace lumarc::shared
