// Every export against the simulated unit, with the request bytes compared
// byte for byte. Runs inside the test network namespace.
#include "mgmt/zorvan.h"
#include "platform/debug_output.h"
#include "platform/event_log.h"
#include "platform/folders.h"
#include "platform/net_socket.h"
#include "platform/tests/temp_folder.h"
#include "platform/unit_address.h"
#include "shared/message_header.h"
#include "shared/settings_file.h"
#include "unitsim/simulated_unit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

namespace lumarc::mgmt {
namespace {

using namespace std::chrono_literals;
using unitsim::FaultPlan;

constexpr const char* kUnit = "127.0.0.2";
constexpr const char* kPin = "4321";

std::string textAt(const std::vector<uint8_t>& bytes, size_t offset, size_t width)
{
    std::string text(reinterpret_cast<const char*>(bytes.data() + offset), width);
    return text.substr(0, text.find('\0'));
}

class AgainstUnit : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeSetting("TimeOut", "MonIf", "2");
        ASSERT_EQ(Zorvan_Startup(0, 0), 0);
        unitsim::UnitConfig config;
        config.adminPin = kPin;
        config.address = *platform::resolveUnitAddress(kUnit);
        configure(config);
        auto started = unitsim::SimulatedUnit::start(config);
        ASSERT_TRUE(started) << started.error().text;
        m_unit = std::move(*started);
    }
    void TearDown() override { Zorvan_Cleanup(); }
    virtual void configure(unitsim::UnitConfig&) {}

    void writeSetting(const char* section, const char* key, const char* value)
    {
        ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
        ASSERT_TRUE(shared::SettingsFile().write(section, key, value));
    }
    std::vector<uint8_t> lastRequest()
    {
        const auto requests = m_unit->management().requests();
        return requests.empty() ? std::vector<uint8_t>{} : requests.back().bytes;
    }
    size_t requestCount() { return m_unit->management().requests().size(); }
    std::string debugText()
    {
        std::scoped_lock lock(m_debugMutex);
        return m_debug;
    }
    static size_t count(const std::string& text, const std::string& part)
    {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }

    lumarc::testing::SandboxEnvironment m_sandbox;
    std::mutex m_debugMutex;
    std::string m_debug;
    platform::ScopedDebugSink m_sink{[this](std::string_view text) {
        std::scoped_lock lock(m_debugMutex);
        m_debug += text;
    }};
    std::unique_ptr<unitsim::SimulatedUnit> m_unit;
};

TEST_F(AgainstUnit, SetNameSendsExactly132BytesAndGetNameReadsItBack)
{
    UnitNameRecord in{};
    in.triggerPort = 10555;
    std::strcpy(in.name, "Lobby scanner");
    ASSERT_EQ(Zorvan_SetName(kUnit, "root", kPin, &in), 0u);
    const auto request = lastRequest();
    ASSERT_EQ(request.size(), 132u);
    EXPECT_EQ(shared::decodeHeader(request), (shared::MessageHeader{132, 0x565A, 0x141, 0}));
    EXPECT_EQ(textAt(request, 16, 32), "root");
    EXPECT_EQ(textAt(request, 48, 32), kPin);
    EXPECT_EQ(shared::readLe32(request, 80), 10555u);
    EXPECT_EQ(textAt(request, 84, 48), "Lobby scanner");
    std::vector<uint8_t> expectedTail(132 - 84 - 13, 0);
    EXPECT_TRUE(std::equal(expectedTail.begin(), expectedTail.end(), request.begin() + 97));

    UnitNameRecord out{};
    ASSERT_EQ(Zorvan_GetName(kUnit, &out), 0u);
    EXPECT_EQ(out.triggerPort, 10555u);
    EXPECT_STREQ(out.name, "Lobby scanner");
    EXPECT_EQ(lastRequest(), (std::vector<uint8_t>{16, 0, 0, 0, 0x5A, 0x56, 0, 0, 0x40, 1, 0, 0,
                                                   0, 0, 0, 0}));
}

