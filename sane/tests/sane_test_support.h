// What the backend's network tests share: a sandbox with a SANE
// configuration folder of its own, a simulated unit at 127.0.0.2, and the
// comparison of an image with the unit's test chart.
#pragma once

#include "platform/folders.h"
#include "platform/file_io.h"
#include "platform/tests/temp_folder.h"
#include "platform/unit_address.h"
#include "sane/options.h"
#include "shared/settings_file.h"
#include "unitsim/simulated_unit.h"

#include <gtest/gtest.h>

#include <sane/sane.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace lumarc::sane {

constexpr SANE_Int kResolutionOption = option::kResolution;

class UnitFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_config = m_sandbox.root() / "sane.d";
        std::filesystem::create_directories(m_config);
        std::ofstream(m_config / "dll.conf") << "lumarc\n";
        writeConfig("127.0.0.2\n");
        ::setenv("SANE_CONFIG_DIR", m_config.c_str(), 1);
        // The dll loader finds libsane-lumarc.so.1 beside the tests.
        ::setenv("LD_LIBRARY_PATH", platform::programFolder().c_str(), 1);
#ifdef LUMARC_SANITIZER_PRELOAD
        // For scanimage and saned only (this process has read its settings);
        // the leaks of those programs are not ours to report.
        ::setenv("LD_PRELOAD", LUMARC_SANITIZER_PRELOAD, 1);
        ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
#endif
        unitsim::UnitConfig config;
        config.address = *platform::resolveUnitAddress("127.0.0.2");
        config.scanner = unitsim::builtInScanners().front();
        auto unit = unitsim::SimulatedUnit::start(config);
        ASSERT_TRUE(unit) << unit.error().text;
        m_unit = std::move(*unit);
    }
    void TearDown() override { ::unsetenv("SANE_CONFIG_DIR"); }

    void writeConfig(const std::string& text) { std::ofstream(m_config / "lumarc.conf") << text; }
    void addSettingsUnit(const std::string& address)
    {
        ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
        shared::SettingsFile settings;
        ASSERT_TRUE(settings.writeNumber("Common", "Total", 1));
        ASSERT_TRUE(settings.write("1", "IP", address));
    }
    static std::string scannerModel() { return unitsim::builtInScanners().front().product; }
    // Replies come late, so that a page takes a while.
    void slowDown()
    {
        unitsim::TunnelFaults slow;
        slow.delay = std::chrono::milliseconds(30);
        m_unit->tunnel()->setFaults(slow);
    }

    // Pixels of image (as p describes it, scanned at dpi from the corner
    // left, top in 1/1200 inch) that differ from the chart; the size must match.
    static size_t differencesFromChart(const std::vector<uint8_t>& image, const SANE_Parameters& p,
                                       uint32_t dpi, uint32_t left, uint32_t top)
    {
        const bool grey = p.format == SANE_FRAME_GRAY;
        EXPECT_EQ(image.size(), static_cast<size_t>(p.bytes_per_line) * p.lines);
        if (image.size() != static_cast<size_t>(p.bytes_per_line) * p.lines)
            return image.size() + 1;
        size_t wrong = 0;
        for (int y = 0; y < p.lines; ++y) {
            for (int x = 0; x < p.pixels_per_line; ++x) {
                const auto rgb = unitsim::chartPixel(left + static_cast<uint32_t>(x) * 1200 / dpi,
                                                     top + static_cast<uint32_t>(y) * 1200 / dpi);
                const uint8_t* at = &image[static_cast<size_t>(y) * p.bytes_per_line +
                                           static_cast<size_t>(x) * (grey ? 1 : 3)];
                if (grey) {
                    wrong += at[0] != (rgb[0] * 30 + rgb[1] * 59 + rgb[2] * 11) / 100;
                } else {
                    wrong += at[0] != rgb[0] || at[1] != rgb[1] || at[2] != rgb[2];
                }
            }
        }
        return wrong;
    }

    lumarc::testing::SandboxEnvironment m_sandbox;
    std::filesystem::path m_config;
    std::unique_ptr<unitsim::SimulatedUnit> m_unit;
};

} // namespace lumarc::sane
