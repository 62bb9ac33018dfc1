// Scanner profiles: the VPD page layout, profile files, and a simulated
// scanner that answers as its profile describes.
#include "unitsim/scanner_profiles.h"
#include "unitsim/simulated_scanner.h"

#include "platform/error_codes.h"
#include "platform/profile.h"
#include "platform/tests/temp_folder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace lumarc::unitsim {
namespace {

uint32_t be(const std::array<uint8_t, kVpdF0Size>& page, size_t at, size_t width)
{
    uint32_t v = 0;
    for (size_t i = 0; i < width; ++i)
        v = v << 8 | page[at + i];
    return v;
}

TEST(VpdPage, EveryFieldLandsAtItsOffset)
{
    VpdFacts f;
    f.basicX = 0x0101;
    f.basicY = 0x0202;
    f.maximumX = 0x0303;
    f.maximumY = 0x0404;
    f.minimumX = 0x0505;
    f.minimumY = 0x0606;
    f.windowWidth = 0x11223344;
    f.windowLength = 0x55667788;
    f.videoOutput = 0xE2;
    f.physicalFunction = 0x9201;
    f.bufferSize = 0x04000000;
    f.brightnessSteps = 0x52;
    f.thresholdSteps = 0x53;
    f.contrastSteps = 0x54;
    f.dither = 0x56;
    f.gamma = 0x57;
    f.imageProcessing = 0x5859;
    f.compression = 0x5A5B;
    f.endorser = 0x21;
    const auto page = encodeVpdF0(f);
    EXPECT_EQ(page[0], 0x06);
    EXPECT_EQ(page[1], 0xF0);
    EXPECT_EQ(page[3], kVpdF0Size - 4);
    EXPECT_EQ(be(page, 0x05, 2), 0x0101u);
    EXPECT_EQ(be(page, 0x07, 2), 0x0202u);
    EXPECT_EQ(be(page, 0x0A, 2), 0x0303u);
    EXPECT_EQ(be(page, 0x0C, 2), 0x0404u);
    EXPECT_EQ(be(page, 0x0E, 2), 0x0505u);
    EXPECT_EQ(be(page, 0x10, 2), 0x0606u);
    EXPECT_EQ(be(page, 0x14, 4), 0x11223344u);
    EXPECT_EQ(be(page, 0x18, 4), 0x55667788u);
    EXPECT_EQ(page[0x1C], 0xE2);
    EXPECT_EQ(page[0x20], 0x92) << "the function bits are in the first byte";
    EXPECT_EQ(be(page, 0x22, 4), 0x04000000u) << "64 MB";
    for (size_t at : {0x52, 0x53, 0x54, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B})
        EXPECT_EQ(page[at], at) << "byte 0x" << std::hex << at;
    EXPECT_EQ(page[0x5C], 0x21);
    // Nothing else is set: the bytes between the fields stay zero.
    size_t set = 0;
    for (uint8_t b : page)
        set += b != 0 ? 1 : 0;
    EXPECT_EQ(set, 3u + 12u + 8u + 1u + 2u + 1u + 9u + 1u);
}

TEST(BuiltInScanners, DifferInWhatAHostCanSee)
{
    const auto& all = builtInScanners();
    ASSERT_EQ(all.size(), 17u);
    for (const auto& p : all) {
        EXPECT_EQ(p.firmware.size(), kFirmwareSize) << p.model;
        EXPECT_LE(p.vendor.size(), 8u);
        EXPECT_LE(p.product.size(), 16u);
        EXPECT_EQ(p.revision.size(), 4u);
        EXPECT_LE(p.vpd.minimumX, 300) << "every one scans at 300 dpi";
        EXPECT_GE(p.vpd.maximumX, 300);
    }
    EXPECT_NE(all[0].vpd.endorser, all[1].vpd.endorser);
    EXPECT_NE(all[0].eeprom, all[1].eeprom);
    EXPECT_EQ(findScanner("orbix-2200")->vpd.maximumX, 1200) << "names compare without case";
    EXPECT_FALSE(findScanner("ORBIX-9999"));

    const auto image = makeEeprom({4, 12, 25}, 256);
    EXPECT_EQ(image[96], 4);
    EXPECT_EQ(image[97], 12);
    EXPECT_EQ(image[98], 25);
    EXPECT_EQ(image[100], 0);
    EXPECT_EQ(image[101], 1);
    EXPECT_EQ(image[102], 0);
}

class ProfileFile : public ::testing::Test {
protected:
    std::string write(const std::string& text, const std::string& name = "scanner.ini")
    {
        std::ofstream(m_folder / name, std::ios::binary) << text;
        return (m_folder / name).string();
    }
    lumarc::testing::TempFolder m_folder;
};

TEST_F(ProfileFile, DescribesEveryPartOfTheScanner)
{
    std::ofstream(m_folder / "image.bin", std::ios::binary) << std::string(4, '\x5A');
    const auto path = write("[Scanner]\n"
                            "Product=KESTREL-9\n"
                            "Vendor=KESTREL\n"
                            "Revision=3.10\n"
                            "Firmware=3100AB02EN07\n"
                            "Ink=12\n"
                            "PowerSaving=0x86\n"
                            "LampTimer=45\n"
                            "[VPD]\n"
                            "MaximumX=1200\n"
                            "MaximumY=1200\n"
                            "VideoOutput=0x0A\n"
                            "BufferSize=0x01000000\n"
                            "Endorser=0x21\n"
                            "[EEPROM]\n"
                            "Image=image.bin\n"
                            "FirstUse=04/12/25\n"
                            "Serial=256\n");
    auto p = loadScannerProfile(path);
    ASSERT_TRUE(p) << p.error().text;
    EXPECT_EQ(p->model, "KESTREL-9") << "the model defaults to the product";
    EXPECT_EQ(p->vendor, "KESTREL");
    EXPECT_EQ(p->revision, "3.10");
    EXPECT_EQ(p->firmware, "3100AB02EN07");
    EXPECT_EQ(p->hardwareStatus[kHardwareStatusInk], 12);
    EXPECT_EQ(p->powerSaving, 0x86);
    EXPECT_EQ(p->lampTimer, 45);
    EXPECT_EQ(p->vpd.maximumX, 1200);
    EXPECT_EQ(p->vpd.videoOutput, 0x0A);
    EXPECT_EQ(p->vpd.bufferSize, 16u << 20);
    EXPECT_EQ(p->vpd.endorser, 0x21);
    EXPECT_EQ(p->vpd.basicX, builtInScanners().front().vpd.basicX) << "missing keys keep the default";
    EXPECT_EQ(p->eeprom[0], 0x5A) << "the image file is laid over the pattern";
    EXPECT_EQ(p->eeprom[3], 0x5A);
    EXPECT_EQ(p->eeprom[4], builtInScanners().front().eeprom[4]);
    EXPECT_EQ(p->eeprom[96], 4);
    EXPECT_EQ(p->eeprom[97], 12);
    EXPECT_EQ(p->eeprom[98], 25);
    EXPECT_EQ(p->eeprom[101], 1);

    const auto example = loadScannerProfile(LUMARC_SOURCE_DIR "/unitsim/profiles/example.ini");
    ASSERT_TRUE(example) << example.error().text;
    EXPECT_EQ(example->vpd.maximumX, 1200);
    EXPECT_EQ(example->vpd.endorser, 0xA2);

    const auto minimal = loadScannerProfile(write("[Scanner]\nProduct=PLAIN-1\nModel=Plain One\n"));
    ASSERT_TRUE(minimal) << minimal.error().text;
    EXPECT_EQ(minimal->model, "Plain One");
    EXPECT_EQ(minimal->product, "PLAIN-1");
}

TEST_F(ProfileFile, BadValuesAreRefusedWithTheirPlace)
{
    struct Case {
        const char* text;
        const char* expected; // part of the message
    };
    const Case cases[] = {
        {"[Scanner]\nVendor=KESTREL\n", "[Scanner] Product: missing"},
        {"[Scanner]\nProduct=THIS-NAME-IS-TOO-LONG\n", "[Scanner] Product: \"THIS-NAME-IS-TOO-LONG\" must be at most 16"},
        {"[Scanner]\nProduct=A\nFirmware=1.00\n", "[Scanner] Firmware: \"1.00\" must be exactly 12"},
        {"[Scanner]\nProduct=A\nInk=101\n", "[Scanner] Ink: a percentage"},
        {"[Scanner]\nProduct=A\nLampTimer=256\n", "[Scanner] LampTimer: \"256\" is not a number from 0 to 255"},
        {"[Scanner]\nProduct=A\n[VPD]\nEndorser=0x1G\n", "[VPD] Endorser: \"0x1G\" is not a number"},
        {"[Scanner]\nProduct=A\n[VPD]\nBasicX=-300\n", "[VPD] BasicX: \"-300\" is not a number"},
        {"[Scanner]\nProduct=A\n[VPD]\nBufferSize=0x\n", "[VPD] BufferSize: \"0x\" is not a number"},
        {"[Scanner]\nProduct=A\n[VPD]\nMinimumX=700\n", "minimum <= maximum"},
        {"[Scanner]\nProduct=A\n[VPD]\nMinimumY=0\n", "minimum <= maximum"},
        {"[Scanner]\nProduct=A\n[EEPROM]\nFirstUse=2024-01-01\n", "[EEPROM] FirstUse: \"2024-01-01\" is not YY/MM/DD"},
        {"[Scanner]\nProduct=A\n[EEPROM]\nFirstUse=24/13/01\n", "is not YY/MM/DD"},
        {"[Scanner]\nProduct=A\n[EEPROM]\nSerial=16777216\n", "at most 24 bits"},
        {"[Scanner]\nProduct=A\n[EEPROM]\nImage=absent.bin\n", "[EEPROM] Image:"},
        {"[Scanner]\nProduct=A\n[EEPROM]\nImage=big.bin\n", "more than 511 bytes"},
        {"[Scanner]\nProduct=A\n[EEPROM]\nImage=/dev/zero\n",
         "/dev/zero holds more than 511 bytes"},
    };
    std::ofstream(m_folder / "big.bin", std::ios::binary) << std::string(512, 'x');
    for (const auto& c : cases) {
        const auto path = write(c.text);
        const auto p = loadScannerProfile(path);
        ASSERT_FALSE(p) << c.text;
        EXPECT_EQ(p.error().code, platform::win32::kInvalidData) << c.text;
        EXPECT_NE(p.error().text.find(path), std::string::npos) << p.error().text;
        EXPECT_NE(p.error().text.find(c.expected), std::string::npos)
            << "got: " << p.error().text << "\nwanted: " << c.expected;
    }
    const auto missing = loadScannerProfile((m_folder / "none.ini").string());
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, platform::win32::kFileNotFound);
}

