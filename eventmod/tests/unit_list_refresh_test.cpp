// The unit-list refresh on a real settings file with a fake network.
#include "eventmod/unit_list_refresh.h"

#include "platform/folders.h"
#include "platform/tests/temp_folder.h"

#include <gtest/gtest.h>

#include <map>

namespace lumarc::eventmod {
namespace {

using shared::unitSection;
namespace key = shared::key;

class FakeNetwork : public UnitNetwork {
public:
    std::optional<std::vector<FoundUnit>> found = std::vector<FoundUnit>{};
    std::map<std::string, QueriedUnit> answering;
    std::vector<std::string> queried;

    std::optional<std::vector<FoundUnit>> search() override { return found; }
    std::optional<QueriedUnit> query(const std::string& address) override
    {
        queried.push_back(address);
        const auto it = answering.find(address);
        if (it == answering.end())
            return std::nullopt;
        return it->second;
    }
};

class Refresh : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder())); }

    // Writes sections 1..n with the given IPs, statuses and Auto values.
    void units(std::initializer_list<std::tuple<const char*, const char*, const char*>> list)
    {
        uint32_t i = 0;
        for (const auto& [ip, status, autoFound] : list) {
            ++i;
            ASSERT_TRUE(m_file.write(unitSection(i), key::kIp, ip));
            ASSERT_TRUE(m_file.write(unitSection(i), key::kStatus, status));
            ASSERT_TRUE(m_file.write(unitSection(i), key::kAuto, autoFound));
            ASSERT_TRUE(m_file.write(unitSection(i), key::kNetBoxName, std::string("box") + ip));
        }
        ASSERT_TRUE(m_file.writeNumber("Common", key::kTotal, i));
    }
    std::string value(uint32_t section, std::string_view k)
    {
        return m_file.profile().readString(unitSection(section), k, "<none>");
    }

    lumarc::testing::SandboxEnvironment m_sandbox;
    shared::SettingsFile m_file;
    FakeNetwork m_network;
};

TEST_F(Refresh, AFirstRefreshCreatesTheFile)
{
    EXPECT_EQ(refreshUnitList(m_file, m_network), "");
    EXPECT_EQ(m_file.total(), 0u);
    EXPECT_EQ(m_file.profile().readString("Common", "Total", "x"), "0");
    EXPECT_EQ(m_file.profile().readString("Common", "Current", "x"), "1");
}

TEST_F(Refresh, SectionsMarkedForDeletionGoAndCurrentFollows)
{
    units({{"10.0.0.1", "1", "1"}, {"10.0.0.2", "5", "1"}, {"10.0.0.3", "1", "1"}});
    ASSERT_TRUE(m_file.write("Common", key::kCurrent, "3"));
    refreshUnitList(m_file, m_network);
    EXPECT_EQ(m_file.total(), 2u);
    EXPECT_EQ(m_file.current(0), 2u);
    EXPECT_EQ(value(2, key::kIp), "10.0.0.3") << "section 3 moved up";
    EXPECT_EQ(value(2, key::kNetBoxName), "box10.0.0.3");
    EXPECT_TRUE(m_file.profile().readSection(unitSection(3)).empty()) << "the leftover is erased";
}

TEST_F(Refresh, TwoSectionsMarkedTogetherGoInOneRefresh)
{
    // Current on one of them: it becomes 1.
    units({{"10.0.0.1", "0", "1"}, {"10.0.0.2", "5", "1"}, {"10.0.0.3", "5", "1"},
           {"10.0.0.4", "2", "1"}});
    ASSERT_TRUE(m_file.write("Common", key::kCurrent, "3"));
    refreshUnitList(m_file, m_network);
    EXPECT_EQ(m_file.total(), 2u);
    EXPECT_EQ(m_file.current(0), 1u);
    EXPECT_EQ(value(1, key::kIp), "10.0.0.1");
    EXPECT_EQ(value(2, key::kIp), "10.0.0.4");
    EXPECT_EQ(value(2, key::kStatus), "0") << "not found this time";
    EXPECT_TRUE(m_file.profile().readSection(unitSection(3)).empty());
    EXPECT_TRUE(m_file.profile().readSection(unitSection(4)).empty());
}

TEST_F(Refresh, ALargeSectionMovesWhole)
{
    units({{"10.0.0.1", "5", "1"}, {"10.0.0.2", "1", "1"}});
    const std::string big(40000, 'n'); // more than a 32 KB copy buffer
    ASSERT_TRUE(m_file.write(unitSection(2), "Note", big));
    refreshUnitList(m_file, m_network);
    EXPECT_EQ(m_file.total(), 1u);
    EXPECT_EQ(value(1, "Note"), big);
}

