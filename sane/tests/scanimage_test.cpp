// Debian's scanimage reaching the backend through the SANE dll loader, with
// a configuration folder of the test's own (inside the test namespace): the
// images it writes are compared with the simulated unit's test chart.
#include "sane_test_support.h"

#include "platform/process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

namespace lumarc::sane {
namespace {

using namespace std::chrono_literals;

struct Pnm {
    SANE_Parameters p{};
    std::vector<uint8_t> data;
};

// A binary PNM as scanimage writes it (P6 colour, P5 grey; comments after
// the magic).
std::optional<Pnm> parsePnm(const std::string& text)
{
    std::istringstream in(text);
    std::string magic;
    in >> magic;
    if (magic != "P6" && magic != "P5")
        return std::nullopt;
    const auto number = [&]() {
        in >> std::ws;
        while (in.peek() == '#') {
            std::string comment;
            std::getline(in, comment);
            in >> std::ws;
        }
        int value = -1;
        in >> value;
        return value;
    };
    Pnm pnm;
    pnm.p.format = magic == "P6" ? SANE_FRAME_RGB : SANE_FRAME_GRAY;
    pnm.p.pixels_per_line = number();
    pnm.p.lines = number();
    if (number() != 255 || pnm.p.pixels_per_line <= 0 || pnm.p.lines <= 0)
        return std::nullopt;
    in.get(); // the one blank before the samples
    pnm.p.bytes_per_line = pnm.p.pixels_per_line * (magic == "P6" ? 3 : 1);
    pnm.data.assign(std::istreambuf_iterator<char>(in), {});
    return pnm;
}

// The simulated scanner's largest window: 2480 x 3507 pixels at 300 dpi.
constexpr uint32_t kWindowWidth = 2480 * 4, kWindowLength = 3507 * 4;

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

uint32_t units(double mm)
{
    return static_cast<uint32_t>(mm * 1200 / 25.4 + 0.5);
}

class ScanImage : public UnitFixture {
protected:
    void SetUp() override
    {
#ifdef LUMARC_DIRECT_TESTS_ONLY
        GTEST_SKIP() << "scanimage and saned are not built with the thread sanitizer";
#endif
        UnitFixture::SetUp();
    }
    struct Outcome {
        std::optional<int> code;
        std::string out, err;
    };
    // scanimage with args (words for the shell), its output and messages;
    // environment: assignments put before it.
    Outcome run(const std::string& args, const std::string& environment = {})
    {
        const auto out = m_sandbox.root() / "out", err = m_sandbox.root() / "err";
        auto program = platform::Process::start(
            {"sh", "-c", environment + " exec scanimage " + args + " >'" + out.string() + "' 2>'" +
                             err.string() + "'"});
        EXPECT_TRUE(program);
        if (!program)
            return {};
        Outcome o;
        o.code = program->wait(120s);
        o.out = readFile(out);
        o.err = readFile(err);
        return o;
    }
    bool readsSeen()
    {
        for (const auto& r : m_unit->tunnel()->requests())
            if (r.header[24] == 0x28 && r.header[31] != 0)
                return true;
        return false;
    }
    std::optional<platform::Process> startSlowScan(const std::string& output)
    {
        auto program = platform::Process::start({"scanimage", "-d", "lumarc:127.0.0.2",
                                                 "--resolution", "300", "--format=pnm", "-o",
                                                 output});
        EXPECT_TRUE(program);
        for (int i = 0; i < 200 && !readsSeen(); ++i)
            std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(readsSeen()) << "the scan did not begin";
        if (!program)
            return std::nullopt;
        return std::move(*program);
    }
};

TEST_F(ScanImage, ListsTheUnitAndShowsTheScannersRanges)
{
    const Outcome list = run("-L");
    EXPECT_EQ(list.code, 0) << list.err;
    EXPECT_NE(list.out.find("device `lumarc:127.0.0.2' is a "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find(scannerModel()), std::string::npos) << list.out;

    const Outcome options = run("-d lumarc:127.0.0.2 -A");
    EXPECT_EQ(options.code, 0) << options.err;
    for (const char* shown : {"--mode Color|Gray [Color]", "--resolution 50..600dpi",
                              "--preview[=(yes|no)] [no]", "-l 0..209.9", "-y 0..296.9"})
        EXPECT_NE(options.out.find(shown), std::string::npos) << shown << "\n" << options.out;
}

TEST_F(ScanImage, APageInColourAndAnAreaInGreyAreTheTestChart)
{
    const Outcome page = run("-d lumarc:127.0.0.2 --resolution 150 --format=pnm");
    ASSERT_EQ(page.code, 0) << page.err;
    const auto colour = parsePnm(page.out);
    ASSERT_TRUE(colour);
    EXPECT_EQ(colour->p.pixels_per_line, static_cast<int>(kWindowWidth * 150 / 1200));
    EXPECT_EQ(colour->p.lines, static_cast<int>(kWindowLength * 150 / 1200));
    EXPECT_EQ(differencesFromChart(colour->data, colour->p, 150, 0, 0), 0u);

    const Outcome area = run("-d lumarc:127.0.0.2 --mode Gray --resolution 300 "
                             "-l 10 -t 20 -x 50 -y 40 --format=pnm");
    ASSERT_EQ(area.code, 0) << area.err;
    const auto grey = parsePnm(area.out);
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey->p.format, SANE_FRAME_GRAY);
    EXPECT_EQ(grey->p.pixels_per_line, static_cast<int>((units(60) - units(10)) * 300 / 1200));
    EXPECT_EQ(grey->p.lines, static_cast<int>((units(60) - units(20)) * 300 / 1200));
    EXPECT_EQ(differencesFromChart(grey->data, grey->p, 300, units(10), units(20)), 0u);
}

TEST_F(ScanImage, ValuesBeyondTheScannerAreAdjustedNotSent)
{
    const Outcome o = run("-d lumarc:127.0.0.2 --resolution 2400 -l 100 -x 500 -t 280 -y 90 "
                          "--format=pnm");
    ASSERT_EQ(o.code, 0) << o.err;
    const auto image = parsePnm(o.out);
    ASSERT_TRUE(image);
    // 600 dpi, up to the right and bottom edges of the scanner's window.
    EXPECT_EQ(image->p.pixels_per_line, static_cast<int>((kWindowWidth - units(100)) / 2));
    EXPECT_EQ(image->p.lines, static_cast<int>((kWindowLength - units(280)) / 2));
    EXPECT_EQ(differencesFromChart(image->data, image->p, 600, units(100), units(280)), 0u);
}

TEST_F(ScanImage, AnInterruptedPageLeavesTheUnitReadyForTheNext)
{
    slowDown();
    auto first = startSlowScan((m_sandbox.root() / "first.pnm").string());
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->terminate(SIGINT));
    const auto code = first->wait(20s);
    ASSERT_TRUE(code) << "scanimage did not end after SIGINT";
    EXPECT_LT(*code, 128) << "it ended by itself, not by the signal";