TEST_F(AgainstUnit, UnterminatedNameIsCutToFortySevenBytes)
{
    UnitNameRecord in{};
    std::memset(in.name, 'N', sizeof in.name);
    ASSERT_EQ(Zorvan_SetName(kUnit, "root", kPin, &in), 0u);
    const auto request = lastRequest();
    EXPECT_EQ(textAt(request, 84, 48), std::string(47, 'N'));
    EXPECT_EQ(request[131], 0);
}

TEST_F(AgainstUnit, RefusedGreetingsAreRetriedWithTheirNumbersInTheLog)
{
    FaultPlan plan;
    plan.refuseGreetings = 2;
    plan.refusalCode = 5;
    m_unit->management().setFaults(plan);
    UnitNameRecord out{};
    ASSERT_EQ(Zorvan_GetName(kUnit, &out), 0u);
    EXPECT_EQ(m_unit->management().connections(), 3u);
    const std::string debug = debugText();
    EXPECT_NE(debug.find("(Quillet) 接続拒否(Try回数:1,Code:5)\n"), std::string::npos) << debug;
    EXPECT_NE(debug.find("(Quillet) 接続拒否(Try回数:2,Code:5)\n"), std::string::npos) << debug;
    EXPECT_EQ(count(debug, "接続拒否"), 2u);
}

TEST_F(AgainstUnit, TwelveRefusalsFailTheExchange)
{
    FaultPlan plan;
    plan.refuseGreetings = 100;
    plan.refusalCode = 0x800;
    m_unit->management().setFaults(plan);
    UnitNameRecord out{};
    std::memset(&out, 0xCC, sizeof out);
    EXPECT_EQ(Zorvan_GetName(kUnit, &out), 0x80000004u);
    EXPECT_EQ(m_unit->management().connections(), 12u);
    EXPECT_EQ(out.triggerPort, 0xCCCCCCCCu) << "output untouched";
}

TEST_F(AgainstUnit, SwitchedOffUnitGivesTheSocketsErrorAfterFourAttempts)
{
    UnitNameRecord out{};
    std::memset(&out, 0xCC, sizeof out);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(Zorvan_GetName("127.0.0.9", &out), 10061u);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 30ms) << "three 10 ms pauses";
    EXPECT_EQ(out.triggerPort, 0xCCCCCCCCu);
    EXPECT_NE(debugText().find("(Quillet) ソケット接続失敗 : "), std::string::npos);

    char firmware[32];
    std::memset(firmware, 'x', sizeof firmware);
    EXPECT_EQ(Zorvan_GetFirmInfo("127.0.0.9", firmware, 21), 10061u);
    EXPECT_EQ(firmware[0], '\0') << "the output becomes the empty text";
}

TEST_F(AgainstUnit, UnresolvableUnitReturnsOneWithoutTraffic)
{
    UnitNameRecord out{};
    std::memset(&out, 0xCC, sizeof out);
    EXPECT_EQ(Zorvan_GetName("no-such-unit.invalid", &out), 1u);
    EXPECT_EQ(Zorvan_MaintenanceMode("", "root", kPin, 1), 1u);
    EXPECT_EQ(m_unit->management().connections(), 0u);
    EXPECT_EQ(out.triggerPort, 0xCCCCCCCCu);
    EXPECT_NE(debugText().find("(Quillet) Error gethostbyname()\n : "), std::string::npos);
}

TEST_F(AgainstUnit, ReplyShorterThanItsHeaderIsAFailedExchange)
{
    FaultPlan plan;
    plan.closeAfter = 10;
    m_unit->management().setFaults(plan);
    UnitNameRecord out{};
    std::memset(&out, 0xCC, sizeof out);
    EXPECT_EQ(Zorvan_GetName(kUnit, &out), 0x80000004u);
    EXPECT_EQ(out.triggerPort, 0xCCCCCCCCu);
}

