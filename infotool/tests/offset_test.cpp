// The Offset dialog's encodings, units and write, and the spin edit's
// range and repeat.
#include "fakes.h"

#include "infotool/offset_logic.h"
#include "infotool/spin_repeat.h"
#include "unitsim/scanner_profiles.h"

#include <gtest/gtest.h>

namespace lumarc::infotool {
namespace {

using namespace testing;
using Bytes = std::vector<uint8_t>;

TEST(OffsetEncoding, RoundTripsEveryValueOfEachForm)
{
    for (int v = -7; v <= 7; ++v)
        EXPECT_EQ(decodeNibble(encodeNibble(v)), v == 0 ? 0 : v);
    for (int v = -127; v <= 127; ++v)
        EXPECT_EQ(decodeSignMagnitude(encodeSignMagnitude(v)), v);
    for (int v = -31; v <= 31; ++v)
        EXPECT_EQ(decodeClass18Magnification(encodeClass18Magnification(v)), v);
    EXPECT_EQ(encodeNibble(-3) | encodeNibble(2) << 4, 0x2B);
    EXPECT_EQ(encodeSignMagnitude(-15), 0x8F);
    EXPECT_EQ(encodeClass18Magnification(25), 0x29);
    EXPECT_EQ(encodeClass18Magnification(-25), 0x39);
    EXPECT_EQ(decodeSignMagnitude(0xFF, 0x3F), -63);
    EXPECT_EQ(decodeSignMagnitude(0xBF, 0x1F), -31);
}

class OffsetDialog : public ::testing::Test {
protected:
    void load(const std::string& model, std::optional<unitsim::ScannerProfile> profile = {})
    {
        const auto p = profile ? *profile : *unitsim::findScanner(model);
        image = p.eeprom;
        channel.attach(p);
        identity = identify("VELORIN", model + " on NET", model + " on NET");
        data.vpd = unitsim::encodeVpdF0(p.vpd);
        const auto inquiry = unitsim::inquiryData(p);
        std::copy(inquiry.begin(), inquiry.end(), data.inquiry.begin());
        logic.emplace(identity, data, image, texts);
        commands.emplace(channel, identity.modelClass());
    }
    std::vector<std::pair<std::string, int>> units() const
    {
        std::vector<std::pair<std::string, int>> out;
        for (const auto& u : logic->units())
            out.emplace_back(u.text, u.id);
        return out;
    }
    std::optional<bool> ok()
    {
        return logic->ok(logic->mainValue(), logic->subValue(), logic->bottomValue(),
                         logic->values().top, logic->values().left, *commands, image, boxes,
                         admin);
    }