    m_unit->tunnel()->setFaults({});
    const Outcome next = run("-d lumarc:127.0.0.2 --resolution 75 --format=pnm");
    ASSERT_EQ(next.code, 0) << next.err;
    const auto image = parsePnm(next.out);
    ASSERT_TRUE(image);
    EXPECT_EQ(differencesFromChart(image->data, image->p, 75, 0, 0), 0u);
}

TEST_F(ScanImage, ATunnelClosedMidPageIsAnIoError)
{
    // The reply to the page's first READ breaks off after 100000 bytes.
    unitsim::TunnelFaults cut;
    cut.closeAfter = 100000;
    m_unit->tunnel()->setFaults(cut);
    const Outcome o = run("-d lumarc:127.0.0.2 --resolution 300 --format=pnm");
    ASSERT_TRUE(o.code);
    EXPECT_NE(*o.code, 0);
    EXPECT_LT(*o.code, 128) << "no crash: " << o.err;
    EXPECT_NE(o.err.find("Error during device I/O"), std::string::npos) << o.err;
}

TEST_F(ScanImage, ASecondProgramIsToldTheUnitIsBusyAndTheFirstImageIsWhole)
{
    slowDown();
    const auto output = m_sandbox.root() / "first.pnm";
    auto first = startSlowScan(output.string());
    ASSERT_TRUE(first);
    const Outcome second = run("-d lumarc:127.0.0.2 --resolution 75 --format=pnm");
    EXPECT_NE(second.code, 0);
    EXPECT_NE(second.err.find("Device busy"), std::string::npos) << second.err;
    ASSERT_EQ(first->wait(120s), 0);
    const auto image = parsePnm(readFile(output));
    ASSERT_TRUE(image);
    EXPECT_EQ(differencesFromChart(image->data, image->p, 300, 0, 0), 0u);
}

TEST_F(ScanImage, ThroughSanedAndTheNetBackendOnLoopback)
{
    // saned serves the unit with this test's configuration; scanimage on
    // the same machine reaches it through the net backend.
    std::ofstream(m_config / "saned.conf") << "127.0.0.1\n";
    const auto client = m_sandbox.root() / "client.d";
    std::filesystem::create_directories(client);
    std::ofstream(client / "dll.conf") << "net\n";
    std::ofstream(client / "net.conf") << "connect_timeout = 10\n127.0.0.1\n";
    // In a process group of its own, so that the children it forks for
    // connections end with it.
    auto saned = platform::Process::start(
        {"setsid", "saned", "--listen", "--once", "-e", "-b", "127.0.0.1", "-d", "1"});
    ASSERT_TRUE(saned);
    Outcome o;
    for (int attempt = 0; attempt < 20; ++attempt) { // until saned listens
        o = run("-d net:127.0.0.1:lumarc:127.0.0.2 --resolution 75 --format=pnm",
                "SANE_CONFIG_DIR='" + client.string() + "'");
        if (o.code == 0)
            break;
        std::cerr << "attempt " << attempt << ": " << o.err << "\n";
        std::this_thread::sleep_for(100ms);
    }
    // It ends after its one client; whatever of it is left is ended.
    saned->wait(10s);
    ::kill(-saned->pid(), SIGKILL);
    saned->wait(10s);
    ASSERT_EQ(o.code, 0) << o.err;
    const auto image = parsePnm(o.out);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->p.pixels_per_line, static_cast<int>(kWindowWidth * 75 / 1200));
    EXPECT_EQ(differencesFromChart(image->data, image->p, 75, 0, 0), 0u);
}

} // namespace
} // namespace lumarc::sane
