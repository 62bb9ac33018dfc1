// The entry points called directly, against a simulated unit (inside the
// test namespace): what a frontend sees of the unit, a scan read in
// non-blocking mode through the select descriptor, cancelling, and the
// failures a frontend must tell apart.
#include "sane_test_support.h"

#include "platform/folders.h"
#include "sane/backend.h"
#include "shared/settings_file.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <cstring>

namespace lumarc::sane {
namespace {

class Backend : public UnitFixture {
protected:
    void SetUp() override
    {
        UnitFixture::SetUp();
        ASSERT_EQ(sane_lumarc_init(nullptr, nullptr), SANE_STATUS_GOOD);
    }
    void TearDown() override { sane_lumarc_exit(); }

    SANE_Handle open()
    {
        SANE_Handle handle = nullptr;
        EXPECT_EQ(sane_lumarc_open("127.0.0.2", &handle), SANE_STATUS_GOOD);
        return handle;
    }
    SANE_Status setWord(SANE_Handle h, SANE_Int option, SANE_Word value, SANE_Int* info = nullptr)
    {
        return sane_lumarc_control_option(h, option, SANE_ACTION_SET_VALUE, &value, info);
    }
    // Reads the whole image. Non-blocking, it waits on the select descriptor
    // before every read, as saned does: the descriptor must wake it for
    // every piece and for the end.
    SANE_Status readAll(SANE_Handle h, std::vector<uint8_t>& image, bool nonBlocking)
    {
        if (nonBlocking) {
            EXPECT_EQ(sane_lumarc_set_io_mode(h, SANE_TRUE), SANE_STATUS_GOOD);
        }
        SANE_Byte buffer[32768];
        for (;;) {
            if (nonBlocking) {
                SANE_Int fd = -1;
                EXPECT_EQ(sane_lumarc_get_select_fd(h, &fd), SANE_STATUS_GOOD);
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 10000) != 1) {
                    ADD_FAILURE() << "the select descriptor did not wake the reader";
                    return SANE_STATUS_IO_ERROR;
                }
            }
            SANE_Int length = 0;
            const SANE_Status status = sane_lumarc_read(h, buffer, sizeof buffer, &length);
            if (status != SANE_STATUS_GOOD)
                return status;
            image.insert(image.end(), buffer, buffer + length);
        }
    }
};

TEST_F(Backend, TheUnitsOfConfigurationAndSettingsAreListedWithTheirScanners)
{
    writeConfig("127.0.0.2\n127.0.0.9\n");
    addSettingsUnit("127.0.0.2");
    const SANE_Device** list = nullptr;
    ASSERT_EQ(sane_lumarc_get_devices(&list, SANE_FALSE), SANE_STATUS_GOOD);
    ASSERT_NE(list[0], nullptr);
    EXPECT_STREQ(list[0]->name, "127.0.0.2");
    EXPECT_EQ(std::string(list[0]->model), scannerModel());
    EXPECT_NE(std::string(list[0]->type).find("scanner"), std::string::npos);
    EXPECT_EQ(list[1], nullptr) << "once each; a unit out of reach is left out";
}

TEST_F(Backend, ASearchAddsTheUnitsThatAnswerOnlyWhenTheConfigurationAsksForIt)
{
    ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
    ASSERT_TRUE(shared::SettingsFile().write("TimeOut", "SearchBox", "1"));
    writeConfig("settings off\n");
    const SANE_Device** list = nullptr;
    ASSERT_EQ(sane_lumarc_get_devices(&list, SANE_FALSE), SANE_STATUS_GOOD);
    EXPECT_EQ(list[0], nullptr) << "no search without the word";

    writeConfig("settings off\ndiscover\n");
    ASSERT_EQ(sane_lumarc_get_devices(&list, SANE_FALSE), SANE_STATUS_GOOD);
    ASSERT_NE(list[0], nullptr);
    EXPECT_STREQ(list[0]->name, "127.0.0.2");
    EXPECT_EQ(std::string(list[0]->model), scannerModel());
    EXPECT_EQ(list[1], nullptr);
}

TEST_F(Backend, APageReadWithoutBlockingIsTheTestChart)
{
    SANE_Handle h = open();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(setWord(h, kResolutionOption, 100), SANE_STATUS_GOOD);
    SANE_Parameters before{};
    ASSERT_EQ(sane_lumarc_get_parameters(h, &before), SANE_STATUS_GOOD);
    ASSERT_EQ(sane_lumarc_start(h), SANE_STATUS_GOOD);
    SANE_Parameters p{};
    ASSERT_EQ(sane_lumarc_get_parameters(h, &p), SANE_STATUS_GOOD);
    EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0) << "the estimate was exact";
    EXPECT_EQ(setWord(h, kResolutionOption, 200), SANE_STATUS_DEVICE_BUSY)
        << "the window of a scan in progress stays";
    std::vector<uint8_t> image;
    ASSERT_EQ(readAll(h, image, true), SANE_STATUS_EOF);
    EXPECT_EQ(differencesFromChart(image, p, 100, 0, 0), 0u);
    SANE_Int length = 0;
    SANE_Byte byte;
    EXPECT_EQ(sane_lumarc_read(h, &byte, 1, &length), SANE_STATUS_EOF);
    sane_lumarc_cancel(h);
    sane_lumarc_close(h);
}

