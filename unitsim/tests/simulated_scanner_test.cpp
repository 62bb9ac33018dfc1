// The simulated scanner's commands, without a network.
#include "unitsim/simulated_scanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

namespace lumarc::unitsim {
namespace {

std::vector<uint8_t> text16(const char* command, const std::vector<uint8_t>& extra = {})
{
    std::vector<uint8_t> payload(16 + extra.size());
    std::memcpy(payload.data(), command, 16);
    std::copy(extra.begin(), extra.end(), payload.begin() + 16);
    return payload;
}

class Scanner : public ::testing::Test {
protected:
    ScsiResult run(std::vector<uint8_t> cdb, std::vector<uint8_t> out = {}, size_t in = 0)
    {
        return m_scanner.execute(cdb, out, in);
    }
    SimulatedScanner m_scanner{builtInScanners().front()};
};

TEST_F(Scanner, IdentifiesItselfInStandardAndVitalProductData)
{
    const auto standard = run({0x12, 0, 0, 0, 96, 0}, {}, 96);
    EXPECT_EQ(standard.status, 0);
    EXPECT_EQ(standard.dataIn[0], 0x06) << "a scanner";
    EXPECT_EQ(std::string(standard.dataIn.begin() + 8, standard.dataIn.begin() + 16), "VELORIN ");
    const auto vpd = run({0x12, 1, 0xF0, 0, 100, 0}, {}, 100);
    EXPECT_EQ(vpd.status, 0);
    EXPECT_EQ(vpd.dataIn[1], 0xF0);
    EXPECT_EQ(run({0x12, 1, 0x80, 0, 100, 0}, {}, 100).status, 2) << "an unknown page";
}

TEST_F(Scanner, EepromIsReadWrittenAndCommittedThroughDiagnostics)
{
    ASSERT_EQ(run({0x1D, 0, 0, 0, 22, 0}, text16("DEBUG,E2T,WRT   ", {5, 3, 0xAA, 0xBB, 0xCC})).status,
              0);
    EXPECT_EQ(m_scanner.eepromWorking()[6], 0xBB);
    EXPECT_NE(m_scanner.eeprom()[6], 0xBB) << "not permanent before the commit";
    ASSERT_EQ(run({0x1D, 0, 0, 0, 16, 0}, text16("DEBUG,E2T,RED   ")).status, 0);
    const auto image = run({0x1C, 0, 0, 0, 127, 0}, {}, 127);
    EXPECT_EQ(image.dataIn[7], 0xCC);
    ASSERT_EQ(run({0x1D, 0, 0, 0, 16, 0}, text16("DEBUG,E2P,WRT   ")).status, 0);
    EXPECT_EQ(m_scanner.eeprom()[5], 0xAA);

    // The wide forms: two-byte offset and length, 511 bytes read back.
    ASSERT_EQ(run({0x1D, 0, 0, 0, 22, 0}, text16("DEBUG,E2T,WRT  W", {0x01, 0x2C, 0, 6, 7, 8})).status,
              0);
    ASSERT_EQ(run({0x1D, 0, 0, 0, 16, 0}, text16("DEBUG,E2T,RED  W")).status, 0);
    const auto wide = run({0x1C, 0, 0, 0x01, 0xFF, 0}, {}, 511);
    EXPECT_EQ(wide.dataIn[300], 7);
    EXPECT_EQ(wide.dataIn[301], 8);
    EXPECT_EQ(run({0x1D, 0, 0, 0, 22, 0}, text16("DEBUG,E2T,WRT  W", {0x01, 0xFF, 0, 6, 7, 8})).status,
              2)
        << "a write past the image is refused";
    EXPECT_EQ(run({0x1D, 0, 0, 0, 16, 0}, text16("DEBUG,NONSENSE  ")).status, 2);
}

TEST_F(Scanner, FirmwareInkModePagesBlockAndHardwareStatus)
{
    ASSERT_EQ(run({0x1D, 0, 0, 0, 16, 0}, text16("GET FIRMVERSION ")).status, 0);
    const auto versions = run({0x1C, 0, 0, 0, 12, 0}, {}, 12);
    EXPECT_EQ(std::string(versions.dataIn.begin(), versions.dataIn.end()), "1.0702100105");

    EXPECT_EQ(run({0xC2, 0, 0, 0, 0, 0, 0, 0, 12, 0}, {}, 12).dataIn[10], 64);
    ASSERT_EQ(run({0x1D, 0, 0, 0, 16, 0}, text16("CLEAR INK-LIFE  ")).status, 0);
    EXPECT_EQ(run({0xC2, 0, 0, 0, 0, 0, 0, 0, 12, 0}, {}, 12).dataIn[10], 100);

    ASSERT_EQ(run({0x15, 0x10, 0, 0, 12, 0}, {0, 0, 0, 0, 0x34, 6, 0x8B, 0, 0, 0, 0, 0}).status, 0);
    EXPECT_EQ(run({0x1A, 0x08, 0x34, 0, 12, 0}, {}, 12).dataIn[6], 0x8B);
    ASSERT_EQ(run({0x15, 0x10, 0, 0, 12, 0}, {0, 0, 0, 0, 0x3D, 6, 20, 0, 0, 0, 0, 0}).status, 0);
    EXPECT_EQ(m_scanner.lampTimer(), 20);

    std::vector<uint8_t> block(128, 0x42);
    ASSERT_EQ(run({0x2A, 0, 0x85, 0, 0, 0, 0, 0, 0x80, 0}, block).status, 0);
    EXPECT_EQ(run({0x28, 0, 0x69, 0, 0x0A, 0x0D, 0, 0, 0x80, 0}, {}, 128).dataIn, block);
}

TEST_F(Scanner, UnknownCommandsEndInCheckConditionThatRequestSenseReports)
{
    const auto unknown = run({0xEE, 0, 0, 0, 0, 0});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.sense[0], 0x70);
    EXPECT_EQ(unknown.sense[2], 0x05);
    EXPECT_EQ(unknown.sense[12], 0x20);
    const auto sense = run({0x03, 0, 0, 0, 18, 0}, {}, 18);
    EXPECT_EQ(sense.status, 0);
    EXPECT_EQ(sense.dataIn[2], 0x05);
    EXPECT_EQ(sense.dataIn[12], 0x20);
    EXPECT_EQ(run({0x03, 0, 0, 0, 18, 0}, {}, 18).dataIn[2], 0) << "reported once";
    EXPECT_EQ(run({0x00, 0, 0, 0, 0, 0}).status, 0) << "TEST UNIT READY";
}

TEST_F(Scanner, ScanningReturnsTheChartAndEndsThePageWithItsResidue)
{
    ScanWindow window;
    window.xResolution = window.yResolution = 100;
    window.width = 1200; // one inch: 100 pixels
    window.length = 24;  // two lines
    ASSERT_EQ(run({0x28, 0, 0, 0, 0, 0, 0, 1, 0, 0}, {}, 256).status, 2) << "no SCAN yet";
    ASSERT_EQ(run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, encodeWindow(window)).status, 0);
    ASSERT_EQ(run({0x1B, 0, 0, 0, 0, 0}).status, 0);
    const auto first = run({0x28, 0, 0, 0, 0, 0, 0, 1, 0x2C, 0}, {}, 300);
    EXPECT_EQ(first.status, 0);
    ASSERT_EQ(first.dataInSize(), 300u);
    EXPECT_EQ(first.dataInBytes()[0], 0) << "the grid line at the corner is black";
    const auto rest = run({0x28, 0, 0, 0, 0, 0, 0, 2, 0, 0}, {}, 512);
    EXPECT_EQ(rest.status, 2) << "the end of the page";
    EXPECT_EQ(rest.sense[2] & 0x40, 0x40) << "end of medium";
    const uint32_t residue = static_cast<uint32_t>(rest.sense[3] << 24 | rest.sense[4] << 16 |
                                                   rest.sense[5] << 8 | rest.sense[6]);
    EXPECT_EQ(residue, 512u - 300u);

