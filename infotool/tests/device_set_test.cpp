// The Device Set page's logic: counters of every class, the writes that
// bring them back, and the page's flows against an in-process simulated
// scanner of the class.
#include "fakes.h"

#include "infotool/device_set_logic.h"
#include "unitsim/scanner_profiles.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace lumarc::infotool {
namespace {

using namespace testing;
using Bytes = std::vector<uint8_t>;
using C = SetControl;

EepromImage imageOf(const std::string& model)
{
    return unitsim::findScanner(model)->eeprom;
}

// Every class's counters, decoded from the simulated scanner of the class.
TEST(Counters, DecodeWhereEachClassKeepsThem)
{
    using O = std::optional<uint32_t>;
    const struct {
        const char* model;
        ModelClass modelClass;
        O adf, flatbed, first, pick;
    } cases[] = {
        {"LUMEN-1100", 1, 125070, {}, 21070, {}},
        {"LUMEN-2150", 2, 490040, {}, 38540, {}},
        {"SKARA-330", 3, 1234567, {}, 98765, {}},
        {"ORBIX-6100", 6, 90030, 32050, 15030, {}},
        {"TESSEL-710", 7, 456789, {}, 23456, {}},
        {"VANTA-810", 8, 345678, {}, 54321, 76543},
        {"ORBIX-9100", 9, 1100590, 205020, 60090, {}},
        {"TESSEL-1210", 12, 765432, {}, 65432, {}},
        {"ORBIX-2200", 13, 45010, 106040, 6000, 12500},
        {"KAVRO-14F0", 14, 725060, 166580, 18500, 129000}, // U16(60) = 0x0102
        {"ORBIX-4000", 15, 2560020, 440070, 48000, 305000},
        {"SELVA-1610", 16, 725060, 0, 18500, 129000},
        {"FLATIS-1710", 17, {}, 316040, {}, {}},
        {"NOVIA-1810", 18, 725060, 0, 18560, 129060},
    };
    for (const auto& c : cases) {
        const Counters got = decodeCounters(c.modelClass, imageOf(c.model));
        EXPECT_EQ(got.adfTotal, c.adf) << c.model;
        EXPECT_EQ(got.flatbedTotal, c.flatbed) << c.model;
        EXPECT_EQ(got.first, c.first) << c.model;
        EXPECT_EQ(got.pick, c.pick) << c.model;
    }
    EepromImage block{};
    block[0] = 0x8A;
    block[1] = 0x0C;
    block[2] = 0x45;
    block[3] = 0x23;
    block[4] = 0xFD; // only the two low bits count
    const Counters miro = decodeCounters(10, block);
    EXPECT_EQ(miro.adfTotal, O(65536 + 0x2345));
    EXPECT_EQ(miro.first, O(3210));
    EXPECT_EQ(decodeCounters(20, block).adfTotal, O(0));
}

Bytes region(const EepromImage& image, size_t offset, size_t count)
{
    Bytes bytes(2 + count);
    bytes[0] = static_cast<uint8_t>(offset);
    bytes[1] = static_cast<uint8_t>(count);
    std::copy_n(image.begin() + offset, count, bytes.begin() + 2);
    return bytes;
}

TEST(EepromWrites, PlaceThePageValuesOfEachClass)
{
    // Class 1: the first counter in 500-page units at 60-61.
    EepromImage image = imageOf("LUMEN-1100");
    auto writes = eepromWrites(1, image, {128500, 0, 0, true});
    ASSERT_TRUE(writes && writes->size() == 1);
    EepromImage expected = image;
    expected[60] = 257 & 0xFF; // 128500 / 500 = 257
    expected[61] = 1;          // 128500 / 128000
    EXPECT_EQ((*writes)[0].kind, VendorCommand::EepromWrite);
    EXPECT_EQ((*writes)[0].payload, region(expected, 0, 62));

    // Class 14: pick at 60-61, pad at 124-125, power saving at 64.
    image = imageOf("KAVRO-14F0");
    writes = eepromWrites(14, image, {0, 0, 35, true});
    expected = image;
    expected[60] = expected[61] = expected[124] = expected[125] = 0;
    expected[64] = 0x87;
    ASSERT_TRUE(writes && writes->size() == 1);
    EXPECT_EQ((*writes)[0].payload, region(expected, 0, 127));

    // Class 18 keeps the time in the form MODE SENSE reports it, as 14 and 16.
    image = imageOf("NOVIA-1810");
    writes = eepromWrites(18, image, {18500, 129000, 45, true});
    ASSERT_TRUE(writes && writes->size() == 1);
    EXPECT_EQ((*writes)[0].payload[2 + 64], 0x89);
    // An unknown time leaves the stored byte alone.
    writes = eepromWrites(18, image, {18500, 129000, 0, false});
    ASSERT_TRUE(writes);
    EXPECT_TRUE(writes->empty()) << "nothing changed, nothing is sent";

    // Class 15: the wide write, length word 336, bytes 0-331.
    image = imageOf("ORBIX-4000");
    writes = eepromWrites(15, image, {0, 305000, 20, true});
    ASSERT_TRUE(writes && writes->size() == 1);
    const Bytes& wide = (*writes)[0].payload;
    EXPECT_EQ((*writes)[0].kind, VendorCommand::EepromWriteWide);
    ASSERT_EQ(wide.size(), 4u + 332u);
    EXPECT_EQ(Bytes(wide.begin(), wide.begin() + 4), (Bytes{0x00, 0x00, 0x01, 0x50}));
    EXPECT_EQ(wide[4 + 62], 0);
    EXPECT_EQ(wide[4 + 63], 0);
    EXPECT_EQ(wide[4 + 60], image[60]) << "pick unchanged";
    EXPECT_EQ(wide[4 + 328], 0x84);

    // Classes 7 and 12: three big-endian bytes at 109.
    image = imageOf("TESSEL-710");
    writes = eepromWrites(7, image, {0x010203, 0, 0, true});
    expected = image;
    expected[109] = 1;
    expected[110] = 2;
    expected[111] = 3;
    ASSERT_TRUE(writes && writes->size() == 1);
    EXPECT_EQ((*writes)[0].payload, region(expected, 0, 113));

    // Class 8: a cleared counter zeroes every byte that makes it up.
    image = imageOf("VANTA-810");
    writes = eepromWrites(8, image, {0, 0, 0, true});
    ASSERT_TRUE(writes && writes->size() == 1);
    const Bytes& eight = (*writes)[0].payload;
    for (const size_t at : {56, 57, 60, 61, 86, 88, 90, 62, 63, 64, 65, 66, 87, 89, 91})
        EXPECT_EQ(eight[2 + at], 0) << "byte " << at;
    EXPECT_EQ(eight[2 + 68], image[68]) << "the ADF total stays";
    const Counters cleared = decodeCounters(8, [&] {
        EepromImage after = image;
        std::copy(eight.begin() + 2, eight.end(), after.begin());
        return after;
    }());
    EXPECT_EQ(cleared.first, std::optional<uint32_t>(0)) << "reads back as 0";
    EXPECT_EQ(cleared.pick, std::optional<uint32_t>(0));

    // Class 3: the region 30-33 never differs; the counter goes on its own.
    image = imageOf("SKARA-330");
    writes = eepromWrites(3, image, {0x0A0B0C, 0, 0, true});
    ASSERT_TRUE(writes && writes->size() == 1);
    EXPECT_EQ((*writes)[0].payload, (Bytes{109, 3, 0x0A, 0x0C, 0x0B}));

    EXPECT_FALSE(eepromWrites(17, imageOf("FLATIS-1710"), {}));
    EXPECT_FALSE(eepromWrites(11, {}, {}));
}

// The page against the simulated scanner of its model.
class DeviceSetPage : public ::testing::Test {
protected:
    void load(const std::string& model)
    {
        channel.attach(*unitsim::findScanner(model));
        identity = identify("VELORIN", model + " on NET", model + " on NET");
        commands.emplace(channel, identity.modelClass());
        page.emplace(*commands, identity, data, texts, boxes, admin);
    }
    void openPage()
    {
        ASSERT_TRUE(page->open());
        channel.commands.clear();
        channel.statusChecks = 0;
    }
    std::array<uint8_t, 511> committed() { return channel.scanner->eeprom(); }