TEST_F(Backend, ACancelledScanEndsAtTheNextReadAndTheNextScanIsWhole)
{
    slowDown();
    SANE_Handle h = open();
    ASSERT_EQ(sane_lumarc_start(h), SANE_STATUS_GOOD);
    SANE_Byte buffer[4096];
    SANE_Int length = 0;
    ASSERT_EQ(sane_lumarc_read(h, buffer, sizeof buffer, &length), SANE_STATUS_GOOD);
    sane_lumarc_cancel(h);
    EXPECT_EQ(sane_lumarc_read(h, buffer, sizeof buffer, &length), SANE_STATUS_CANCELLED);
    EXPECT_EQ(length, 0);

    ASSERT_EQ(setWord(h, kResolutionOption, 50), SANE_STATUS_GOOD);
    ASSERT_EQ(sane_lumarc_start(h), SANE_STATUS_GOOD);
    SANE_Parameters p{};
    sane_lumarc_get_parameters(h, &p);
    std::vector<uint8_t> image;
    ASSERT_EQ(readAll(h, image, false), SANE_STATUS_EOF);
    EXPECT_EQ(differencesFromChart(image, p, 50, 0, 0), 0u);
    sane_lumarc_close(h);
}

TEST_F(Backend, BusyUnreachableAndFailingAreToldApart)
{
    SANE_Handle h = open();
    SANE_Handle second = nullptr;
    EXPECT_EQ(sane_lumarc_open("127.0.0.2", &second), SANE_STATUS_DEVICE_BUSY);
    EXPECT_EQ(sane_lumarc_open("127.0.0.9", &second), SANE_STATUS_DEVICE_BUSY)
        << "one unit at a time per process";
    EXPECT_EQ(sane_lumarc_open("no unit/name", &second), SANE_STATUS_INVAL);

    unitsim::TunnelFaults busy;
    busy.failOpcode = 0x1B;
    busy.failStatus = 0x08;
    m_unit->tunnel()->setFaults(busy);
    EXPECT_EQ(sane_lumarc_start(h), SANE_STATUS_DEVICE_BUSY);

    // Sense data go to the debug output.
    ::setenv("SANE_DEBUG_LUMARC", "1", 1);
    sane_lumarc_init(nullptr, nullptr);
    unitsim::TunnelFaults failRead;
    failRead.failOpcode = 0x28;
    m_unit->tunnel()->setFaults(failRead);
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(sane_lumarc_start(h), SANE_STATUS_GOOD);
    SANE_Byte buffer[64];
    SANE_Int length = 0;
    EXPECT_EQ(sane_lumarc_read(h, buffer, sizeof buffer, &length), SANE_STATUS_IO_ERROR);
    const std::string debug = ::testing::internal::GetCapturedStderr();
    ::unsetenv("SANE_DEBUG_LUMARC");
    EXPECT_NE(debug.find("[lumarc] 127.0.0.2: READ: scanner error, sense key 4 (hardware error)"),
              std::string::npos)
        << debug;
    sane_lumarc_close(h);

    EXPECT_EQ(sane_lumarc_open("127.0.0.9", &second), SANE_STATUS_IO_ERROR);
    EXPECT_STREQ(sane_lumarc_strstatus(SANE_STATUS_DEVICE_BUSY), "Device busy");
}

TEST_F(Backend, ALostConnectionIsAnIoErrorAndTheNextScanConnectsAgain)
{
    SANE_Handle h = open();
    unitsim::TunnelFaults cut;
    cut.closeAfter = 300000;
    m_unit->tunnel()->setFaults(cut);
    ASSERT_EQ(sane_lumarc_start(h), SANE_STATUS_GOOD);
    std::vector<uint8_t> image;
    EXPECT_EQ(readAll(h, image, false), SANE_STATUS_IO_ERROR);
    EXPECT_LT(image.size(), 300000u);

    m_unit->tunnel()->setFaults({});
    ASSERT_EQ(setWord(h, kResolutionOption, 50), SANE_STATUS_GOOD);
    ASSERT_EQ(sane_lumarc_start(h), SANE_STATUS_GOOD);
    SANE_Parameters p{};
    sane_lumarc_get_parameters(h, &p);
    image.clear();
    ASSERT_EQ(readAll(h, image, false), SANE_STATUS_EOF);
    EXPECT_EQ(differencesFromChart(image, p, 50, 0, 0), 0u);
    sane_lumarc_close(h);
}

} // namespace
} // namespace lumarc::sane