TEST_F(Refresh, BroadcastUnitsAreUpdatedOrAppendedAndHandEnteredOnesAsked)
{
    units({{"10.0.0.1", "1", "1"}, {"scanner-2.lan", "1", "0"}, {"10.0.0.9", "1", "0"}});
    ASSERT_TRUE(m_file.write(unitSection(1), key::kScanner, "OLD"));
    m_network.found = std::vector<FoundUnit>{
        {"10.0.0.1", "Front", "00-11-22-33-44-01", false, "ORBIX-4000"},
        {"10.0.0.5", "Back", "00-11-22-33-44-05", true, ""},
    };
    m_network.answering["scanner-2.lan"] = {"Hand", "00-11-22-33-44-02", "TALVEN-S60"};
    refreshUnitList(m_file, m_network);

    EXPECT_EQ(m_file.total(), 4u);
    EXPECT_EQ(value(1, key::kNetBoxName), "Front");
    EXPECT_EQ(value(1, key::kScanner), "ORBIX-4000");
    EXPECT_EQ(value(1, key::kStatus), "1");
    EXPECT_EQ(value(4, key::kIp), "10.0.0.5") << "appended";
    EXPECT_EQ(value(4, key::kStatus), "1") << "even when busy";
    EXPECT_EQ(value(4, key::kAuto), "1");
    EXPECT_EQ(value(4, key::kMac), "00-11-22-33-44-05");
    EXPECT_EQ(value(2, key::kScanner), "TALVEN-S60");
    EXPECT_EQ(value(2, key::kNetBoxName), "Hand");
    EXPECT_EQ(value(2, key::kStatus), "1");
    // A hand-entered unit that is switched off.
    EXPECT_EQ(value(3, key::kStatus), "0");
    EXPECT_EQ(value(3, key::kScanner), "");
    EXPECT_EQ(value(3, key::kNetBoxName), "");
    EXPECT_EQ(value(3, key::kMac), "");
    EXPECT_EQ(m_network.queried, (std::vector<std::string>{"scanner-2.lan", "10.0.0.9"}))
        << "only units with Auto 0 are asked";

    // A known unit that reports busy.
    m_network.found = std::vector<FoundUnit>{{"10.0.0.1", "Front", "m", true, "X"}};
    refreshUnitList(m_file, m_network);
    EXPECT_EQ(value(1, key::kStatus), "2");
    EXPECT_EQ(value(4, key::kStatus), "0") << "not answering this time";
}

TEST_F(Refresh, TheResultIsTheCurrentUnitsScanner)
{
    units({{"10.0.0.1", "1", "1"}, {"10.0.0.2", "1", "1"}});
    ASSERT_TRUE(m_file.write("Common", key::kCurrent, "2"));
    m_network.found = std::vector<FoundUnit>{{"10.0.0.2", "B", "m", false, "TALVEN-S60-LONGNAME"},
                                             {"10.0.0.1", "A", "m", false, "ORBIX-4000"}};
    EXPECT_EQ(refreshUnitList(m_file, m_network), "TALVEN-S60-LONG") << "15 characters";
}

TEST_F(Refresh, AFailedSearchEndsTheRefreshEarly)
{
    units({{"10.0.0.1", "1", "0"}});
    ASSERT_TRUE(m_file.write(unitSection(1), key::kScanner, "OLD"));
    m_network.found.reset();
    EXPECT_EQ(refreshUnitList(m_file, m_network), std::nullopt);
    EXPECT_EQ(value(1, key::kStatus), "0");
    EXPECT_EQ(value(1, key::kScanner), "") << "cleared before the search";
    EXPECT_TRUE(m_network.queried.empty());
}

TEST(Inquiry, ModelIsFifteenCharactersWithoutTrailingBlanks)
{
    std::vector<uint8_t> inquiry(96, ' ');
    const std::string product = "ORBIX-4000      ";
    std::copy(product.begin(), product.end(), inquiry.begin() + 16);
    EXPECT_EQ(modelFromInquiry(inquiry.data(), inquiry.size()), "ORBIX-4000");
    EXPECT_EQ(modelFromInquiry(inquiry.data(), 20), "ORBI");
    EXPECT_EQ(modelFromInquiry(inquiry.data(), 16), "");
    EXPECT_EQ(modelFromInquiry(nullptr, 96), "");
}

} // namespace
} // namespace lumarc::eventmod