TEST_F(ProfileFile, AProfileOverTheSizeLimitIsRefusedWithoutReadingItAll)
{
    const std::string big =
        write("[Scanner]\nProduct=A\n;" + std::string(platform::kMaxProfileFileSize, 'c'),
              "big.ini");
    for (const std::string& path : {big, std::string("/dev/zero"), std::string("/dev/urandom")}) {
        const auto p = loadScannerProfile(path);
        ASSERT_FALSE(p) << path;
        EXPECT_EQ(p.error().code, platform::win32::kFileTooLarge) << path;
        EXPECT_NE(p.error().text.find(path), std::string::npos) << p.error().text;
    }
}

// The scanner answers from its profile, and refuses what its VPD page does
// not offer.
TEST(ScannerFromProfile, AnswersAndLimitsFollowTheProfile)
{
    ScannerProfile profile = builtInScanners().front();
    profile.vpd.videoOutput = 0x0A; // black and white, grey: no colour
    profile.vpd.maximumX = profile.vpd.maximumY = 400;
    profile.firmware = "ABCDEFGHIJKL";
    profile.hardwareStatus[3] = 0x77;
    profile.hardwareStatus[kHardwareStatusInk] = 9;
    profile.lampTimer = 44;
    profile.eeprom[96] = 7;
    SimulatedScanner scanner(profile);
    const auto run = [&](std::vector<uint8_t> cdb, std::vector<uint8_t> out = {}, size_t in = 0) {
        return scanner.execute(cdb, out, in);
    };

    const auto vpd = run({0x12, 1, 0xF0, 0, 100, 0}, {}, 100);
    const auto expected = encodeVpdF0(profile.vpd);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), vpd.dataIn.begin()));

    std::vector<uint8_t> diag(16);
    std::memcpy(diag.data(), "GET FIRMVERSION ", 16);
    ASSERT_EQ(run({0x1D, 0, 0, 0, 16, 0}, diag).status, 0);
    const auto firmware = run({0x1C, 0, 0, 0, 12, 0}, {}, 12);
    EXPECT_EQ(std::string(firmware.dataIn.begin(), firmware.dataIn.end()), "ABCDEFGHIJKL");

    const auto status = run({0xC2, 0, 0, 0, 0, 0, 0, 0, 12, 0}, {}, 12);
    EXPECT_EQ(status.dataIn[3], 0x77);
    EXPECT_EQ(status.dataIn[kHardwareStatusInk], 9);
    EXPECT_EQ(run({0x1A, 0x08, 0x3D, 0, 12, 0}, {}, 12).dataIn[6], 44);
    EXPECT_EQ(scanner.eeprom()[96], 7);

    ScanWindow window;
    window.xResolution = window.yResolution = 300;
    window.bitsPerPixel = 24;
    EXPECT_EQ(run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, encodeWindow(window)).status, 2)
        << "no colour on this scanner";
    window.bitsPerPixel = 8;
    EXPECT_EQ(run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, encodeWindow(window)).status, 0);
    window.xResolution = 401;
    EXPECT_EQ(run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, encodeWindow(window)).status, 2)
        << "above the maximum resolution";
    window.xResolution = 400;
    EXPECT_EQ(run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, encodeWindow(window)).status, 0);
}

} // namespace
} // namespace lumarc::unitsim