TEST_F(AgainstUnit, PayloadThatNeverArrivedReadsAsZeroNotStaleBytes)
{
    FaultPlan plan;
    plan.closeAfter = 16 + 6; // the trigger port and two name bytes
    m_unit->management().setFaults(plan);
    UnitNameRecord out{};
    std::memset(&out, 0xCC, sizeof out);
    ASSERT_EQ(Zorvan_GetName(kUnit, &out), 0u);
    EXPECT_EQ(out.triggerPort, 10002u);
    EXPECT_EQ(std::string(out.name, 2), "LU");
    for (size_t i = 2; i < sizeof out.name; ++i)
        EXPECT_EQ(out.name[i], 0) << i;
}

TEST_F(AgainstUnit, LengthWordOfTwentyIsHonouredWithoutWaiting)
{
    FaultPlan plan;
    plan.lengthWord = 20;
    plan.trailingBytes = 500;
    m_unit->management().setFaults(plan);
    char firmware[32];
    std::memset(firmware, 'x', sizeof firmware);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(Zorvan_GetFirmInfo(kUnit, firmware, 21), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
    EXPECT_EQ(std::string(firmware, 4), "LM-2");
    for (size_t i = 4; i < sizeof firmware; ++i)
        EXPECT_EQ(firmware[i], 0) << "bytes past the length read as zero";
}

TEST_F(AgainstUnit, ReplyInTwoSegmentsIsAssembled)
{
    FaultPlan plan;
    plan.splitPause = 300ms;
    m_unit->management().setFaults(plan);
    NetInfoRecord info{};
    ASSERT_EQ(Zorvan_GetNetInfo(kUnit, &info), 0u);
    EXPECT_STREQ(info.addressText, kUnit);
    EXPECT_EQ(info.subnetMask, 0xFFFFFF00u);
}

TEST_F(AgainstUnit, SilentUnitTimesOutAfterTheTransferTimeOut)
{
    FaultPlan plan;
    plan.silent = true;
    m_unit->management().setFaults(plan);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(Zorvan_OT_FpStatus(kUnit), 0x80000004u);
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, 2s);
    EXPECT_LT(took, 4s);
    EXPECT_NE(debugText().find("データ受信タイムアウトイベント発生"), std::string::npos);
}

TEST_F(AgainstUnit, ExportsBeforeStartUpRefuseWithoutTraffic)
{
    Zorvan_Cleanup();
    UnitNameRecord out{};
    EXPECT_EQ(Zorvan_GetName(kUnit, &out), 10093u);
    EXPECT_EQ(m_unit->management().connections(), 0u);
    ASSERT_EQ(Zorvan_Startup(0, 0), 0);
}

TEST_F(AgainstUnit, NetInfoAndFirmwareAndScanInfo)
{
    NetInfoRecord info;
    std::memset(&info, 0xCC, sizeof info);
    ASSERT_EQ(Zorvan_GetNetInfo(kUnit, &info), 0u);
    EXPECT_EQ(platform::addressText(info.address), kUnit);
    EXPECT_STREQ(info.addressText, kUnit);
    EXPECT_EQ(info.mac[0], 0x02);
    EXPECT_EQ(info.unused2[0], 0) << "the whole record comes from the reply";

    char firmware[32];
    ASSERT_EQ(Zorvan_GetFirmInfo(kUnit, firmware, 21), 0u);
    EXPECT_STREQ(firmware, "LM-2.10.0031");

    uint32_t scanner = 0, inquiryLength = 0, secondLength = 0;
    uint8_t inquiry[256], second[1764];
    ASSERT_EQ(Zorvan_GetScanInfo(kUnit, &scanner, &inquiryLength, &secondLength, inquiry, second),
              0u);
    EXPECT_EQ(scanner, 1u);
    EXPECT_EQ(inquiryLength, 96u);
    EXPECT_EQ(secondLength, 100u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 16), 16), "ORBIX-4000      ");
    EXPECT_EQ(second[0], 0xA0);
}

