// The Device Info page's rows and clicks, and the EEPROM dump file.
#include "fakes.h"

#include "infotool/device_info_logic.h"
#include "infotool/dump_file.h"
#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/tests/temp_folder.h"
#include "unitsim/scanner_profiles.h"

#include <gtest/gtest.h>

#include <cstring>

namespace lumarc::infotool {
namespace {

using namespace testing;

// The rows of one source, without a scanner.
class InfoRows : public ::testing::Test {
protected:
    InfoRows() : commands(channel, 13), setPage(commands, identity, data, texts, boxes, admin) {}

    void build(const InfoSource& source)
    {
        logic.emplace(commands, identity, data, setPage, texts, boxes);
        logic->build(source);
        logic->rebuild();
    }
    // The value of the first row with this label in a group; "(none)" when
    // there is no such row.
    std::string value(size_t group, const std::string& label) const
    {
        if (group >= logic->groups().size())
            return "(none)";
        for (const auto& entry : logic->groups()[group].entries)
            if (entry.label == label)
                return entry.value;
        return "(none)";
    }
    static InfoSource source(ModelClass modelClass, const char* product = "KAVRO-1320")
    {
        InfoSource s;
        s.modelClass = modelClass;
        s.row = lookupModel("VELORIN", product).row;
        std::memset(s.inquiry.data() + 8, ' ', 28);
        std::memcpy(s.inquiry.data() + 8, "VELORIN", 7);
        std::memcpy(s.inquiry.data() + 16, product, std::strlen(product));
        std::memcpy(s.inquiry.data() + 32, "1.07", 4);
        return s;
    }