    window.width = 20000;
    EXPECT_EQ(run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, encodeWindow(window)).status, 2)
        << "a window beyond the page is refused";
    window.width = 1200;
    window.left = 0xFFFFFF00; // left + width wraps round to a small number
    EXPECT_EQ(run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, encodeWindow(window)).status, 2)
        << "a window whose edges wrap round is refused";
    window.left = 0;
    window.top = 0xFFFFFFF0;
    EXPECT_EQ(run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, encodeWindow(window)).status, 2);
}

// The chart colour a byte of a colour window's image should have.
uint8_t expectedByte(const ScanWindow& w, uint64_t offset)
{
    const uint64_t line = offset / w.bytesPerLine();
    const uint64_t pixel = offset % w.bytesPerLine() / 3;
    const auto x = static_cast<uint32_t>(w.left + pixel * kChartUnits / w.xResolution);
    const auto y = static_cast<uint32_t>(w.top + line * kChartUnits / w.yResolution);
    return chartPixel(x, y)[offset % 3];
}

TEST(Chart, RowsOfOneKindAreAlike)
{
    std::array<std::optional<uint32_t>, kChartRowKinds> first;
    for (uint32_t y = 0; y < kA4Length; ++y) {
        const size_t kind = chartRowKind(y);
        ASSERT_LT(kind, kChartRowKinds);
        if (!first[kind]) {
            first[kind] = y;
            continue;
        }
        for (uint32_t x = 0; x < kA4Width; x += 31)
            ASSERT_EQ(chartPixel(x, y), chartPixel(x, *first[kind])) << x << "," << y;
    }
}