TEST_F(AgainstUnit, SetNetInfoSendsTheFiveWordsInOrder)
{
    const uint32_t words[5] = {0x0300007F, 0xFFFF0000, 0x7F000001, 0x01020304, 0x05060708};
    ASSERT_EQ(Zorvan_SetNetInfo(kUnit, "root", kPin, words), 0u);
    const auto request = lastRequest();
    ASSERT_EQ(request.size(), 100u);
    EXPECT_EQ(shared::readLe32(request, 8), 0x130u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(shared::readLe32(request, 80 + 4 * i), words[i]);
    EXPECT_EQ(Zorvan_SetNetInfo(kUnit, "root", "wrong", words), 0x84u);
}

class UnitWithoutScanner : public AgainstUnit {
    void configure(unitsim::UnitConfig& config) override
    {
        config.scanner.reset();
        config.address = 0; // the unit reports address 0
    }
};

TEST_F(UnitWithoutScanner, ScanInfoLeavesTheInquiryUntouched)
{
    // A unit reporting address 0 is still reachable on its loopback address
    // here: the simulated server binds 0.0.0.0.
    uint32_t scanner = 9, inquiryLength = 9, secondLength = 9;
    uint8_t inquiry[256], second[1764];
    std::memset(inquiry, 0xCC, sizeof inquiry);
    ASSERT_EQ(Zorvan_GetScanInfo("127.0.0.1", &scanner, &inquiryLength, &secondLength, inquiry,
                                 second),
              0u);
    EXPECT_EQ(inquiryLength, 0u);
    EXPECT_EQ(inquiry[0], 0xCC);

    NetInfoRecord info;
    std::memset(&info, 0xCC, sizeof info);
    ASSERT_EQ(Zorvan_GetNetInfo("127.0.0.1", &info), 0u);
    EXPECT_EQ(info.address, 0u);
    EXPECT_EQ(info.addressText[0], 0) << "offset 28 stays as the unit sent it";
}

TEST_F(AgainstUnit, UserRegistrationLayoutAndTheTableRules)
{
    ASSERT_EQ(Zorvan_UserEntry(kUnit, "alice", "1234", nullptr, "192.168.1.20", 0), 0u);
    auto request = lastRequest();
    ASSERT_EQ(request.size(), 400u);
    EXPECT_EQ(shared::readLe32(request, 8), 0x100u);
    EXPECT_EQ(textAt(request, 16, 32), "alice");
    EXPECT_EQ(textAt(request, 48, 32), "1234");
    EXPECT_EQ(textAt(request, 80, 32), "alice");
    EXPECT_EQ(textAt(request, 112, 32), "1234");
    EXPECT_EQ(textAt(request, 144, 256), "192.168.1.20");

    EXPECT_EQ(Zorvan_UserEntry(kUnit, "alice", "9999", nullptr, "h", 0), 0x81u);
    ASSERT_EQ(Zorvan_UserEntry(kUnit, "bob", "5555", nullptr, nullptr, 0), 0u);
    EXPECT_FALSE(textAt(lastRequest(), 144, 256).empty()) << "the PC's own address";
    EXPECT_NE(debugText().find("(Quillet) Ip address "), std::string::npos);
    for (int i = 2; i < 32; ++i)
        ASSERT_EQ(Zorvan_UserEntry(kUnit, ("u" + std::to_string(i)).c_str(), "1", nullptr, "h", 0),
                  0u);
    EXPECT_EQ(Zorvan_UserEntry(kUnit, "one-too-many", "1", nullptr, "h", 0), 0x80u);

    // A user changes the own PIN with the old one.
    EXPECT_EQ(Zorvan_UserEntry(kUnit, "alice", "0000", "2222", "h", 1), 0x84u);
    ASSERT_EQ(Zorvan_UserEntry(kUnit, "alice", "1234", "2222", "h", 1), 0u);
    request = lastRequest();
    EXPECT_EQ(shared::readLe32(request, 8), 0x101u);
    EXPECT_EQ(textAt(request, 48, 32), "2222");
    EXPECT_EQ(textAt(request, 112, 32), "1234");

    uint8_t list[9216];
    ASSERT_EQ(Zorvan_GetUserList(kUnit, "root", kPin, list), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(list)), "alice");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(list + 32)), "h");
    EXPECT_EQ(lastRequest().size(), 80u);
    EXPECT_EQ(Zorvan_GetUserList(kUnit, "root", "bad", list), 0x84u);
}