    Texts texts;
    FakeChannel channel;
    FakeBoxes boxes;
    FakeAdmin admin;
    ScannerIdentity identity;
    ScannerData data;
    ScannerCommands commands;
    DeviceSetLogic setPage;
    std::optional<DeviceInfoLogic> logic;
};

TEST_F(InfoRows, InitialUseAndSerialNumber)
{
    const struct {
        ModelClass modelClass;
        std::array<uint8_t, 3> date;
        std::array<uint8_t, 3> serial;
        const char *initialUse, *serialNumber, *serialShort;
    } cases[] = {
        {13, {4, 12, 25}, {0, 1, 0}, "04/12/25", "00000256", "(none)"},
        {13, {4, 0, 25}, {0, 0, 0}, "Not Registed", "Not Defined", "(none)"},
        {13, {4, 12, 0}, {0, 0, 1}, "Not Registed", "00000001", "(none)"},
        {15, {24, 3, 18}, {1, 0x87, 0x8A}, "24/03/18", "(none)", "100234 "},
        {18, {24, 3, 18}, {0, 1, 0}, "24/03/18", "(none)", "256 "},
        {17, {1, 2, 3}, {0, 0, 9}, "01/02/03", "00000009", "(none)"},
        {1, {4, 12, 25}, {0, 1, 0}, "UNKNOWN", "(none)", "(none)"},
        {8, {4, 12, 25}, {0, 1, 0}, "UNKNOWN", "(none)", "(none)"},
    };
    for (const auto& c : cases) {
        InfoSource s = source(c.modelClass);
        std::copy(c.date.begin(), c.date.end(), s.eeprom.begin() + 96);
        std::copy(c.serial.begin(), c.serial.end(), s.eeprom.begin() + 100);
        build(s);
        EXPECT_EQ(value(0, "Initial Use"), c.initialUse) << c.modelClass;
        EXPECT_EQ(value(0, "Serial Number"), c.serialNumber) << c.modelClass;
        EXPECT_EQ(value(0, "Serial No."), c.serialShort) << c.modelClass;
    }
}

TEST_F(InfoRows, FirmwareRowsNeedTheirExchange)
{
    InfoSource s = source(15, "ORBIX-4000");
    build(s);
    EXPECT_EQ(value(0, "Firmware Ver.(SDC)"), "(none)");
    EXPECT_EQ(value(0, "Product Revision"), "1.07");
    s.firmware = std::array<uint8_t, 12>{'1', '.', '0', '7', '0', '2', '1', '0', '0', '1', '0', '5'};
    s.vpd[0x5C] = 0xA1;
    s.vpd[0x22] = 0x04; // 64 MB
    build(s);
    EXPECT_EQ(value(0, "Firmware Ver.(SDC)"), "1.07");
    EXPECT_EQ(value(0, "Firmware Ver.(MDC)"), "0210");
    EXPECT_EQ(value(7, "Endorser Firmware Ver."), "0105");
    EXPECT_EQ(value(0, "Scanner Memory"), "64 MB");

    InfoSource sixteen = source(16, "SELVA-1610");
    build(sixteen);
    EXPECT_EQ(value(0, "Product Revision"), "(none)") << "left out without the firmware";
    sixteen.firmware = std::array<uint8_t, 12>{'7', 'A', '0', '1', '7', 'B', '0', '2', 'E', '0',
                                               '0', '3'};
    sixteen.vpd[0x62] = 2;
    build(sixteen);
    EXPECT_EQ(value(0, "Product Revision"), "7A01");
    EXPECT_EQ(value(9, "Currently connected interface"), "USB 2.0");
}

TEST_F(InfoRows, ImageProcessingOptionFromTheProductsLowercaseEnd)
{
    const struct {
        ModelClass modelClass;
        const char* product; // 16 characters on the wire
        uint8_t vpd59, vpd58;
        const char* expected;
    } cases[] = {
        {13, "KAVRO-13100 cdri", 0x20, 0, "Yes (IPC3/IPC3d)"},
        {13, "KAVRO-13100 cdri", 0x00, 0, "Yes (IPC2/IPC2d)"},
        {6, "ORBIX-6100 Xabci", 0x00, 0, "Yes (IPC4/IPC4d)"},
        {13, "KAVRO-13 cdri   ", 0x20, 0, "No"}, // padded: the last character is a blank
        {13, "KAVRO-1310Acdxy", 0x20, 0, "No"},   // no i among the lowercase end
        {18, "NOVIA-1810      ", 0x00, 0x40, "Yes (IPC4/IPC4d)"},
        {18, "NOVIA-1810      ", 0x00, 0x00, "No"},
    };
    for (const auto& c : cases) {
        InfoSource s = source(c.modelClass);
        std::memcpy(s.inquiry.data() + 16, c.product, std::strlen(c.product));
        s.vpd[0x59] = c.vpd59;
        s.vpd[0x58] = c.vpd58;
        build(s);
        EXPECT_EQ(value(5, "On Board IPC"), c.expected) << c.product;
    }
    InfoSource s = source(18);
    s.vpd[0x58] = 0x04;
    build(s);
    EXPECT_EQ(value(5, "Automatic Separation"), "No") << "class 18 needs 0x40 as well";
    s.vpd[0x58] = 0x44;
    build(s);
    EXPECT_EQ(value(5, "Automatic Separation"), "Yes");
    EXPECT_EQ(value(5, "Selective Edge Emphasis"), "Yes");
}

TEST_F(InfoRows, EndorserBufferAndSteps)
{
    InfoSource s = source(13);
    s.vpd[0x5C] = 0x1F;
    build(s);
    EXPECT_EQ(value(7, "Endorser"), "No");
    EXPECT_EQ(logic->groups()[7].entries.size(), 1u);
    s.vpd[0x5C] = 0x21;
    build(s);
    EXPECT_EQ(value(7, "Endorser"), "Yes");
    EXPECT_EQ(value(7, "Electrical Endorser"), "Yes");
    EXPECT_EQ(value(7, "Mechanical Endorser"), "No");
    EXPECT_EQ(value(7, "Maximum Endorser Identifiers"), "1 ");

    s.vpd[0x22] = 0x04;
    build(s);
    EXPECT_EQ(value(3, "Buffering Capability"), "64 MB");
    s.modelClass = 8;
    build(s);
    EXPECT_EQ(value(3, "Buffering Capability"), "65536 KB");
    s.modelClass = 13;
    s.vpd[0x22] = 0;
    s.vpd[0x23] = 0x0F; // under a megabyte
    build(s);
    EXPECT_EQ(value(3, "Buffering Capability"), "(none)");

    EXPECT_EQ(value(4, "Brightness Steps"), "Use LUT");
    EXPECT_EQ(value(4, "Threshold Steps"), "No");
    s.modelClass = 1;
    build(s);
    EXPECT_EQ(value(4, "Brightness Steps"), "No");
    s.vpd[0x52] = 255;
    s.vpd[0x56] = 0x42;
    build(s);
    EXPECT_EQ(value(4, "Brightness Steps"), "255 Steps");
    EXPECT_EQ(value(4, "Number Of Resident Dither"), "4 ");
    EXPECT_EQ(value(4, "Number Of Registable Dither"), "2 ");
}

TEST_F(InfoRows, CapabilityRecordOrVpd)
{
    InfoSource s = source(15, "ORBIX-4000");
    s.vpd[0x06] = 200;
    build(s);
    EXPECT_EQ(value(1, "Basic X Resolution"), "600 dpi") << "the record's resolutions";
    EXPECT_EQ(value(1, "Minimum Y Resolution"), "100 dpi");
    EXPECT_EQ(value(1, "Window Width"), "7016 pixel");
    EXPECT_EQ(value(1, "Max Paper Size"), "A3/Double Letter Size");
    EXPECT_EQ(value(9, "Interface"), "SCSI/USB");
    EXPECT_EQ(value(8, "Long Paper Scanning"), "Yes");

    InfoSource lumen = source(1, "LUMEN-1300");
    lumen.vpd[0x06] = 200;
    lumen.vpd[0x17] = 0x10;
    build(lumen);
    EXPECT_EQ(value(1, "Basic X Resolution"), "200 dpi");
    EXPECT_EQ(value(1, "Window Width"), "16 pixel");
    EXPECT_EQ(value(9, "Interface"), "SCSI-I/SCSI-II");

    InfoSource unknown = source(20, "TALVEN-S60");
    unknown.row = -1;
    build(unknown);
    EXPECT_EQ(value(1, "Max Paper Size"), "(none)");
    EXPECT_EQ(value(8, "Miscellaneous"), "UNKNOWN");
    EXPECT_EQ(logic->groups()[8].entries.size(), 1u);
    EXPECT_EQ(logic->groups().size(), 9u) << "no Interface group";

    InfoSource plano = source(7, "PLANO-7");
    build(plano);
    EXPECT_EQ(value(3, "Flatbed"), "Yes") << "the one model with a flatbed its VPD page hides";
}

TEST_F(InfoRows, HeadRowsExpandAndCollapseOneGroupAtATime)
{
    InfoSource s = source(13);
    s.vpd[0x5C] = 0x1F; // the Endorser group has its head alone
    build(s);
    ASSERT_EQ(logic->rows().size(), logic->groups().size()) << "all collapsed";
    EXPECT_EQ(logic->rows()[7].image, rowimage::kSingle);
    EXPECT_EQ(logic->rows()[3].image, rowimage::kCollapsed);

    ASSERT_TRUE(logic->click(3));
    const size_t physical = logic->groups()[3].entries.size();
    EXPECT_EQ(logic->rows().size(), logic->groups().size() + physical - 1);
    EXPECT_EQ(logic->rows()[3].image, rowimage::kExpanded);
    EXPECT_EQ(logic->rows()[4].image, rowimage::kMiddle);
    EXPECT_EQ(logic->rows()[3 + physical - 1].image, rowimage::kLast);
    EXPECT_EQ(logic->rows()[4].label, "Operator Panel");

    // The head of group 5 now sits below group 3's entries.
    const int head5 = static_cast<int>(5 + physical - 1);
    ASSERT_TRUE(logic->rows()[head5].head);
    ASSERT_TRUE(logic->click(head5));
    EXPECT_EQ(logic->groups()[3].display, GroupDisplay::Collapsed);
    EXPECT_EQ(logic->groups()[5].display, GroupDisplay::Expanded);
    EXPECT_EQ(logic->rows()[5].label, "On Board IPC");
    EXPECT_EQ(logic->rows()[6].label, "Reverse Image Format");

    EXPECT_FALSE(logic->click(6)) << "a click on an entry does nothing";
    EXPECT_FALSE(logic->click(static_cast<int>(logic->rows().size()))) << "below the last row";
    ASSERT_TRUE(logic->click(5));
    EXPECT_EQ(logic->groups()[5].display, GroupDisplay::Collapsed);
    EXPECT_EQ(logic->rows().size(), logic->groups().size());
    ASSERT_TRUE(logic->click(7));
    EXPECT_EQ(logic->groups()[7].display, GroupDisplay::Single) << "a single row stays";
    EXPECT_EQ(logic->scrollMaximum(5), static_cast<int>(logic->rows().size()) - 5);
    EXPECT_EQ(logic->scrollMaximum(100), 0);
}

TEST(DumpFile, NameKeepsOptionLettersAndDropsThePadding)
{
    const struct {
        const char* product;
        const char* name;
    } cases[] = {
        {"KAVRO-13 cdri   ", "KAVRO-13 cdri"},
        {"ORBIX-4000      ", "ORBIX-4000"},
        {"KAVRO-13100 cdri", "KAVRO-13100 cdri"},
        {"A               ", "A"},
        {"                ", " "}, // the first character always stays
    };
    for (const auto& c : cases) {
        std::array<uint8_t, kInquiryLength> inquiry{};
        std::memcpy(inquiry.data() + 16, c.product, 16);
        EXPECT_EQ(dumpName(inquiry), c.name) << c.product;
    }
}

TEST(DumpFile, LayoutAndPlace)
{
    lumarc::testing::SandboxEnvironment sandbox;
    ScannerData data;
    std::memcpy(data.inquiry.data() + 16, "ORBIX-4000      ", 16);
    data.inquiry[0] = 0x06;
    data.vpd[1] = 0xF0;
    EepromImage image{};
    image[0] = 0x11;
    image[510] = 0x22;
    EXPECT_FALSE(writeDumpFile(image, data)) << "the folder is never created";
    const auto folder = platform::windowsFolder() / "twain_32" / "orbscan32" / "DUMP";
    std::filesystem::create_directories(folder);
    const auto before = std::time(nullptr);
    ASSERT_TRUE(writeDumpFile(image, data));
    const auto bytes = platform::readWholeFile(folder / "EEPORBIX-4000.bin", 4096);
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), kDumpFileSize);
    const auto le32 = [&](size_t at) {
        uint32_t v = 0;
        std::memcpy(&v, bytes->data() + at, 4);
        return v;
    };
    EXPECT_GE(le32(0), static_cast<uint32_t>(before));
    EXPECT_EQ(le32(16), 511u);
    EXPECT_EQ(le32(48), 100u);
    EXPECT_EQ(static_cast<uint8_t>((*bytes)[256]), 0x11);
    EXPECT_EQ(static_cast<uint8_t>((*bytes)[256 + 510]), 0x22);
    EXPECT_EQ(static_cast<uint8_t>((*bytes)[1280]), 0x06);
    EXPECT_EQ(static_cast<uint8_t>((*bytes)[1537]), 0xF0);
    EXPECT_EQ((*bytes)[4], 0);
    EXPECT_EQ((*bytes)[1279], 0);
}