    Texts texts;
    FakeChannel channel;
    FakeBoxes boxes;
    FakeAdmin admin;
    ScannerIdentity identity;
    ScannerData data;
    std::optional<ScannerCommands> commands;
    std::optional<DeviceSetLogic> page;
};

TEST_F(DeviceSetPage, Class14ShowsCountersInkAndPowerSaving)
{
    load("KAVRO-14F0");
    ASSERT_TRUE(page->open());
    EXPECT_EQ(channel.opcodes(), (Bytes{0x12, 0x12, 0x1D, 0x1C, 0xC2, 0x1A}));
    EXPECT_EQ(channel.texts(), (std::vector<std::string>{"DEBUG,E2T,RED   "}));
    EXPECT_EQ(page->control(C::FirstLabel).text, "Pad :");
    EXPECT_EQ(page->control(C::FirstEdit).text, "18500");
    EXPECT_EQ(page->control(C::PickEdit).text, "129000");
    EXPECT_EQ(page->control(C::FlatbedEdit).text, "166580");
    EXPECT_EQ(page->control(C::InkEdit).text, "72");
    EXPECT_TRUE(page->control(C::ClearInk).enabled);
    EXPECT_EQ(page->control(C::TimerGroup).text, "Power saving:");
    EXPECT_FALSE(page->control(C::LampEdit).visible);
    EXPECT_TRUE(page->control(C::Slider).visible && page->control(C::Slider).enabled);
    EXPECT_EQ(page->control(C::MinutesEdit).text, "25");
    EXPECT_EQ(page->sliderPosition(), 5);
    EXPECT_FALSE(page->control(C::PowerSavingButton).visible);
    EXPECT_TRUE(page->control(C::OffsetButton).enabled);
    EXPECT_FALSE(page->modified());
}

TEST_F(DeviceSetPage, ModeSenseBytesGiveTheMinutesOrDisableTheSlider)
{
    const struct {
        uint8_t sensed;
        bool fails;
        int position;
        const char* minutes;
        bool enabled;
    } cases[] = {
        {0x85, false, 5, "25", true},  {0x05, false, 3, "15", true}, {0x81, false, 3, "15", true},
        {0x8B, false, 11, "55", true}, {0x8C, false, 0, "0", false}, {0x85, true, 3, "15", false},
    };
    for (const auto& c : cases) {
        auto profile = *unitsim::findScanner("KAVRO-14F0");
        profile.powerSaving = c.sensed;
        profile.powerSavingByte.reset();
        FakeChannel own(profile);
        if (c.fails)
            own.failOpcodes.insert(0x1A);
        const ScannerIdentity id = identify("VELORIN", "KAVRO-14F0 on NET", "");
        ScannerCommands cmds(own, 14);
        ScannerData d;
        DeviceSetLogic logic(cmds, id, d, texts, boxes, admin);
        ASSERT_TRUE(logic.open());
        EXPECT_EQ(logic.sliderPosition(), c.position) << int(c.sensed);
        EXPECT_EQ(logic.control(C::MinutesEdit).text, c.minutes) << int(c.sensed);
        EXPECT_EQ(logic.control(C::Slider).enabled, c.enabled) << int(c.sensed);
        EXPECT_EQ(logic.control(C::MinutesUnit).enabled, c.enabled);
        EXPECT_EQ(logic.values().powerSavingKnown, c.enabled);
    }
}

TEST_F(DeviceSetPage, ClearAndApplyWritesTheImageBackAndRereadsIt)
{
    load("KAVRO-14F0");
    openPage();
    page->clearPick();
    page->setSliderPosition(7);
    EXPECT_TRUE(page->modified());
    EXPECT_EQ(page->control(C::PickEdit).text, "0");
    EXPECT_EQ(page->control(C::MinutesEdit).text, "35");
    const ApplyOutcome outcome = page->apply();
    EXPECT_TRUE(outcome.closeSheet);
    EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"Write to EEPROM\nOK?"}));
    EXPECT_EQ(boxes.shown[0].buttons, BoxButtons::OkCancel);
    EXPECT_EQ(admin.runs, 1);
    EXPECT_EQ(channel.statusChecks, 1);
    ASSERT_GE(channel.commands.size(), 3u);
    EXPECT_EQ(channel.commands[0].dataOut, (Bytes{0, 0, 0, 0, 0x34, 6, 0x87, 0, 0, 0, 0, 0}));
    EXPECT_EQ(channel.texts(),
              (std::vector<std::string>{"DEBUG,E2T,WRT   ", "DEBUG,E2P,WRT   ",
                                        "DEBUG,E2T,RED   "}));
    EXPECT_EQ(channel.commands[1].cdb, (Bytes{0x1D, 0, 0, 0, 16 + 2 + 127, 0}));
    const auto after = committed();
    EXPECT_EQ(after[60], 0);
    EXPECT_EQ(after[61], 0);
    EXPECT_EQ(after[64], 0x87);
    EXPECT_EQ(after[124], 37) << "the pad counter was not cleared";
    EXPECT_FALSE(page->modified());
    EXPECT_EQ(channel.scanner->powerSaving(), 0x87);
}

