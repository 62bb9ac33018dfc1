// lumarc-scan against a simulated unit's scanner (inside the test namespace):
// the PNG it writes is decoded and compared with the test chart.
#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/tests/temp_folder.h"
#include "platform/unit_address.h"
#include "tools/scan_command.h"
#include "unitsim/simulated_unit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <png.h>
#include <csignal>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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
    void SetUp() override { startUnit(unitsim::builtInScanners().front()); }
    void startUnit(const unitsim::ScannerProfile& scanner)
    {
        m_unit.reset();
        unitsim::UnitConfig config;
        config.address = *platform::resolveUnitAddress("127.0.0.2");
        config.scanner = scanner;
        auto unit = unitsim::SimulatedUnit::start(config);
        ASSERT_TRUE(unit) << unit.error().text;
        m_unit = std::move(*unit);
    }
    // The files of the sandbox folder, to see that nothing half-written stays.
    std::vector<std::string> files()
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_sandbox.root()))
            if (entry.is_regular_file())
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool sentSetWindow()
    {
        for (const auto& r : m_unit->tunnel()->requests())
            if (r.header[24] == 0x24)
                return true;
        return false;
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
              kScanUnreachable);
    EXPECT_NE(errors.find("cannot reach the scanner of 127.0.0.9"), std::string::npos) << errors;
    EXPECT_EQ(scan({"-u", "127.0.0.2", "--area", "0,0,300,10"}, &errors), kScanUsage);
    EXPECT_EQ(scan({"-o", "x.png"}, &errors), kScanUsage) << "no unit";
    EXPECT_EQ(scan({"-u", "127.0.0.2", "-o", "/nonexistent/dir/x.png", "--quiet"}, &errors),
              kScanFailed);
    EXPECT_NE(errors.find("/nonexistent/dir/x.png"), std::string::npos) << errors;
}

TEST_F(Scan, RefusalTimeOutAndScannerErrorsAreToldApartAndKeepAnEarlierScan)
{
    const std::string file = (m_sandbox.root() / "scan.png").string();
    std::ofstream(file) << "an earlier scan";
    const auto unchanged = [&] {
        EXPECT_EQ(*platform::readWholeFile(file), "an earlier scan");
        EXPECT_EQ(files(), std::vector<std::string>{"scan.png"}) << "no partial file stays";
    };
    std::string errors;

    unitsim::TunnelFaults refuse;
    refuse.greetingCode = 1;
    m_unit->tunnel()->setFaults(refuse);
    EXPECT_EQ(scan({"-u", "127.0.0.2", "-o", file}, &errors), kScanRefused);
    EXPECT_NE(errors.find("refused the scanner connection"), std::string::npos) << errors;
    unchanged();

    unitsim::TunnelFaults failRead;
    failRead.failOpcode = 0x28;
    m_unit->tunnel()->setFaults(failRead);
    EXPECT_EQ(scan({"-u", "127.0.0.2", "-o", file, "-r", "50"}, &errors), kScanFailed);
    EXPECT_NE(errors.find("READ: scanner error, sense key 4 (hardware error), ASC 0x00"),
              std::string::npos)
        << errors;
    unchanged();

    ASSERT_TRUE(platform::ensureFolder(platform::windowsFolder()));
    ASSERT_TRUE(platform::Profile(platform::windowsFolder() / "DROVIK32.ini")
                    .writeString("TimeOut", "DataRecv", "1"));
    unitsim::TunnelFaults silent;
    silent.silent = true;
    m_unit->tunnel()->setFaults(silent);
    EXPECT_EQ(scan({"-u", "127.0.0.2", "-o", file}, &errors), kScanUnreachable);
    EXPECT_NE(errors.find("INQUIRY: no reply from the unit (time-out or connection lost)"),
              std::string::npos)
        << errors;
    unchanged();
}

TEST_F(Scan, WhatTheScannerCannotDoIsRefusedInItsTerms)
{
    const std::string file = (m_sandbox.root() / "x.png").string();
    std::string errors;
    EXPECT_EQ(scan({"-u", "127.0.0.2", "-o", file, "-r", "50", "--area", "0,0,10,10"}, &errors),
              kScanOk);
    EXPECT_NE(errors.find("Scanner: VELORIN ORBIX-4000 1.07 (50-600 dpi, colour and grey)"),
              std::string::npos)
        << errors;

    EXPECT_EQ(scan({"-u", "127.0.0.2", "-o", file, "-r", "1200"}, &errors), kScanFailed);
    EXPECT_NE(errors.find("the ORBIX-4000 scans at 50 to 600 dpi, not 1200"), std::string::npos)
        << errors;

    auto narrow = unitsim::builtInScanners().front();
    narrow.product = "NARROW-1";
    narrow.vpd.videoOutput = 0x0A; // black and white, grey
    narrow.vpd.windowWidth = 1240; // half the width of A4 at 300 dpi
    startUnit(narrow);
    EXPECT_EQ(scan({"-u", "127.0.0.2", "-o", file}, &errors), kScanFailed);
    EXPECT_NE(errors.find("the NARROW-1 does not scan in colour (--gray scans in grey)"),
              std::string::npos)
        << errors;
    EXPECT_EQ(scan({"-u", "127.0.0.2", "-o", file, "--gray"}, &errors), kScanFailed);
    EXPECT_NE(errors.find("the area reaches beyond the NARROW-1's largest window, 105 x 297 mm"),
              std::string::npos)
        << errors;
    EXPECT_FALSE(sentSetWindow()) << "refused before anything reached the scanner";
    EXPECT_EQ(scan({"-u", "127.0.0.2", "-o", file, "--gray", "--area", "0,0,105,297", "-r", "50"},
                   &errors),
              kScanOk)
        << errors;
}