// The page's opening against the simulated ORBIX-4000.
TEST(InfoPage, OpeningReadsIdentificationEepromAndFirmware)
{
    lumarc::testing::SandboxEnvironment sandbox;
    std::filesystem::create_directories(platform::windowsFolder() / "twain_32" / "orbscan32" /
                                        "DUMP");
    Texts texts;
    FakeChannel channel(*unitsim::findScanner("ORBIX-4000"));
    FakeBoxes boxes;
    FakeAdmin admin;
    const ScannerIdentity identity = identify("VELORIN", "ORBIX-4000 on NET", "ORBIX-4000 on NET");
    ScannerData data;
    ScannerCommands commands(channel, identity.modelClass());
    DeviceSetLogic setPage(commands, identity, data, texts, boxes, admin);
    DeviceInfoLogic page(commands, identity, data, setPage, texts, boxes);
    ASSERT_TRUE(page.open());
    EXPECT_EQ(channel.opcodes(), (std::vector<uint8_t>{0x12, 0x12, 0x1D, 0x1C, 0xC2, 0x1D, 0x1C}));
    EXPECT_EQ(channel.texts(),
              (std::vector<std::string>{"DEBUG,E2T,RED  W", "GET FIRMVERSION "}));
    EXPECT_EQ(channel.commands[3].dataInLength, 511u);
    const auto rows = page.allRows();
    const auto find = [&](const std::string& label) {
        for (const auto& r : rows)
            if (r.label == label)
                return r.value;
        return std::string("(none)");
    };
    EXPECT_EQ(find("Product Identification"), "ORBIX-4000");
    EXPECT_EQ(find("Firmware Ver.(SDC)"), "1.07");
    EXPECT_EQ(find("Initial Use"), "24/03/18");
    EXPECT_EQ(find("Serial No."), "100234 ");
    EXPECT_EQ(find("Endorser"), "Yes");
    EXPECT_TRUE(std::filesystem::exists(platform::windowsFolder() / "twain_32" / "orbscan32" /
                                        "DUMP" / "EEPORBIX-4000.bin"));

    FakeChannel off;
    off.usableAnswer = false;
    ScannerCommands offCommands(off, 15);
    DeviceSetLogic offSet(offCommands, identity, data, texts, boxes, admin);
    DeviceInfoLogic offPage(offCommands, identity, data, offSet, texts, boxes);
    EXPECT_FALSE(offPage.open());
    EXPECT_TRUE(offPage.rows().empty());
    EXPECT_TRUE(off.commands.empty());
    EXPECT_EQ(boxes.shown.back().caption, "Attention");
}

} // namespace
} // namespace lumarc::infotool