TEST_F(DeviceSetPage, NothingChangedMeansNothingWritten)
{
    load("ORBIX-6100");
    openPage();
    page->clearPick(); // no pick roller row in class 6
    EXPECT_FALSE(page->modified());
    load("KAVRO-14F0");
    openPage();
    EXPECT_TRUE(page->apply().closeSheet) << "OK closes the sheet";
    EXPECT_TRUE(channel.commands.empty());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DeviceSetPage, ClearingAZeroCounterDoesNotMarkThePage)
{
    auto profile = *unitsim::findScanner("ORBIX-2200");
    profile.eeprom[60] = profile.eeprom[61] = 0;
    channel.attach(profile);
    identity = identify("VELORIN", "ORBIX-2200 on NET", "");
    commands.emplace(channel, identity.modelClass());
    page.emplace(*commands, identity, data, texts, boxes, admin);
    openPage();
    page->clearPick();
    EXPECT_FALSE(page->modified());
    EXPECT_TRUE(page->apply().closeSheet);
    EXPECT_TRUE(channel.commands.empty());
}

TEST_F(DeviceSetPage, CancelOrAFailedPinKeepsTheSheetOpenAndWritesNothing)
{
    load("KAVRO-14F0");
    openPage();
    page->clearFirst();
    boxes.answers = {BoxAnswer::Cancel};
    EXPECT_FALSE(page->apply().closeSheet);
    EXPECT_EQ(admin.runs, 0);
    admin.answer = false;
    EXPECT_FALSE(page->apply().closeSheet);
    EXPECT_EQ(admin.runs, 1);
    EXPECT_TRUE(channel.commands.empty());
    EXPECT_TRUE(page->modified()) << "the change is still pending";
}