    Texts texts;
    FakeChannel channel;
    FakeBoxes boxes;
    FakeAdmin admin;
    ScannerIdentity identity;
    ScannerData data;
    EepromImage image{};
    std::optional<OffsetLogic> logic;
    std::optional<ScannerCommands> commands;
};

TEST_F(OffsetDialog, UnitsAndRangesOfEachClass)
{
    using U = std::vector<std::pair<std::string, int>>;
    const struct {
        const char* model;
        U units;
        int minimum, maximum;
        bool bottom, checks, magnification;
    } cases[] = {
        {"ORBIX-2200", {{"Flat bed", 1}, {"ADF(front)", 2}, {"ADF(back)", 4}}, -4, 4, false, true, true},
        {"KAVRO-1310", {{"ADF(front)", 2}, {"ADF(back)", 4}}, -4, 4, true, false, true},
        {"KAVRO-14F0", {{"Flat bed", 1}, {"ADF(front)", 2}, {"ADF(back)", 4}}, -4, 4, false, false, true},
        {"ORBIX-4000", {{"ADF(front)", 2}, {"ADF(back)", 4}}, -2, 3, false, false, true},
        {"FLATIS-1710", {{"Flat bed", 1}}, -3, 3, false, false, false},
        {"NOVIA-1810", {{"ADF(front)", 2}, {"ADF(back)", 4}}, -4, 6, false, false, true},
        {"VANTA-810", {}, -127, 127, false, false, false},
        {"LUMEN-1100", {{"Flat bed", 1}, {"ADF", 2}}, -127, 127, false, false, false},
        {"SKARA-330", {{"ADF(front)", 2}, {"ADF(back)", 4}}, -127, 127, false, false, false},
    };
    for (const auto& c : cases) {
        load(c.model);
        EXPECT_EQ(units(), c.units) << c.model;
        EXPECT_EQ(logic->range(unit::kAdfFront).minimum, c.minimum) << c.model;
        EXPECT_EQ(logic->range(unit::kAdfFront).maximum, c.maximum) << c.model;
        EXPECT_EQ(logic->bottomEnabled(), c.bottom) << c.model;
        EXPECT_EQ(logic->checksVisible(), c.checks) << c.model;
        EXPECT_EQ(logic->magnificationEnabled(), c.magnification) << c.model;
    }
    // A single-sided feeder of class 13: "ADF" alone, bottom offsets disabled.
    auto single = *unitsim::findScanner("KAVRO-1310");
    load("KAVRO-13S0", single);
    EXPECT_EQ(units(), (U{{"ADF", 2}}));
    EXPECT_FALSE(logic->bottomEnabled());

    // The narrow back range of one feeder.
    load("LUMEN-2150");
    EXPECT_EQ(logic->range(unit::kAdfBack).maximum, 50);
    EXPECT_EQ(logic->range(unit::kAdfFront).maximum, 127);
}

TEST_F(OffsetDialog, ReadsTheValuesWhereTheClassKeepsThem)
{
    load("ORBIX-2200");
    EXPECT_EQ(logic->selectedUnit(), unit::kFlatbed) << "the first item is selected";
    EXPECT_EQ(logic->mainValue(), -2);
    EXPECT_EQ(logic->subValue(), 3);
    EXPECT_TRUE(logic->values().top);
    EXPECT_FALSE(logic->values().left);
    EXPECT_EQ(logic->magnification(), -7) << "flat bed first";
    EXPECT_EQ(logic->magnificationText(), "-0.7");
    logic->selectMagnificationUnit(unit::kAdfFront);
    EXPECT_EQ(logic->magnificationText(), "0.5");
    EXPECT_EQ(logic->lowLabel(), "-3.1%");

    load("ORBIX-4000");
    EXPECT_EQ(logic->mainValue(), 1);
    EXPECT_EQ(logic->subValue(), -2);
    EXPECT_EQ(logic->magnification(), -15);
    EXPECT_EQ(logic->rangeLabel(), "(-6.3 -- 6.3%)");

    load("NOVIA-1810");
    EXPECT_EQ(logic->values().adfMagnification, 25);
    EXPECT_EQ(logic->values().fbMagnification, -17);
    EXPECT_EQ(logic->magnificationUnits().size(), 2u) << "class 18 offers both";

    load("KAVRO-1310");
    EXPECT_EQ(logic->bottomValue(), 2);
    logic->selectUnit(unit::kAdfBack, logic->mainValue(), logic->subValue(), 4);
    EXPECT_EQ(logic->values().adfBottom, 4) << "stored into the unit left";
    EXPECT_EQ(logic->bottomValue(), -3);
    EXPECT_EQ(logic->mainValue(), 1);
}

TEST_F(OffsetDialog, OkWritesTheRegionAndCommits)
{
    load("ORBIX-2200");
    logic->selectUnit(unit::kAdfFront, 1, 1, 0);
    EXPECT_EQ(logic->values().fbMain, 1);
    logic->selectMagnificationUnit(unit::kAdfFront);
    logic->setMagnification(-31);
    logic->values().left = true;
    ASSERT_EQ(logic->ok(-3, 2, 0, true, true, *commands, image, boxes, admin),
              std::optional<bool>(true));
    ASSERT_EQ(channel.texts(), (std::vector<std::string>{"DEBUG,E2T,WRT   ", "DEBUG,E2P,WRT   "}));
    const Bytes payload = channel.commands[0].behindText();
    ASSERT_EQ(payload.size(), 2u + 64u);
    EXPECT_EQ(payload[0], 0);
    EXPECT_EQ(payload[1], 64);
    EXPECT_EQ(payload[2 + 53], 0x2B);
    EXPECT_EQ(payload[2 + 55], 0x11);
    EXPECT_EQ(payload[2 + 56], 0x9F);
    EXPECT_EQ(payload[2 + 37], 0x03);
    const auto committed = channel.scanner->eeprom();
    EXPECT_EQ(committed[53], 0x2B);
    EXPECT_EQ(image[53], 0x2B) << "the page's image follows";
    EXPECT_EQ(committed[60], unitsim::findScanner("ORBIX-2200")->eeprom[60]);
}

TEST_F(OffsetDialog, EveryWritingClassPutsItsBytes)
{
    const struct {
        const char* model;
        size_t count;
        std::vector<std::pair<size_t, uint8_t>> bytes;
    } cases[] = {
        {"ORBIX-4000", 255, {{220, 0x2A}, {218, 0x8F}}},
        {"NOVIA-1810", 56, {{53, 0x2A}, {11, 0x39}}}, // flat bed is its first magnification unit
        {"FLATIS-1710", 58, {{55, 0x2A}}},
        {"VANTA-810", 0, {}},
    };
    for (const auto& c : cases) {
        load(c.model);
        channel.commands.clear();
        if (std::string(c.model) == "ORBIX-4000")
            logic->setMagnification(-15);
        else
            logic->setMagnification(-25);
        ASSERT_TRUE(logic->ok(-2, 2, 0, false, false, *commands, image, boxes, admin).value_or(false))
            << c.model;
        const Bytes payload = channel.commands.at(0).behindText();
        EXPECT_EQ(payload.size(), 2 + c.count) << c.model;
        for (const auto& [at, value] : c.bytes)
            EXPECT_EQ(payload.at(2 + at), value) << c.model << " byte " << at;
    }
    EXPECT_EQ(channel.commands[0].cdb, (Bytes{0x1D, 0, 0, 0, 18, 0})) << "offset 0, count 0";
}

TEST_F(OffsetDialog, OutOfRangeOffsetsAreResetAndNothingIsWritten)
{
    auto profile = *unitsim::findScanner("ORBIX-4000");
    profile.eeprom[221] = 0x4F; // back: main -7, sub 4, outside -2..3
    load("ORBIX-4000", profile);
    EXPECT_EQ(logic->selectedUnit(), unit::kAdfFront);
    EXPECT_FALSE(ok());
    const OffsetValues& v = logic->values();
    EXPECT_EQ(v.adfMain, 0);
    EXPECT_EQ(v.adfSub, 0);
    EXPECT_EQ(v.backSub, 0);
    EXPECT_TRUE(boxes.shown.empty()) << "silently";
    EXPECT_TRUE(channel.commands.empty());
    EXPECT_TRUE(ok().value_or(false)) << "the second OK goes through";
}

TEST_F(OffsetDialog, CancelPinAndDeviceFailures)
{
    load("ORBIX-4000");
    boxes.answers = {BoxAnswer::Cancel};
    EXPECT_FALSE(ok()) << "stays open";
    admin.answer = false;
    EXPECT_FALSE(ok());
    EXPECT_TRUE(channel.commands.empty());
    admin.answer = true;
    channel.usableAnswer = false;
    EXPECT_EQ(ok(), std::optional<bool>(false)) << "closes after the message";
    EXPECT_EQ(boxes.shown.back().caption, "Attention");
    channel.usableAnswer = true;
    channel.failText = "DEBUG,E2P,WRT   ";
    const auto before = image;
    EXPECT_EQ(ok(), std::optional<bool>(false));
    EXPECT_EQ(boxes.texts().back().substr(0, 24), "Specified device can't u");
    EXPECT_EQ(image, before) << "values unchanged, so the copied region is the same";
}

TEST(SpinRange, ClampLengthAndTypedText)
{
    const struct {
        SpinRange range;
        size_t length;
    } lengths[] = {{{-127, 127}, 4}, {{-4, 4}, 2}, {{1, 255}, 3}, {{-50, 50}, 3}, {{0, 1000}, 4}};
    for (const auto& c : lengths)
        EXPECT_EQ(c.range.maxLength(), c.length) << c.range.minimum << ".." << c.range.maximum;
    const SpinRange r{-2, 3};
    EXPECT_EQ(r.fromText("7"), 3);
    EXPECT_EQ(r.fromText("-9"), -2);
    EXPECT_EQ(r.fromText(""), 0);
    EXPECT_EQ(r.fromText("-"), 0);
    EXPECT_EQ(r.fromText("99999999999999999999"), 3);
    EXPECT_EQ((SpinRange{1, 255}.fromText("")), 1);
}

TEST(SpinRepeat, StepGrowsOneFiveTenFifty)
{
    SpinRepeat repeat;
    EXPECT_EQ(repeat.press(1), 1);
    std::vector<int> steps;
    for (int i = 0; i < 40; ++i)
        steps.push_back(repeat.repeat());
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(steps[i], 1) << "repeat " << i + 1;
    EXPECT_EQ(steps[9], 5) << "the 10th repeat";
    EXPECT_EQ(steps[18], 5);
    EXPECT_EQ(steps[19], 10) << "the 20th repeat doubles and restarts the count";
    EXPECT_EQ(steps[27], 10);
    EXPECT_EQ(steps[28], 50) << "nine repeats after the count restarted at 1";
    EXPECT_EQ(steps[38], 100);
    repeat.release();
    EXPECT_EQ(repeat.repeat(), 0);
    EXPECT_EQ(repeat.press(-1), -1);
    EXPECT_EQ(repeat.repeat(), -1) << "a new press starts again at 1";
    for (int i = 0; i < 1000; ++i)
        EXPECT_LE(std::abs(repeat.repeat()), 1'000'000);
}

} // namespace
} // namespace lumarc::infotool