TEST_F(AgainstUnit, AdministratorModifiesAndDeletesUsers)
{
    ASSERT_TRUE(m_unit->state().preloadUser({"carol", "1111", "pc1"}));
    ASSERT_EQ(Zorvan_AdminUserEntry(kUnit, "carol", "7777", "pc2", "root", kPin, 1), 0u);
    auto request = lastRequest();
    ASSERT_EQ(request.size(), 464u);
    EXPECT_EQ(shared::readLe32(request, 8), 0x104u);
    EXPECT_EQ(textAt(request, 48, 32), "");
    EXPECT_EQ(textAt(request, 112, 32), "7777");
    EXPECT_EQ(m_unit->state().users()[0].pin, "7777");

    EXPECT_EQ(Zorvan_AdminUserEntry(kUnit, "carol", "", "pc2", "root", "bad", 2), 0x84u);
    ASSERT_EQ(Zorvan_AdminUserEntry(kUnit, "carol", "", nullptr, "root", kPin, 2), 0u);
    request = lastRequest();
    ASSERT_EQ(request.size(), 464u);
    EXPECT_EQ(shared::readLe32(request, 8), 0x105u);
    EXPECT_EQ(textAt(request, 16 + 384, 32), "root");
    EXPECT_EQ(textAt(request, 16 + 416, 32), kPin);
    EXPECT_TRUE(m_unit->state().users()[0].name.empty());
}

TEST_F(AgainstUnit, BackupAndRestoreSendBackExactlyTheFirst344080Bytes)
{
    ASSERT_TRUE(m_unit->state().preloadUser({"dave", "4444", "pc4"}));
    std::vector<uint8_t> block(344320, 0xCC);
    ASSERT_EQ(Zorvan_GetAllUser(kUnit, "root", kPin, "abc", block.data(), 344320), 0u);
    auto request = lastRequest();
    ASSERT_EQ(request.size(), 96u);
    EXPECT_EQ(std::string(request.begin() + 80, request.end()), "abc             ");
    EXPECT_EQ(block[344320 - 16 - 1], 0) << "the last payload byte came from the reply";

    ASSERT_TRUE(m_unit->state().preloadUser({"erin", "5", "pc5"}));
    ASSERT_EQ(Zorvan_PutAllUser(kUnit, "root", kPin, "abc", block.data(), 344320), 0u);
    request = lastRequest();
    ASSERT_EQ(request.size(), 344176u);
    EXPECT_TRUE(std::equal(block.begin(), block.begin() + 344080, request.begin() + 96));
    const auto users = m_unit->state().users();
    EXPECT_EQ(users[0].name, "dave");
    EXPECT_TRUE(users[1].name.empty()) << "the backup is restored whole";

    EXPECT_EQ(Zorvan_PutAllUser(kUnit, "root", kPin, "other-key-20-chars!!", block.data(), 0),
              0x85u);
    request = lastRequest();
    EXPECT_EQ(std::string(request.begin() + 80, request.begin() + 96), "other-key-20-cha");
}

