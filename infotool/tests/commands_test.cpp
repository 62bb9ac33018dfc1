// The model table, the command functions' exact bytes, and the device link
// over a fake still-image object.
#include "fake_sti.h"
#include "fakes.h"

#include "infotool/model_table.h"
#include "infotool/scanner_commands.h"
#include "infotool/sti_device_link.h"
#include "platform/memory_block.h"
#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace lumarc::infotool {
namespace {

using namespace testing;
using Bytes = std::vector<uint8_t>;

TEST(ModelTable, HasOneHundredVelorinRowsCoveringEveryClass)
{
    const auto table = modelTable();
    ASSERT_EQ(table.size(), kModelRows + 1);
    EXPECT_EQ(table.back().vendorLength, 0) << "the terminating row";
    std::set<std::string> products;
    std::set<ModelClass> classes;
    for (size_t i = 0; i < kModelRows; ++i) {
        const ModelRow& row = table[i];
        ASSERT_NE(row.product, nullptr) << "row " << i;
        EXPECT_EQ(std::string(row.vendor, row.vendorLength), "VELORIN");
        EXPECT_EQ(row.productLength, std::strlen(row.product));
        EXPECT_LE(row.productLength, 15u) << row.product << " must fit [1] Scanner";
        EXPECT_TRUE(std::string(row.library).ends_with(".DLL")) << row.library;
        EXPECT_TRUE(products.insert(row.product).second) << row.product << " twice";
        classes.insert(row.modelClass);
        EXPECT_NE(capabilitiesOf(static_cast<int>(i)), nullptr);
    }
    EXPECT_EQ(classes, (std::set<ModelClass>{0, 1, 2, 3, 5, 6, 7, 8, 9, 10, 12, 13, 14, 15, 16,
                                             17, 18}));
    EXPECT_EQ(capabilitiesOf(-1), nullptr);
    EXPECT_EQ(capabilitiesOf(100), nullptr);
    // Exactly one record carries every field.
    int complete = 0;
    for (size_t i = 0; i < kModelRows; ++i)
        complete += capabilitiesOf(static_cast<int>(i))->flags == 0x195 ? 1 : 0;
    EXPECT_EQ(complete, 1);
}

TEST(ModelTable, LookupCutsOnlyTheServersOnSuffixAndComparesExactly)
{
    const struct {
        const char *vendor, *description;
        ModelClass expected;
    } cases[] = {
        {"VELORIN", "ORBIX-4000 on NET", 15},
        {"VELORIN", "ORBIX-4000", 15},     // no blank: compared whole
        {"VELORIN", "ORBIX-4000 at NET", 20}, // blank not followed by "o"
        {"VELORIN", "ORBIX-4000 On NET", 20}, // uppercase O is not cut
        {"VELORIN", "orbix-4000 on NET", 20}, // case differs
        {"Velorin", "ORBIX-4000 on NET", 20},
        {"VELORIN", "ORBIX-PROTO on NET", 20}, // class 0 counts as not found
        {"VELORIN", "NOVIA-1810 on NET", 18},
        {"TALVEN", "TALVEN-S60 on NET", 20},
        {"VELORIN", "", 20},
    };
    for (const auto& c : cases) {
        const ModelMatch match = lookupModel(c.vendor, c.description);
        EXPECT_EQ(match.modelClass, c.expected) << c.vendor << " / " << c.description;
        if (c.expected == kClassNotFound)
            EXPECT_EQ(match.row, -1);
        else
            EXPECT_EQ(modelTable()[static_cast<size_t>(match.row)].modelClass, c.expected);
    }
}

TEST(ModelTable, VpdOverrideFillsOnlyWhatTheScannerLeftZeroExceptForClass10)
{
    const int miro = lookupModel("VELORIN", "MIRO-1010").row;
    const int kavro = lookupModel("VELORIN", "KAVRO-1310").row;
    const int lumen = lookupModel("VELORIN", "LUMEN-1100").row;
    const uint8_t* block = capabilitiesOf(kavro)->vpdOverride;
    ASSERT_NE(block, nullptr);

    std::array<uint8_t, kVpdLength> vpd{};
    vpd.fill(0);
    vpd[0x1C] = 0x02; // the scanner's own video bits stay
    vpd[0x54] = 9;    // one nonzero byte keeps 0x52-0x57 as they are
    vpd[0x5E] = 7;
    applyVpdOverride(13, kavro, vpd);
    EXPECT_EQ(vpd[0x1C], 0x02);
    EXPECT_EQ(vpd[0x20], block[1]);
    EXPECT_EQ(vpd[0x23], block[4]);
    EXPECT_EQ(vpd[0x52], 0);
    EXPECT_EQ(vpd[0x56], 0);
    EXPECT_EQ(vpd[0x58], block[13]);
    EXPECT_EQ(vpd[0x5A], block[15]);
    EXPECT_EQ(vpd[0x5E], 7);

    std::array<uint8_t, kVpdLength> all{};
    all.fill(0x11);
    applyVpdOverride(10, miro, all);
    const uint8_t* miroBlock = capabilitiesOf(miro)->vpdOverride;
    EXPECT_EQ(all[0x1C], miroBlock[0]) << "class 10 takes every group";
    EXPECT_EQ(all[0x55], miroBlock[10]);
    EXPECT_EQ(all[0x5C], miroBlock[17]);
    EXPECT_EQ(all[0x5E], miroBlock[18]);

    std::array<uint8_t, kVpdLength> untouched{};
    applyVpdOverride(1, lumen, untouched);
    EXPECT_EQ(untouched, (std::array<uint8_t, kVpdLength>{})) << "no block, nothing changes";
    applyVpdOverride(20, -1, untouched);
}

TEST(ModelTable, ModelFlagsAndTheNarrowBackRange)
{
    EXPECT_TRUE(modelFlags("ORBIX-2200 on NET").hasFlatbed);
    EXPECT_FALSE(modelFlags("ORBIX-2200 on NET").hasBottomOffset);
    const ModelFlags single = modelFlags("KAVRO-13S0 on NET");
    EXPECT_TRUE(single.singleSidedAdf);
    EXPECT_TRUE(single.hasBottomOffset);
    EXPECT_FALSE(single.hasFlatbed);
    EXPECT_TRUE(forcesFlatbed("PLANO-7"));
    EXPECT_FALSE(forcesFlatbed("PLANO-"));

    std::array<uint8_t, kVpdLength> vpd{};
    vpd[0x16] = 0x13;
    std::array<uint8_t, kInquiryLength> inquiry{};
    inquiry[32] = '1';
    EXPECT_TRUE(narrowBackOffsetRange("lumen-2150 on NET", vpd, inquiry)) << "ignoring case";
    EXPECT_TRUE(narrowBackOffsetRange("LUMEN-2250 on NET", vpd, inquiry));
    inquiry[32] = 'A';
    EXPECT_FALSE(narrowBackOffsetRange("LUMEN-2250 on NET", vpd, inquiry)) << "letter revision";
    EXPECT_TRUE(narrowBackOffsetRange("LUMEN-2150 on NET", vpd, inquiry));
    vpd[0x15] = 1;
    EXPECT_FALSE(narrowBackOffsetRange("LUMEN-2150 on NET", vpd, inquiry)) << "other window";
    EXPECT_FALSE(narrowBackOffsetRange("LUMEN-1150 on NET", {}, inquiry));
}

// Each command function, its escape code and its exact CDB.
TEST(Commands, SendTheirExactCdbs)
{
    FakeChannel channel;
    ScannerCommands commands(channel, 13);
    std::array<uint8_t, 96> inquiry{};
    std::array<uint8_t, 100> vpd{};
    std::array<uint8_t, 511> image{};
    std::array<uint8_t, 128> block{};
    std::array<uint8_t, 12> status{};
    commands.inquiry(false, 0, inquiry);
    commands.inquiry(true, 0xF0, vpd);
    commands.receiveDiagnostic(std::span(image).first(127));
    commands.receiveDiagnostic(image);
    commands.modeSensePowerSaving();
    commands.readBlock(block);
    commands.writeBlock(block);
    commands.readHardwareStatus(status);
    const struct {
        EscapeCode code;
        Bytes cdb;
    } expected[] = {
        {EscapeCode::DataIn, {0x12, 0x00, 0x00, 0x00, 0x60, 0x00}},
        {EscapeCode::DataIn, {0x12, 0x01, 0xF0, 0x00, 0x64, 0x00}},
        {EscapeCode::DataIn, {0x1C, 0x00, 0x00, 0x00, 0x7F, 0x00}},
        {EscapeCode::DataIn, {0x1C, 0x00, 0x00, 0x01, 0xFF, 0x00}},
        {EscapeCode::DataIn, {0x1A, 0x08, 0x34, 0x00, 0x0C, 0x00}},
        {EscapeCode::DataIn, {0x28, 0x00, 0x69, 0x00, 0x0A, 0x0D, 0x00, 0x00, 0x80, 0x00}},
        {EscapeCode::DataOut, {0x2A, 0x00, 0x85, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00}},
        {EscapeCode::DataIn, {0xC2, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x00}},
    };
    ASSERT_EQ(channel.commands.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(channel.commands[i].code, expected[i].code) << i;
        EXPECT_EQ(channel.commands[i].cdb, expected[i].cdb) << i;
    }
    // Reads give the Escape call the data buffer as its output.
    EXPECT_EQ(channel.commands[0].escapeOut, inquiry.data());
    EXPECT_EQ(channel.commands[0].escapeOutLength, 96u);
    EXPECT_EQ(channel.commands[0].dataInLength, 96u);
}

TEST(Commands, ReceiveDiagnosticZeroesItsBufferFirst)
{
    FakeChannel channel;
    channel.failAll = true;
    ScannerCommands commands(channel, 13);
    std::array<uint8_t, 12> buffer;
    buffer.fill(0xAA);
    EXPECT_FALSE(commands.receiveDiagnostic(buffer));
    EXPECT_EQ(buffer, (std::array<uint8_t, 12>{}));
}

TEST(Commands, VendorCommandsCarryTheirTextAndLength)
{
    const struct {
        int kind;
        ModelClass modelClass;
        size_t payload;
        const char* text;
        uint8_t high, low;
    } cases[] = {
        {1, 13, 0, "DEBUG,E2T,RED   ", 0x00, 0x10},
        {1, 7, 0, "DEBUG,H3T,RED   ", 0x00, 0x10},
        {2, 12, 5, "DEBUG,H3T,WRT   ", 0x00, 0x15},
        {2, 1, 64, "DEBUG,E2T,WRT   ", 0x00, 0x50},
        {3, 7, 0, "DEBUG,E2P,WRT   ", 0x00, 0x10},
        {4, 14, 0, "CLEAR INK-LIFE  ", 0x00, 0x10},
        {5, 14, 0, "GET IMP-LIFE    ", 0x00, 0x10},
        {6, 16, 0, "GET FIRMVERSION ", 0x00, 0x10},
        {7, 15, 0, "DEBUG,E2T,RED  W", 0x00, 0x10},
        {8, 15, 300, "DEBUG,E2T,WRT  W", 0x01, 0x3C}, // 316 bytes: the high byte for 15
        {2, 8, 300, "DEBUG,E2T,WRT   ", 0x01, 0x3C},  // and for 8
        {2, 13, 300, "DEBUG,E2T,WRT   ", 0x00, 0x3C}, // but for no other class
    };
    for (const auto& c : cases) {
        FakeChannel channel;
        ScannerCommands commands(channel, c.modelClass);
        const Bytes payload(c.payload, 0x5A);
        ASSERT_TRUE(commands.sendDiagnostic(c.kind, payload));
        ASSERT_EQ(channel.commands.size(), 1u);
        const Recorded& r = channel.commands[0];
        EXPECT_EQ(r.code, EscapeCode::DataOut);
        EXPECT_EQ(r.cdb, (Bytes{0x1D, 0x00, 0x00, c.high, c.low, 0x00})) << c.text;
        EXPECT_EQ(r.text(), c.text);
        EXPECT_EQ(r.behindText(), payload);
        EXPECT_EQ(r.escapeOutLength, 16 + c.payload) << "the Escape call's own length";
        EXPECT_EQ(r.escapeOut == nullptr, c.payload == 0);
    }
    FakeChannel channel;
    ScannerCommands commands(channel, 13);
    EXPECT_FALSE(commands.sendDiagnostic(0));
    EXPECT_FALSE(commands.sendDiagnostic(9));
    EXPECT_TRUE(channel.commands.empty()) << "an unknown kind sends nothing";
}

TEST(Commands, ModeSelectsGoOnlyToTheClassesThatKeepThem)
{
    const struct {
        ModelClass modelClass;
        uint32_t minutes;
        std::optional<uint8_t> powerSaving; // the byte sent, or nothing sent
        bool lampTimerSent;
    } cases[] = {
        {14, 10, 0x83, false}, {15, 55, 0x8B, false}, {16, 25, 0x85, false},
        {18, 60, 0x8C, false}, {13, 25, std::nullopt, false}, {8, 25, std::nullopt, false},
        {10, 25, std::nullopt, false}, {1, 25, std::nullopt, true}, {17, 25, std::nullopt, true},
        {3, 25, std::nullopt, true},
    };
    for (const auto& c : cases) {
        FakeChannel channel;
        ScannerCommands commands(channel, c.modelClass);
        EXPECT_TRUE(commands.modeSelectPowerSaving(c.minutes));
        EXPECT_TRUE(commands.modeSelectLampTimer(200));
        std::vector<Bytes> sent;
        for (const auto& r : channel.commands) {
            EXPECT_EQ(r.cdb, (Bytes{0x15, 0x10, 0x00, 0x00, 0x0C, 0x00}));
            sent.push_back(r.dataOut);
        }
        std::vector<Bytes> expected;
        if (c.powerSaving)
            expected.push_back({0, 0, 0, 0, 0x34, 0x06, *c.powerSaving, 0, 0, 0, 0, 0});
        if (c.lampTimerSent)
            expected.push_back({0, 0, 0, 0, 0x3D, 0x06, 200, 0, 0, 0, 0, 0});
        EXPECT_EQ(sent, expected) << "class " << c.modelClass;
    }
}

TEST(Commands, ModeSenseGivesByteSixOrZeroOnFailure)
{
    FakeChannel channel(*unitsim::findScanner("KAVRO-14F0"));
    ScannerCommands commands(channel, 14);
    bool ok = false;
    EXPECT_EQ(commands.modeSensePowerSaving(&ok), 0x85);
    EXPECT_TRUE(ok);
    channel.failOpcodes.insert(0x1A);
    EXPECT_EQ(commands.modeSensePowerSaving(&ok), 0);
    EXPECT_FALSE(ok);
}

class Link : public ::testing::Test {
protected:
    StiDeviceLink::Creator creator()
    {
        return [this](IVexEmStiMgr** out) {
            ++created;
            ++sti.refs;
            *out = static_cast<IVexEmStiMgr*>(&sti);
            return createResult;
        };
    }
    FakeSti sti;
    int created = 0;
    platform::HRESULT createResult = 0;
};

TEST_F(Link, OpensTheFirstDeviceAndLooksUpItsModel)
{
    StiDeviceLink link(creator());
    ASSERT_TRUE(link.open());
    ASSERT_TRUE(link.open()) << "a second open takes the list again";
    EXPECT_EQ(created, 1) << "the object is created once";
    ASSERT_TRUE(link.createDevice());
    EXPECT_EQ(sti.createdName, "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000");
    EXPECT_EQ(sti.createdMode, 3u);
    EXPECT_EQ(link.lookupModel().modelClass, 18);
    EXPECT_EQ(link.localName(), "NOVIA-1810 on NET");
    link.close();
    EXPECT_EQ(sti.refs, 0) << "every reference the link took is given back";
}

TEST_F(Link, OpenFailsUnlessCreationAndTheListSucceedExactly)
{
    createResult = platform::REGDB_E_CLASSNOTREG;
    StiDeviceLink unregistered(creator());
    EXPECT_FALSE(unregistered.open());
    createResult = 0;
    sti.listResult = 1; // S_FALSE is not success here
    StiDeviceLink link(creator());
    EXPECT_FALSE(link.open());
}

TEST_F(Link, EscapeBlockCarriesTheCommandAndCountsOnlyCompletedOnes)
{
    StiDeviceLink link(creator());
    ASSERT_TRUE(link.open() && link.createDevice());
    ScannerCommands commands(link, 18);
    std::array<uint8_t, 96> inquiry{};
    ASSERT_TRUE(commands.inquiry(false, 0, inquiry));
    ASSERT_EQ(sti.escapes.size(), 1u);
    const auto& call = sti.escapes[0];
    EXPECT_EQ(call.code, 1u);
    EXPECT_EQ(call.out, inquiry.data());
    EXPECT_EQ(call.outSize, 96u);
    VexEmEscapeBlock block;
    std::memcpy(&block, call.block.data(), std::min(call.block.size(), sizeof block));
    EXPECT_EQ(+block.blockSize, offsetof(VexEmEscapeBlock, cdb) + 10);
    EXPECT_EQ(call.block.size(), +block.blockSize);
    EXPECT_EQ(+block.kind, 2u);
    EXPECT_EQ(+block.cdbLength, 6);
    EXPECT_EQ(+block.dataLength, 96u);
    EXPECT_EQ(+block.data, inquiry.data());
    EXPECT_EQ(Bytes(block.cdb, block.cdb + 10), (Bytes{0x12, 0, 0, 0, 0x60, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sti.log, (std::vector<std::string>{"lock 2000", "escape 1", "unlock"}));

    // MODE SELECT: the data from the block, no output buffer for the call.
    ASSERT_TRUE(commands.modeSelectPowerSaving(30));
    EXPECT_EQ(sti.escapes[1].code, 2u);
    EXPECT_EQ(sti.escapes[1].out, nullptr);
    EXPECT_EQ(sti.escapes[1].outSize, 0u);

    // Anything but SS_COMP in the result record is a failure.
    for (const uint32_t status : {0x04u, 0x05u, 0xE4u, 0xE5u, 0xFFu}) {
        sti.resultStatus = status;
        EXPECT_FALSE(commands.inquiry(false, 0, inquiry)) << "status " << status;
    }
}

TEST_F(Link, UsableOnlyWithTheOnlineBitAfterAStatusQuery)
{
    StiDeviceLink link(creator());
    EXPECT_FALSE(link.usable()) << "no device yet";
    ASSERT_TRUE(link.open() && link.createDevice());
    EXPECT_TRUE(link.usable());
    EXPECT_EQ(sti.statusMask, STI_DEVSTATUS_ONLINE_STATE);
    sti.online = false;
    EXPECT_FALSE(link.usable());
}

TEST_F(Link, CloseSendsTheReleaseEscapeWhileALockIsCounted)
{
    StiDeviceLink link(creator());
    ASSERT_TRUE(link.open() && link.createDevice());
    sti.unlockResult = platform::E_FAIL; // the unlock of a command fails
    std::array<uint8_t, 12> status{};
    ScannerCommands(link, 18).readHardwareStatus(status);
    EXPECT_EQ(link.lockCount(), 1);
    ASSERT_TRUE(link.lock());
    ASSERT_TRUE(link.lock()) << "a third lock is a no-op";
    EXPECT_EQ(link.lockCount(), 2);
    sti.log.clear();
    link.close();
    ASSERT_GE(sti.log.size(), 2u);
    EXPECT_EQ(sti.log[0], "escape 0") << "the release escape, without lock or unlock";
    EXPECT_EQ(sti.log[1], "release");
    EXPECT_EQ(sti.escapes.back().block, (Bytes{16, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sti.escapes.back().out, nullptr);
    EXPECT_EQ(sti.refs, 0);
}

TEST_F(Link, NoReleaseEscapeWhenEveryLockWasUndone)
{
    StiDeviceLink link(creator());
    ASSERT_TRUE(link.open() && link.createDevice());
    std::array<uint8_t, 12> status{};
    ScannerCommands(link, 18).readHardwareStatus(status);
    sti.escapes.clear();
    link.close();
    EXPECT_TRUE(sti.escapes.empty());
}

} // namespace
} // namespace lumarc::infotool
