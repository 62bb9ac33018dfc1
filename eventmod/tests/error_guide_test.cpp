// Scanner error reports: which code, which file, which text.
#include "eventmod/error_guide.h"

#include "platform/tests/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace lumarc::eventmod {
namespace {

std::vector<uint8_t> report(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    std::vector<uint8_t> data(kErrorReportSize, 0xAB);
    data[20] = b0;
    data[21] = b1;
    data[22] = b2;
    data[23] = b3;
    return data;
}

TEST(ErrorCode, CodeBytesGiveTheKey)
{
    const struct {
        uint8_t b0, b1, b2, b3;
        std::optional<uint32_t> code;
    } rows[] = {
        {0x03, 0x80, 0x01, 0x5A, 0x5a038001},
        {0x03, 0x80, 0x01, 0x39, 0x39038001},
        {0x03, 0x80, 0x01, 0x00, 0x00038001},
        {0x03, 0x80, 0x02, 0x4A, 0x4a038002},
        {0x03, 0x80, 0x13, 0x77, std::nullopt},
        {0x03, 0x80, 0x03, 0x00, std::nullopt},
        {0x04, 0x44, 0x00, 0x07, 0x00044400},
        {0x04, 0x44, 0x00, 0xE5, 0xe5044400},
        {0x04, 0x80, 0x05, 0x87, 0x87048005},
        {0x04, 0x80, 0x06, 0x7E, 0x7e048006},
        {0x02, 0x00, 0x00, 0x12, std::nullopt},
        {0x06, 0x00, 0x00, 0x00, std::nullopt},
        {0x00, 0x00, 0x00, 0x99, std::nullopt},
        {0x85, 0x12, 0x34, 0x00, 0x00051234}, // the top bit of b0 is not part of it
    };
    for (const auto& r : rows)
        EXPECT_EQ(errorCode(kErrorReportDescriptor, report(r.b0, r.b1, r.b2, r.b3)), r.code)
            << std::hex << int(r.b0) << " " << int(r.b1) << " " << int(r.b2) << " " << int(r.b3);
}

TEST(ErrorCode, ReportsOfAnotherShapeAreIgnored)
{
    auto data = report(3, 0x80, 1, 0x5A);
    EXPECT_EQ(errorCode(0x44444445, data), std::nullopt);
    data.pop_back();
    EXPECT_EQ(errorCode(kErrorReportDescriptor, data), std::nullopt);
    data.resize(1000);
    EXPECT_EQ(errorCode(kErrorReportDescriptor, data), std::nullopt);
    EXPECT_EQ(errorCode(kErrorReportDescriptor, {}), std::nullopt);
}

TEST(ErrorGuideFiles, LanguageAndFolderChooseTheFile)
{
    lumarc::testing::TempFolder registered, own;
    const auto touch = [](const std::filesystem::path& p) { std::ofstream(p) << "[ErType]\n"; };
    touch(own.path() / "KEMRGUID.ini");
    touch(own.path() / "KEMRJP11.ini");
    touch(own.path() / "KEMRXX11.ini");
    EXPECT_EQ(chooseErrorGuideFile(std::nullopt, own.path(), "0409"), own.path() / "KEMRGUID.ini");
    EXPECT_EQ(chooseErrorGuideFile(std::nullopt, own.path(), "0411"), own.path() / "KEMRJP11.ini")
        << "the first of the sub-language's files";
    EXPECT_EQ(chooseErrorGuideFile(std::nullopt, own.path(), "0407"), own.path() / "KEMRGUID.ini");
    // The registered folder wins when it holds the file.
    EXPECT_EQ(chooseErrorGuideFile(registered.path(), own.path(), "0409"),
              own.path() / "KEMRGUID.ini");
    touch(registered.path() / "KEMR0411.ini");
    EXPECT_EQ(chooseErrorGuideFile(registered.path(), own.path(), "0411"),
              registered.path() / "KEMR0411.ini");

    std::ofstream(own.path() / "KEMRGUID.ini") << "[ErType]\n5a038001=Paper jam\n";
    EXPECT_EQ(errorGuideText(own.path() / "KEMRGUID.ini", 0x5a038001), "Paper jam");
    EXPECT_EQ(errorGuideText(own.path() / "KEMRGUID.ini", 0x00044400), "");
}

} // namespace
} // namespace lumarc::eventmod