TEST_F(AgainstUnit, ModeAndMessageRequests)
{
    ASSERT_EQ(Zorvan_MaintenanceMode(kUnit, "root", kPin, 2), 0u);
    auto request = lastRequest();
    ASSERT_EQ(request.size(), 80u);
    EXPECT_EQ(shared::decodeHeader(request), (shared::MessageHeader{80, 0x565A, 0x150, 0}));
    EXPECT_EQ(textAt(request, 16, 32), "root");
    EXPECT_EQ(textAt(request, 48, 32), kPin);
    EXPECT_EQ(Zorvan_MaintenanceMode(kUnit, "root", kPin, 1), 0x400u);
    EXPECT_EQ(Zorvan_MaintenanceMode(kUnit, "root", kPin, 0), 0u);
    EXPECT_EQ(shared::readLe32(lastRequest(), 8), 0x151u);
    EXPECT_EQ(Zorvan_MaintenanceMode(kUnit, "root", kPin, 0), 0x500u);

    ASSERT_EQ(Zorvan_ScannerInfoMode(kUnit, 7), 0u);
    EXPECT_EQ(lastRequest(), (std::vector<uint8_t>{16, 0, 0, 0, 0x5A, 0x56, 0, 0, 0x60, 1, 0, 0,
                                                   0, 0, 0, 0}));
    EXPECT_TRUE(m_unit->state().inScannerInfoMode());
    ASSERT_EQ(Zorvan_ScannerInfoMode(kUnit, 0), 0u);

    ASSERT_EQ(Zorvan_SendMsg(kUnit, '1', "1", 1), 0u);
    request = lastRequest();
    ASSERT_EQ(request.size(), 84u);
    std::vector<uint8_t> payload(68, 0);
    payload[4] = 0x31;
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), request.begin() + 16));
    const std::string longText(100, 'E');
    ASSERT_EQ(Zorvan_SendMsg(kUnit, 0, longText.c_str(), 100), 0u);
    request = lastRequest();
    ASSERT_EQ(request.size(), 84u);
    EXPECT_EQ(std::string(request.begin() + 20, request.end()), std::string(64, 'E'));
    EXPECT_EQ(m_unit->state().panelTexts().front(), "1");

    ASSERT_EQ(Zorvan_Apl_Report(kUnit, 3), 0u);
    EXPECT_EQ(lastRequest(), (std::vector<uint8_t>{20, 0, 0, 0, 0x5A, 0x56, 0, 0, 6, 0, 0, 0, 0,
                                                   0, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ(m_unit->state().applicationReports(), std::vector<uint32_t>{3});

    ASSERT_EQ(Zorvan_SetAdmin(kUnit, "root", kPin, "root", "8888"), 0u);
    EXPECT_EQ(lastRequest().size(), 144u);
    EXPECT_EQ(textAt(lastRequest(), 112, 32), "8888");
    EXPECT_EQ(Zorvan_MaintenanceMode(kUnit, "root", kPin, 1), 0x84u) << "the old PIN is gone";
}

TEST_F(AgainstUnit, FlashWriteIsCheckedAndReadsBack)
{
    const uint8_t data[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(Zorvan_WriteFlash(kUnit, "root", kPin, 0x100, 5, data), 0u);
    const auto request = lastRequest();
    ASSERT_EQ(request.size(), 100u);
    EXPECT_EQ(shared::readLe32(request, 88), 8u);
    uint32_t sum = 0;
    for (size_t offset = 80; offset < 100; offset += 4)
        sum += shared::readLe32(request, offset);
    EXPECT_EQ(sum, 0u);

    uint8_t back[8];
    std::memset(back, 0xCC, sizeof back);
    ASSERT_EQ(Zorvan_ReadFlash(kUnit, "root", kPin, 0x100, 8, back), 0u);
    EXPECT_EQ(lastRequest().size(), 92u);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 8), (std::vector<uint8_t>{1, 2, 3, 4, 5, 0, 0, 0}));
    EXPECT_EQ(Zorvan_ReadFlash(kUnit, "root", kPin, 0xFFFFF, 8, back), 0x91u);
    EXPECT_EQ(Zorvan_ReadFlash(kUnit, "root", kPin, 0, 0x7FFFFFFF, back), 87u)
        << "an absurd length is refused before any traffic";
}

TEST_F(AgainstUnit, OperatorTests)
{
    uint8_t key = 0;
    ASSERT_EQ(Zorvan_OT_OpepaneTest(kUnit, 0x1234, &key), 0u);
    const auto request = lastRequest();
    EXPECT_EQ(std::vector<uint8_t>(request.begin() + 16, request.end()),
              (std::vector<uint8_t>{0x34, 0, 0, 0}));
    EXPECT_EQ(key, 0x34);

    ASSERT_EQ(Zorvan_OT_SetTestMode(kUnit, 0), 0u);
    EXPECT_EQ(shared::readLe32(lastRequest(), 8), 0x10008u);
    ASSERT_EQ(Zorvan_OT_SetTestMode(kUnit, 1), 0u);
    EXPECT_TRUE(m_unit->state().inTestMode());

    std::vector<uint8_t> data(4096, 0x42);
    int32_t ms = -1;
    ASSERT_EQ(Zorvan_OT_LanSpeed(kUnit, static_cast<uint32_t>(data.size()), data.data(), &ms),
              0u);
    EXPECT_GE(ms, 0);
    EXPECT_EQ(lastRequest().size(), 4096u + 16);

    std::vector<uint8_t> image(76800, 0);
    ASSERT_EQ(Zorvan_OT_GetFpImage(kUnit, image.data()), 0u);
    EXPECT_EQ(image[319], 255);
    std::vector<uint8_t> sensor(921648, 0);
    ASSERT_EQ(Zorvan_OT_GetFpSnsTest(kUnit, sensor.data()), 0u);
    EXPECT_EQ(sensor[921647], static_cast<uint8_t>(921647 * 7 + (921647 >> 8)));

    uint32_t values[256];
    for (uint32_t i = 0; i < 256; ++i)
        values[i] = i * 3;
    ASSERT_EQ(Zorvan_OT_LcdTest(kUnit, values), 0u);
    EXPECT_EQ(lastRequest().size(), 1040u);
    EXPECT_EQ(m_unit->state().lcdValues()[255], 765u);
    ASSERT_EQ(Zorvan_OT_LcdLightTest(kUnit, 9), 0u);
    EXPECT_EQ(m_unit->state().lcdLight(), 9u);

    m_unit->state().setFrontPanelStatus(0x33);
    EXPECT_EQ(Zorvan_OT_FpStatus(kUnit), 0x33u);
    EXPECT_EQ(Zorvan_OT_InitDevice(kUnit, "root", kPin), 0u);
    EXPECT_EQ(lastRequest().size(), 80u);
    const uint8_t info[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_EQ(Zorvan_OT_Devinfo(kUnit, "root", kPin, info), 0u);
    EXPECT_EQ(lastRequest().size(), 92u);
    EXPECT_EQ(m_unit->state().deviceInfo()[11], 12);
}

TEST_F(AgainstUnit, EventLogFollowsTheLevel)
{
    std::vector<platform::EventLogEntry> entries;
    std::mutex mutex;
    auto previous = platform::setEventLogSink([&](const platform::EventLogEntry& e) {
        std::scoped_lock lock(mutex);
        entries.push_back(e);
    });
    const auto setLevel = [&](const char* level) {
        ASSERT_TRUE(platform::ensureFolder(platform::windowsFolder()));
        ASSERT_TRUE(platform::Profile(platform::windowsFolder() / "EZMsgCfg.ini")
                        .writeString("EventLog", "Level", level));
        Zorvan_Cleanup();
        ASSERT_EQ(Zorvan_Startup(0, 0), 0);
    };
    setLevel("3");
    EXPECT_EQ(Zorvan_MaintenanceMode(kUnit, "root", kPin, 1), 0u);
    EXPECT_EQ(Zorvan_MaintenanceMode(kUnit, "root", "bad", 0), 0x84u);
    ASSERT_EQ(entries.size(), 1u) << "level 3 writes failures only";
    EXPECT_EQ(entries[0].eventId, 0xC000001Bu);
    EXPECT_EQ(entries[0].category, 20001);
    EXPECT_EQ(entries[0].type, platform::EventType::Error);

    entries.clear();
    setLevel("7");
    EXPECT_EQ(Zorvan_MaintenanceMode(kUnit, "root", kPin, 0), 0u);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].eventId, 0x4000001Eu);
    EXPECT_EQ(entries[0].strings, std::vector<std::string>{"No Information"});

    entries.clear();
    setLevel("0");
    EXPECT_EQ(Zorvan_MaintenanceMode(kUnit, "root", "bad", 1), 0x84u);
    EXPECT_TRUE(entries.empty());
    platform::setEventLogSink(std::move(previous));
}