TEST_F(DeviceSetPage, UnusableDeviceAtApplyKeepsTheChangesPending)
{
    load("KAVRO-14F0");
    openPage();
    page->clearFirst();
    channel.usableAnswer = false;
    EXPECT_FALSE(page->apply().closeSheet);
    EXPECT_EQ(boxes.texts().back(), "Specified device can't use now.\nCheck device power-on, or "
                                    "is used by other application.");
    EXPECT_EQ(boxes.shown.back().caption, "Attention");
    EXPECT_EQ(boxes.shown.back().icon, BoxIcon::Warning);
    EXPECT_TRUE(channel.commands.empty());
    EXPECT_TRUE(page->modified());
    channel.usableAnswer = true;
    EXPECT_TRUE(page->apply().closeSheet) << "a later OK writes them";
    EXPECT_EQ(committed()[124], 0);
}

TEST_F(DeviceSetPage, AFailedOrPartialReadNeverLeadsToAWrite)
{
    for (const char* failing : {"send", "receive"}) {
        FakeChannel own(*unitsim::findScanner("KAVRO-14F0"));
        if (std::string(failing) == "send")
            own.failText = "DEBUG,E2T,RED   ";
        else
            own.failOpcodes.insert(0x1C);
        const ScannerIdentity id = identify("VELORIN", "KAVRO-14F0 on NET", "");
        ScannerCommands cmds(own, 14);
        ScannerData d;
        FakeBoxes own_boxes;
        DeviceSetLogic logic(cmds, id, d, texts, own_boxes, admin);
        EXPECT_TRUE(logic.open());
        EXPECT_FALSE(logic.eepromRead()) << failing;
        EXPECT_TRUE(logic.control(C::Status).visible);
        EXPECT_EQ(logic.control(C::Status).text, texts(sid::kCountersUnread));
        for (const C write : {C::ClearFirst, C::ClearPick, C::ClearInk, C::Slider,
                              C::OffsetButton})
            EXPECT_FALSE(logic.control(write).enabled) << failing << " " << int(write);
        EXPECT_EQ(logic.image(), EepromImage{}) << "nothing of a failed read is kept";
        own.commands.clear();
        logic.clearFirst();
        logic.setSliderPosition(9);
        EXPECT_FALSE(logic.modified());
        EXPECT_TRUE(logic.apply().closeSheet);
        EXPECT_FALSE(logic.writeEeprom());
        EXPECT_TRUE(own.commands.empty()) << failing;
    }
}

