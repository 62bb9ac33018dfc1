// The model list and the data sources it selects.
#include "eventmod/twain_sources.h"

#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/profile.h"
#include "platform/tests/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace lumarc::eventmod {
namespace {

namespace fs = std::filesystem;

constexpr const char* kList = "; model list\n"
                              "12,ORBIX-4000\n"
                              " 7 , talven-s60 \r\n"
                              "bad,ORBIX-2200\n"
                              "5,ORBIX-2200,extra\n"
                              "3,ORBIX-4000\n"
                              ";9,HIDDEN\n";

TEST(ModelList, TheFirstMatchingLineGivesTheNumber)
{
    EXPECT_EQ(modelNumber(kList, "ORBIX-4000"), 12u);
    EXPECT_EQ(modelNumber(kList, "Orbix-4000"), 12u) << "names without regard to case";
    EXPECT_EQ(modelNumber(kList, "TALVEN-S60"), 7u);
    EXPECT_EQ(modelNumber(kList, "ORBIX-2200"), 5u) << "a line whose number is no number is skipped";
    EXPECT_EQ(modelNumber(kList, "HIDDEN"), std::nullopt) << "comments";
    EXPECT_EQ(modelNumber(kList, "ORBIX"), std::nullopt);
    EXPECT_EQ(modelNumber("", "ORBIX-4000"), std::nullopt);
}

TEST(DataSources, PreparedForTheModelAndNamedInWinIni)
{
    lumarc::testing::SandboxEnvironment sandbox;
    const fs::path folder = dataSourceFolder();
    fs::create_directories(folder);
    std::ofstream(folder / "OrbScanner.id") << kList;
    for (const char* name : {"Orbtw32.wrp", "Orbsi32.wrp", "Q4MXTDS1.wrp"})
        std::ofstream(folder / name) << "template " << name;
    for (const char* stale : {"Orbtw0599.ds", "Orbsi0599.ds", "Q4MXT0599.ds"})
        std::ofstream(folder / stale) << "old";
    std::ofstream(folder / "Orbtw05.ds") << "not a data source of ours";

    EXPECT_TRUE(prepareDataSources("ORBIX-4000", {"Default Source", "Default Source"}));
    EXPECT_TRUE(fs::exists(folder / "Orbtw1299.ds"));
    EXPECT_TRUE(fs::exists(folder / "Orbsi1299.ds"));
    EXPECT_TRUE(fs::exists(folder / "Q4MXT1299.ds"));
    EXPECT_EQ(*platform::readWholeFile(folder / "Orbsi1299.ds"), "template Orbsi32.wrp");
    EXPECT_FALSE(fs::exists(folder / "Orbtw0599.ds")) << "earlier data sources go";
    EXPECT_FALSE(fs::exists(folder / "Q4MXT0599.ds"));
    EXPECT_TRUE(fs::exists(folder / "Orbtw05.ds"));
    EXPECT_EQ(platform::Profile(platform::userProfileFile())
                  .readString("TWAIN", "Default Source", ""),
              (folder / "Orbtw1299.ds").string());

    // A model the list does not know leaves everything as it is.
    EXPECT_FALSE(prepareDataSources("UNKNOWN-1", {"Default Source"}));
    EXPECT_TRUE(fs::exists(folder / "Orbtw1299.ds"));
}

} // namespace
} // namespace lumarc::eventmod