TEST_F(AgainstUnit, TwoThreadsExchangingAtOnceDoNotDisturbEachOther)
{
    FaultPlan plan;
    plan.replyDelay = 2ms;
    m_unit->management().setFaults(plan);
    std::atomic<int> failures{0};
    auto worker = [&](int id) {
        for (int i = 0; i < 40; ++i) {
            if (id == 0) {
                UnitNameRecord out{};
                if (Zorvan_GetName(kUnit, &out) != 0 || std::string(out.name) != "LUMARC-SIM")
                    ++failures;
            } else {
                char firmware[32] = {};
                if (Zorvan_GetFirmInfo(kUnit, firmware, 21) != 0 ||
                    std::string(firmware) != "LM-2.10.0031")
                    ++failures;
            }
        }
    };
    std::jthread a(worker, 0), b(worker, 1);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(AgainstUnit, EchoReachesTheUnitWithCountingIdentifiers)
{
    // Watch the echo requests on loopback with a raw socket of our own.
    auto watcher = platform::openIcmp(0);
    ASSERT_TRUE(watcher);
    ASSERT_EQ(watcher->kind, platform::IcmpKind::Raw) << "the test namespace allows raw sockets";
    int32_t time = 2;
    ASSERT_EQ(Zorvan_EchoRequests(kUnit, &time), 0u);
    EXPECT_GE(time, 0);
    EXPECT_LT(time, 2000);
    ASSERT_EQ(Zorvan_EchoRequests(kUnit, nullptr), 0u);

    std::vector<std::pair<int, int>> seen; // identifier, sequence of each request
    for (;;) {
        auto ready = platform::waitReadable(watcher->fd.get(), 100ms);
        if (!ready || !*ready)
            break;
        uint8_t datagram[400];
        platform::Endpoint from;
        auto n = platform::receiveDatagram(watcher->fd.get(), datagram, &from);
        ASSERT_TRUE(n);
        const size_t ip = (datagram[0] & 0x0F) * 4u;
        if (datagram[ip] == 8)
            seen.emplace_back(datagram[ip + 4] << 8 | datagram[ip + 5],
                              datagram[ip + 6] << 8 | datagram[ip + 7]);
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].first, seen[0].first + 1);
    EXPECT_EQ(seen[1].second, seen[0].second + 1);
}

TEST_F(AgainstUnit, EchoToAHostThatNeverAnswersReportsNoTime)
{
    // 192.0.2.99 lies on the namespace's own link, where nobody answers.
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(Zorvan_EchoRequests("192.0.2.99", nullptr), 1u);
    auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, 5s) << "NULL means five seconds";
    EXPECT_LT(took, 7s);

    int32_t time = 1;
    begin = std::chrono::steady_clock::now();
    EXPECT_EQ(Zorvan_EchoRequests("192.0.2.99", &time), 1u);
    took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, 1s);
    EXPECT_LT(took, 3s);
    EXPECT_EQ(time, 1) << "no time reported";
    EXPECT_EQ(Zorvan_EchoRequests("no-such-unit.invalid", nullptr), 1u);
}

} // namespace
} // namespace lumarc::mgmt