TEST_F(DeviceSetPage, ClearedInkIsResetAfterTheCommit)
{
    load("KAVRO-14F0");
    openPage();
    page->clearInk();
    EXPECT_EQ(page->control(C::InkEdit).text, "100");
    EXPECT_TRUE(page->inkCleared());
    ASSERT_TRUE(page->apply().closeSheet);
    // The image did not change, so only the commit, then the ink commands.
    EXPECT_EQ(channel.texts(),
              (std::vector<std::string>{"DEBUG,E2P,WRT   ", "CLEAR INK-LIFE  ",
                                        "GET IMP-LIFE    ", "DEBUG,E2T,RED   "}));
    EXPECT_EQ(channel.scanner->inkPercent(), 100);
    EXPECT_FALSE(page->inkCleared());
}

TEST_F(DeviceSetPage, Class18StoresThePowerSavingTimeAsItsModeSenseReadsIt)
{
    load("NOVIA-1810");
    openPage();
    EXPECT_EQ(page->control(C::MinutesEdit).text, "30");
    page->setSliderPosition(9);
    ASSERT_TRUE(page->apply().closeSheet);
    EXPECT_EQ(committed()[64], 0x89);
    // What the next start reads back is what was set.
    ScannerData d;
    DeviceSetLogic again(*commands, identity, d, texts, boxes, admin);
    ASSERT_TRUE(again.open());
    EXPECT_EQ(again.control(C::MinutesEdit).text, "45");
}

TEST_F(DeviceSetPage, Class15WritesTheWideRegion)
{
    load("ORBIX-4000");
    openPage();
    EXPECT_EQ(page->control(C::FirstLabel).text, "Brake Roller:");
    page->clearFirst();
    ASSERT_TRUE(page->apply().closeSheet);
    const auto write = std::find_if(channel.commands.begin(), channel.commands.end(),
                                    [](const Recorded& r) { return r.text() == "DEBUG,E2T,WRT  W"; });
    ASSERT_NE(write, channel.commands.end());
    EXPECT_EQ(write->cdb, (Bytes{0x1D, 0, 0, 0x01, 0x60, 0})) << "352 bytes";
    EXPECT_EQ(committed()[62], 0);
    EXPECT_EQ(committed()[63], 0);
    EXPECT_EQ(committed()[220], imageOf("ORBIX-4000")[220]) << "the rest stays";
}

