// lumarc-scan against a simulated unit's scanner (inside the test namespace):
// the PNG it writes is decoded and compared with the test chart.
#include "platform/tests/temp_folder.h"
#include "platform/unit_address.h"
#include "tools/scan_command.h"
#include "unitsim/simulated_unit.h"

#include <gtest/gtest.h>

#include <png.h>
#include <sstream>

namespace lumarc::tools {
namespace {

struct Image {
    uint32_t width = 0, height = 0, channels = 0;
    std::vector<uint8_t> pixels;
};

std::optional<Image> readPng(const std::string& path, bool gray)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return std::nullopt;
    image.format = gray ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    Image out;
    out.width = image.width;
    out.height = image.height;
    out.channels = gray ? 1 : 3;
    out.pixels.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr))
        return std::nullopt;
    return out;
}

class Scan : public ::testing::Test {
protected:
    void SetUp() override
    {
        unitsim::UnitConfig config;
        config.address = *platform::resolveUnitAddress("127.0.0.2");
        auto unit = unitsim::SimulatedUnit::start(config);
        ASSERT_TRUE(unit) << unit.error().text;
        m_unit = std::move(*unit);
    }
    int scan(std::vector<std::string> args, std::string* errors = nullptr)
    {
        std::ostringstream out, err;
        const int code = runScan(args, out, err);
        if (errors != nullptr)
            *errors = err.str();
        return code;
    }
    lumarc::testing::SandboxEnvironment m_sandbox;
    std::unique_ptr<unitsim::SimulatedUnit> m_unit;
};

TEST_F(Scan, AWholePageIsTheTestChart)
{
    const std::string file = (m_sandbox.root() / "page.png").string();
    ASSERT_EQ(scan({"-u", "127.0.0.2", "-o", file, "-r", "75", "--quiet"}), kScanOk);
    const auto image = readPng(file, false);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 9921u * 75 / 1200);
    EXPECT_EQ(image->height, 14031u * 75 / 1200);
    size_t wrong = 0;
    for (uint32_t y = 0; y < image->height; y += 7) {
        for (uint32_t x = 0; x < image->width; x += 5) {
            const auto expected = unitsim::chartPixel(x * 1200 / 75, y * 1200 / 75);
            const uint8_t* p = &image->pixels[(static_cast<size_t>(y) * image->width + x) * 3];
            if (p[0] != expected[0] || p[1] != expected[1] || p[2] != expected[2])
                ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0u);
}

TEST_F(Scan, AnAreaInGreyAtAnotherResolution)
{
    const std::string file = (m_sandbox.root() / "area.png").string();
    ASSERT_EQ(scan({"-u", "127.0.0.2", "-o", file, "-r", "150", "--area", "10,20,50,40", "--gray",
                    "--quiet"}),
              kScanOk);
    const auto image = readPng(file, true);
    ASSERT_TRUE(image);
    const uint32_t left = static_cast<uint32_t>(10 * 1200 / 25.4 + 0.5);
    const uint32_t top = static_cast<uint32_t>(20 * 1200 / 25.4 + 0.5);
    EXPECT_EQ(image->width, static_cast<uint32_t>(50 * 1200 / 25.4 + 0.5) * 150 / 1200);
    for (uint32_t y = 0; y < image->height; y += 3) {
        for (uint32_t x = 0; x < image->width; x += 3) {
            const auto rgb = unitsim::chartPixel(left + x * 1200 / 150, top + y * 1200 / 150);
            const auto grey = static_cast<uint8_t>((rgb[0] * 30 + rgb[1] * 59 + rgb[2] * 11) / 100);
            ASSERT_EQ(image->pixels[static_cast<size_t>(y) * image->width + x], grey)
                << x << "," << y;
        }
    }
}

TEST_F(Scan, FailuresSayWhatWentWrong)
{
    std::string errors;
    EXPECT_EQ(scan({"-u", "127.0.0.9", "-o", (m_sandbox.root() / "x.png").string()}, &errors),
              kScanFailed);
    EXPECT_NE(errors.find("cannot reach the scanner of 127.0.0.9"), std::string::npos) << errors;
    EXPECT_EQ(scan({"-u", "127.0.0.2", "--area", "0,0,300,10"}, &errors), kScanUsage);
    EXPECT_EQ(scan({"-o", "x.png"}, &errors), kScanUsage) << "no unit";
    EXPECT_EQ(scan({"-u", "127.0.0.2", "-o", "/nonexistent/dir/x.png", "--quiet"}, &errors),
              kScanFailed);
    EXPECT_NE(errors.find("/nonexistent/dir/x.png"), std::string::npos) << errors;
}

} // namespace
} // namespace lumarc::tools