TEST_F(Scan, OutputsAsLinuxUsersExpectThem)
{
    namespace fs = std::filesystem;
    const fs::path root = m_sandbox.root();
    const std::vector<std::string> small = {"-u", "127.0.0.2", "-r50", "--area=0,0,20,20", "-q"};
    const auto with = [&](std::vector<std::string> more) {
        auto args = small;
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    std::string errors;

    // A link is written through; the link stays.
    fs::create_directory(root / "real");
    fs::create_symlink("real/page.png", root / "link.png");
    ASSERT_EQ(scan(with({"--output=" + (root / "link.png").string()}), &errors), kScanOk) << errors;
    EXPECT_TRUE(fs::is_symlink(root / "link.png"));
    EXPECT_TRUE(readPng((root / "real" / "page.png").string(), false));

    // A FIFO is written into, never replaced by a file.
    ASSERT_EQ(::mkfifo((root / "pipe").c_str(), 0600), 0);
    std::string piped;
    std::thread reader([&] { piped = platform::readWholeFile(root / "pipe").valueOr(""); });
    EXPECT_EQ(scan(with({"-o", (root / "pipe").string()}), &errors), kScanOk) << errors;
    reader.join();
    EXPECT_TRUE(fs::is_fifo(root / "pipe"));
    EXPECT_EQ(piped.substr(1, 3), "PNG");

    // "-" is standard output.
    const int saved = ::dup(STDOUT_FILENO);
    const int file = ::open((root / "stdout.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, STDOUT_FILENO);
    const int code = scan(with({"-o", "-"}), &errors);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(file);
    EXPECT_EQ(code, kScanOk) << errors;
    EXPECT_TRUE(readPng((root / "stdout.bin").string(), false)) << "a PNG on standard output";
    EXPECT_FALSE(fs::exists(root / "-"));

    // A device stays a device.
    EXPECT_EQ(scan(with({"-o", "/dev/null"}), &errors), kScanOk) << errors;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    // Refused before anything is sent: another format, options that do not parse.
    const size_t requests = m_unit->tunnel()->requests().size();
    EXPECT_EQ(scan(with({"-o", "x.jpg"}), &errors), kScanUsage);
    EXPECT_NE(errors.find("writes PNG images; x.jpg names another format"), std::string::npos)
        << errors;
    EXPECT_EQ(scan({"-u", "127.0.0.2", "-r", "fifty"}, &errors), kScanUsage);
    EXPECT_EQ(scan({"-u", "127.0.0.2", "--no-such-option"}, &errors), kScanUsage);
    EXPECT_EQ(scan({"-u", "127.0.0.2", "-o"}, &errors), kScanUsage);
    EXPECT_NE(errors.find("needs a value"), std::string::npos) << errors;
    EXPECT_EQ(m_unit->tunnel()->requests().size(), requests);
    EXPECT_EQ(scan({"--version"}, &errors), kScanOk);
}

TEST_F(Scan, AnInterruptedScanLeavesNoPartialFile)
{
    // The unit answers slowly, so the signal comes in the middle of the page.
    unitsim::TunnelFaults slow;
    slow.delay = std::chrono::milliseconds(30);
    m_unit->tunnel()->setFaults(slow);
    const auto output = m_sandbox.root() / "scan.png";
    std::ofstream(output) << "an earlier scan";
    for (int signal : {SIGINT, SIGTERM}) {
        auto program = platform::Process::start(
            {(platform::programFolder() / "lumarc-scan").string(), "-u", "127.0.0.2", "-r", "300",
             "-q", "-o", output.string()});
        ASSERT_TRUE(program);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        ASSERT_TRUE(program->terminate(signal));
        EXPECT_EQ(program->wait(std::chrono::seconds(10)), std::optional<int>(128 + signal));
        EXPECT_EQ(files(), std::vector<std::string>{"scan.png"}) << "signal " << signal;
        EXPECT_EQ(*platform::readWholeFile(output), "an earlier scan");
    }
}

} // namespace
} // namespace lumarc::tools