TEST_F(DeviceSetPage, Class10ReadsAndWritesTheBlock)
{
    load("MIRO-1010");
    openPage();
    EXPECT_EQ(page->control(C::FirstEdit).text, "3210");
    EXPECT_EQ(page->control(C::AdfEdit).text, std::to_string(65536 + 0x2345));
    page->clearFirst();
    ASSERT_TRUE(page->apply().closeSheet);
    EXPECT_EQ(channel.opcodes(), (Bytes{0x2A, 0x28})) << "no lamp timer for class 10";
    ASSERT_EQ(channel.commands[0].dataOut.size(), 128u);
    EXPECT_EQ(channel.commands[0].dataOut[0], 0);
    EXPECT_EQ(channel.commands[0].dataOut[1], 0);
    EXPECT_EQ(channel.commands[0].dataOut[2], 0x45);
}

TEST_F(DeviceSetPage, LampTimerClassesSendTheirEditsValue)
{
    load("LUMEN-1100");
    openPage();
    EXPECT_TRUE(page->control(C::LampEdit).visible);
    EXPECT_TRUE(page->control(C::LampEdit).enabled);
    EXPECT_EQ(page->control(C::LampEdit).text, "60");
    EXPECT_EQ(page->control(C::PickLabel).text, "");
    EXPECT_EQ(page->control(C::FlatbedLabel).text, "");
    page->setLampText("90");
    EXPECT_TRUE(page->modified());
    ASSERT_TRUE(page->apply().closeSheet);
    EXPECT_EQ(channel.commands[0].dataOut, (Bytes{0, 0, 0, 0, 0x3D, 6, 90, 0, 0, 0, 0, 0}));
    EXPECT_EQ(channel.scanner->lampTimer(), 90);

    page->setLampText("300");
    const ApplyOutcome refused = page->apply();
    EXPECT_FALSE(refused.closeSheet);
    EXPECT_EQ(refused.focus, std::optional<SetControl>(C::LampEdit));
}

TEST_F(DeviceSetPage, LayoutFollowsTheClass)
{
    load("FLATIS-1710");
    openPage();
    EXPECT_EQ(page->control(C::AdfLabel).text, "");
    EXPECT_EQ(page->control(C::FirstLabel).text, "");
    EXPECT_FALSE(page->control(C::ClearFirst).enabled);
    EXPECT_TRUE(page->control(C::OffsetButton).enabled);
    EXPECT_FALSE(page->control(C::PowerSavingButton).enabled);
    EXPECT_FALSE(page->control(C::LampEdit).enabled);
    EXPECT_EQ(page->control(C::FlatbedEdit).text, "316040");
    EXPECT_TRUE(page->control(C::FlatbedEdit).enabled);

    load("VANTA-810");
    openPage();
    EXPECT_TRUE(page->control(C::OffsetButton).enabled);
    EXPECT_TRUE(page->control(C::PowerSavingButton).enabled);
    EXPECT_FALSE(page->control(C::LampEdit).enabled);
    EXPECT_TRUE(page->control(C::ClearPick).enabled);
    EXPECT_EQ(page->control(C::FlatbedLabel).text, "");
    EXPECT_EQ(page->control(C::FourthUnit).text, "");
    EXPECT_FALSE(page->control(C::ClearFourth).enabled);
    EXPECT_EQ(page->control(C::InkLabel).text, "") << "no endorser on class 8";

    load("TESSEL-710");
    openPage();
    EXPECT_FALSE(page->control(C::OffsetButton).enabled);
    EXPECT_EQ(channel.texts().size(), 0u);
}

TEST_F(DeviceSetPage, UnusableDeviceAtOpeningShowsTheMessageAndNoValues)
{
    load("KAVRO-14F0");
    channel.usableAnswer = false;
    EXPECT_FALSE(page->open());
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(page->control(C::FirstEdit).text, "");
    EXPECT_FALSE(page->control(C::ClearFirst).enabled);
    EXPECT_TRUE(channel.commands.empty());
}

} // namespace
} // namespace lumarc::infotool