TEST_F(Scanner, ImageDataOutliveTheWindowTheyCameFrom)
{
    ScanWindow window;
    window.xResolution = window.yResolution = 150;
    ASSERT_EQ(run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, encodeWindow(window)).status, 0);
    ASSERT_EQ(run({0x1B, 0, 0, 0, 0, 0}).status, 0);
    const auto held = run({0x28, 0, 0, 0, 0, 0, 0x08, 0, 0, 0}, {}, 0x80000);
    const auto copy = held.dataInBytes();
    ASSERT_EQ(copy.size(), 0x80000u);
    for (const uint64_t at : std::initializer_list<uint64_t>{0, 1, 5000, 0x7FFFF})
        EXPECT_EQ(copy[at], expectedByte(window, at)) << at;

    // Another window: a new page, while the held reply keeps its bytes.
    ScanWindow other = window;
    other.left = 1200;
    other.width = 2400;
    ASSERT_EQ(run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, encodeWindow(other)).status, 0);
    ASSERT_EQ(run({0x1B, 0, 0, 0, 0, 0}).status, 0);
    const auto fresh = run({0x28, 0, 0, 0, 0, 0, 0x08, 0, 0, 0}, {}, 0x80000).dataInBytes();
    for (const uint64_t at : std::initializer_list<uint64_t>{0, 1, 5000, 0x7FFFF})
        EXPECT_EQ(fresh[at], expectedByte(other, at)) << at;
    EXPECT_EQ(held.dataInBytes(), copy);

    // The first window again: its page starts over from the top.
    ASSERT_EQ(run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, encodeWindow(window)).status, 0);
    ASSERT_EQ(run({0x1B, 0, 0, 0, 0, 0}).status, 0);
    EXPECT_EQ(run({0x28, 0, 0, 0, 0, 0, 0x08, 0, 0, 0}, {}, 0x80000).dataInBytes(), copy);
}

TEST_F(Scanner, APageTooLargeToKeepIsRenderedReadByRead)
{
    ScanWindow window;
    window.xResolution = window.yResolution = 600; // 104 MB in colour
    ASSERT_GT(uint64_t{window.bytesPerLine()} * window.lines(), kPageCacheLimit);
    ASSERT_EQ(run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, encodeWindow(window)).status, 0);
    ASSERT_EQ(run({0x1B, 0, 0, 0, 0, 0}).status, 0);
    const auto first = run({0x28, 0, 0, 0, 0, 0, 0x08, 0, 0, 0}, {}, 0x80000);
    const auto copy = first.dataInBytes();
    const auto second = run({0x28, 0, 0, 0, 0, 0, 0x08, 0, 0, 0}, {}, 0x80000).dataInBytes();
    ASSERT_EQ(second.size(), 0x80000u);
    EXPECT_EQ(first.dataInBytes(), copy) << "a held reply is not overwritten by the next read";
    const uint64_t line = window.bytesPerLine();
    for (const uint64_t at : std::initializer_list<uint64_t>{0, line - 1, line, 0x7FFFF})
        EXPECT_EQ(copy[at], expectedByte(window, at)) << at;
    for (const uint64_t at : std::initializer_list<uint64_t>{0, line - 1, 0x7FFFF})
        EXPECT_EQ(second[at], expectedByte(window, 0x80000 + at)) << at;
}

} // namespace
} // namespace lumarc::unitsim
