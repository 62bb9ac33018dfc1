// The ASPI transport against a simulated unit, inside the test network
// namespace. Request bytes are compared as the unit receives them.
#include "aspi.h"
#include "aspi_library.h"
#include "transport_log.h"
#include "tunnel.h"

#include "platform/debug_output.h"
#include "platform/event.h"
#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/tests/temp_folder.h"
#include "platform/unit_address.h"
#include "shared/message_header.h"
#include "unitsim/simulated_unit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <thread>

namespace lumarc::scsinet {
namespace {

using namespace std::chrono_literals;

constexpr const char* kUnit = "127.0.0.2";

TEST(TunnelCodec, RequestHeaderFollowsTheBlock)
{
    SRB_ExecSCSICmd block{};
    block.SRB_Flags = SRB_DIR_IN;
    block.SRB_BufLen = 96;
    block.SRB_CDBLen = 6;
    const uint8_t cdb[16] = {0x12, 0, 0, 0, 0x60, 0, 0xAA, 0xBB}; // bytes past the length ignored
    std::memcpy(block.CDBByte, cdb, 16);
    const auto in = encodeTunnelRequest(block);
    const std::array<uint8_t, 40> expected{40, 0, 0, 0, 0x5A, 0x56, 0, 0, 1, 0, 0, 0, 6, 0, 0, 0,
                                           96, 0, 0, 0, 0, 0, 0, 0, 0x12, 0, 0, 0, 0x60, 0};
    EXPECT_EQ(in.header, expected);
    EXPECT_EQ(in.dataIn, 96u);
    EXPECT_TRUE(in.dataOut.empty());

    uint8_t data[12] = {};
    block.SRB_Flags = 0; // no SRB_DIR_IN: data-out, whatever else is set
    block.SRB_BufLen = 12;
    block.SRB_BufPointer = data;
    const auto out = encodeTunnelRequest(block);
    EXPECT_EQ(shared::readLe32(out.header, 0), 52u);
    EXPECT_EQ(shared::readLe32(out.header, 16), 0u);
    EXPECT_EQ(shared::readLe32(out.header, 20), 12u);
    EXPECT_EQ(out.dataOut.size(), 12u);

    block.CDBByte[0] = 0xF1;
    block.SRB_Flags = SRB_DIR_IN;
    const auto announce = encodeTunnelRequest(block);
    EXPECT_EQ(shared::readLe32(announce.header, 0), 40u);
    EXPECT_EQ(shared::readLe32(announce.header, 16), 0u) << "F1 announces no data";
    EXPECT_EQ(announce.dataIn, 12u) << "but its reply carries the buffer's length";
}

class Transport : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(platform::ensureFolder(platform::systemFolder()));
        resetLogForTests();
        unitsim::UnitConfig config;
        config.address = *platform::resolveUnitAddress(kUnit);
        auto unit = unitsim::SimulatedUnit::start(config);
        ASSERT_TRUE(unit) << unit.error().text;
        m_unit = std::move(*unit);
        loadTransport();
    }
    void TearDown() override { unloadTransport(); }

    void setDataRecv(const char* seconds)
    {
        ASSERT_TRUE(platform::Profile(platform::windowsFolder() / "DROVIK32.ini")
                        .writeString("TimeOut", "DataRecv", seconds));
    }
    std::vector<unitsim::TunnelRequestRecord> requests() { return m_unit->tunnel()->requests(); }

    // A block for target 5 with event completion.
    struct Request {
        SRB_ExecSCSICmd block{};
        std::vector<uint8_t> data;
        std::unique_ptr<platform::Event> done;
    };
    std::unique_ptr<Request> request(std::initializer_list<uint8_t> cdb, uint32_t length,
                                     bool in)
    {
        auto r = std::make_unique<Request>();
        r->data.assign(length, 0xCC);
        r->done = std::make_unique<platform::Event>(
            std::move(*platform::Event::create(platform::EventReset::Manual)));
        r->block.SRB_Cmd = SC_EXEC_SCSI_CMD;
        r->block.SRB_Flags = SRB_EVENT_NOTIFY | (in ? SRB_DIR_IN : 0);
        r->block.SRB_Target = 5;
        r->block.SRB_BufLen = length;
        r->block.SRB_BufPointer = r->data.data();
        r->block.SRB_SenseLen = 14;
        r->block.SRB_CDBLen = static_cast<uint8_t>(cdb.size());
        r->block.SRB_PostProc = reinterpret_cast<void*>(static_cast<intptr_t>(r->done->fd()));
        std::copy(cdb.begin(), cdb.end(), r->block.CDBByte);
        return r;
    }
    uint8_t run(Request& r, std::chrono::milliseconds wait = 5s)
    {
        const uint32_t sent = SendASPI32Command(&r.block);
        if (sent != SS_PENDING)
            return static_cast<uint8_t>(sent);
        EXPECT_TRUE(r.done->wait(wait)) << "no completion";
        return r.block.SRB_Status;
    }

    lumarc::testing::SandboxEnvironment m_sandbox;
    std::unique_ptr<unitsim::SimulatedUnit> m_unit;
};

TEST_F(Transport, StartsOnceAndKeepsItsSupportWord)
{
    EXPECT_TRUE(platform::NamedMutex::exists("Drovik32MutexObject")) << "held while loaded";
    EXPECT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    EXPECT_EQ(GetASPI32SupportInfo2("127.0.0.9"), 0x0101u) << "a later call ignores its argument";
    EXPECT_EQ(GetASPI32SupportInfo(), 0x0101u);
    EXPECT_EQ(m_unit->tunnel()->connections(), 1u);
    unloadTransport();
    EXPECT_FALSE(platform::NamedMutex::exists("Drovik32MutexObject"));
}

TEST_F(Transport, ARefusedGreetingGivesE500OnceAndNoTrafficAfter)
{
    unitsim::TunnelFaults refuse;
    refuse.greetingCode = 1;
    m_unit->tunnel()->setFaults(refuse);
    std::string log;
    std::mutex mutex;
    platform::ScopedDebugSink sink([&](std::string_view text) {
        std::scoped_lock lock(mutex);
        log += text;
    });
    EXPECT_EQ(GetASPI32SupportInfo2(kUnit), 0xE500u);
    EXPECT_NE(log.find("(ASPI) 接続失敗 : -1\n"), std::string::npos) << log;
    EXPECT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u) << "a failed start is not repeated";
    EXPECT_EQ(m_unit->tunnel()->connections(), 1u);

    auto r = request({0x12, 0, 0, 0, 96, 0}, 96, true);
    EXPECT_EQ(run(*r), SS_ASPI_IS_BUSY) << "no connection: every exchange fails";
}

TEST_F(Transport, UnresolvableOrUnreachableUnitsGiveE400)
{
    EXPECT_EQ(GetASPI32SupportInfo2("no-such-unit.invalid"), 0xE400u);
    unloadTransport();
    loadTransport();
    EXPECT_EQ(GetASPI32SupportInfo2("127.0.0.9"), 0xE400u) << "connection refused";
    unloadTransport();
    loadTransport();
    // Without an argument the address comes from Drovik.ini.
    ASSERT_TRUE(platform::ensureFolder(platform::windowsFolder() / "twain_32"));
    ASSERT_TRUE(platform::Profile(platform::windowsFolder() / "twain_32" / "Drovik.ini")
                    .writeString("Setting", "Remote", kUnit));
    EXPECT_EQ(GetASPI32SupportInfo(), 0x0101u);
}

TEST_F(Transport, DispatchCodesOtherThanExecuteLeaveTheBlockAlone)
{
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    auto r = request({0x12, 0, 0, 0, 96, 0}, 96, true);
    for (uint8_t code : {SC_HA_INQUIRY, SC_GET_DEV_TYPE, SC_ABORT_SRB, SC_RESET_DEV,
                         SC_GET_DISK_INFO}) {
        r->block.SRB_Cmd = code;
        r->block.SRB_Status = 0x77;
        const SRB_ExecSCSICmd before = r->block;
        EXPECT_EQ(SendASPI32Command(&r->block), 0u);
        EXPECT_EQ(std::memcmp(&before, &r->block, sizeof before), 0);
    }
    r->block.SRB_Cmd = SC_SET_HA_PARMS;
    EXPECT_EQ(SendASPI32Command(&r->block), 0x101u);
    r->block.SRB_Cmd = 200;
    EXPECT_EQ(SendASPI32Command(&r->block), 0x101u);
    EXPECT_FALSE(r->done->wait(0ms)) << "nothing signalled";
    EXPECT_TRUE(requests().empty());
}

TEST_F(Transport, ImmediateFailuresCompleteBeforeTheCallReturns)
{
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    auto other = request({0x12, 0, 0, 0, 96, 0}, 96, true);
    other->block.SRB_Target = 4;
    EXPECT_EQ(SendASPI32Command(&other->block), SS_NO_DEVICE);
    EXPECT_EQ(other->block.SRB_Status, SS_NO_DEVICE);
    EXPECT_TRUE(other->done->wait(0ms)) << "signalled before the call returned";

    auto big = request({0x28, 0, 0, 0, 0, 0, 0x08, 0, 0x01, 0}, DROVIK_MAX_DATA + 1, true);
    EXPECT_EQ(SendASPI32Command(&big->block), SS_BUFFER_TO_BIG);
    auto longCdb = request({0x12, 0, 0, 0, 96, 0}, 96, true);
    longCdb->block.SRB_CDBLen = 17;
    EXPECT_EQ(SendASPI32Command(&longCdb->block), SS_INVALID_SRB);
    EXPECT_TRUE(requests().empty()) << "nothing was sent";

    auto sense = request({0xEE, 0, 0, 0, 0, 0}, 0, true);
    sense->block.SRB_SenseLen = 200;
    EXPECT_EQ(run(*sense), SS_ERR);
    EXPECT_EQ(sense->block.SRB_SenseLen, 24) << "more than 24 sense bytes are cut to 24";
}

TEST_F(Transport, InquiryTravelsAsOneTunnelRequestWithItsExactBytes)
{
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    auto r = request({0x12, 0, 0, 0, 96, 0}, 96, true);
    EXPECT_EQ(SendASPI32Command(&r->block), SS_PENDING);
    ASSERT_TRUE(r->done->wait(5s));
    EXPECT_EQ(r->block.SRB_Status, SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(r->data.data() + 16), 16), "ORBIX-4000      ");
    const auto sent = requests();
    ASSERT_EQ(sent.size(), 1u);
    const std::vector<uint8_t> expected{40, 0, 0, 0, 0x5A, 0x56, 0, 0, 1, 0, 0, 0, 6, 0,
                                        0, 0, 96, 0, 0, 0, 0, 0, 0, 0, 0x12, 0, 0, 0, 96, 0,
                                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(sent[0].header, expected) << "six CDB bytes, then ten zero bytes";
}

TEST_F(Transport, DataOutAndZeroLengthDataIn)
{
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    auto select = request({0x15, 0x10, 0, 0, 12, 0}, 12, false);
    const std::vector<uint8_t> page{0, 0, 0, 0, 0x3D, 6, 45, 0, 0, 0, 0, 0};
    select->data = page;
    select->block.SRB_BufPointer = select->data.data();
    EXPECT_EQ(run(*select), SS_COMP);
    EXPECT_EQ(select->data, page) << "the caller's buffer is left unchanged";
    EXPECT_EQ(m_unit->scanner()->lampTimer(), 45);

    auto ready = request({0x00, 0, 0, 0, 0, 0}, 0, true);
    EXPECT_EQ(run(*ready), SS_COMP);
    const auto sent = requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(shared::readLe32(sent[0].header, 0), 52u);
    EXPECT_EQ(shared::readLe32(sent[0].header, 20), 12u);
    EXPECT_EQ(sent[0].dataOutLength, 12u);
    EXPECT_EQ(shared::readLe32(sent[1].header, 0), 40u);
    EXPECT_EQ(shared::readLe32(sent[1].header, 16), 0u);
}

TEST_F(Transport, CheckConditionCopiesStatusAndTheAskedSenseBytes)
{
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    auto r = request({0xEE, 0, 0, 0, 0, 0}, 0, true);
    std::memset(r->block.SenseArea, 0xCC, sizeof r->block.SenseArea);
    r->block.SRB_SenseLen = 14;
    EXPECT_EQ(run(*r), SS_ERR);
    EXPECT_EQ(r->block.SRB_TargStat, 0x02);
    EXPECT_EQ(r->block.SenseArea[0], 0x70);
    EXPECT_EQ(r->block.SenseArea[2], 0x05) << "ILLEGAL REQUEST";
    EXPECT_EQ(r->block.SenseArea[12], 0x20) << "invalid operation code";
    EXPECT_EQ(r->block.SenseArea[14], 0xCC) << "bytes past SRB_SenseLen untouched";
}

TEST_F(Transport, FollowUpOfAnAnnouncedCommand)
{
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    auto ok = request({0xF1, 0x05, 0, 0, 8, 0}, 8, true);
    EXPECT_EQ(run(*ok), SS_COMP);
    auto sent = requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].header[24], 0xF1);
    EXPECT_EQ(shared::readLe32(sent[0].header, 16), 0u);
    EXPECT_EQ(sent[1].header[24], 0xF2);
    EXPECT_EQ(sent[1].header[25], 0x05);
    EXPECT_EQ(shared::readLe32(sent[1].header, 16), 8u);
    EXPECT_EQ(ok->data[1], 0xF2 ^ 1) << "the follow-up's data land in the caller's buffer";

    unitsim::TunnelFaults failF2;
    failF2.failOpcode = 0xF2;
    m_unit->tunnel()->setFaults(failF2);
    auto failed = request({0xF1, 0x05, 0, 0, 8, 0}, 8, true);
    EXPECT_EQ(run(*failed), SS_ERR);
    const uint8_t expectedSense[24] = {0xF0, 0, 0x02, 0, 0, 0, 0, 0x0A};
    EXPECT_EQ(std::memcmp(failed->block.SenseArea, expectedSense, 24), 0);

    unitsim::TunnelFaults failF1;
    failF1.failOpcode = 0xF1;
    m_unit->tunnel()->setFaults(failF1);
    const size_t before = requests().size();
    auto first = request({0xF1, 0x05, 0, 0, 8, 0}, 8, true);
    EXPECT_EQ(run(*first), SS_ERR);
    EXPECT_EQ(requests().size(), before + 1) << "no follow-up after a failed announcement";
}

TEST_F(Transport, TimeOutFailsTheRequestAndTheNextUsesTheSameConnection)
{
    setDataRecv("1");
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    unitsim::TunnelFaults silent;
    silent.silent = true;
    m_unit->tunnel()->setFaults(silent);
    auto r = request({0x12, 0, 0, 0, 96, 0}, 96, true);
    EXPECT_EQ(SendASPI32Command(&r->block), SS_PENDING);
    EXPECT_EQ(__atomic_load_n(&r->block.SRB_Status, __ATOMIC_ACQUIRE), SS_PENDING)
        << "pending until the worker finishes";
    EXPECT_TRUE(r->done->wait(3s));
    EXPECT_EQ(r->block.SRB_Status, SS_ASPI_IS_BUSY);

    m_unit->tunnel()->setFaults({});
    auto next = request({0x00, 0, 0, 0, 0, 0}, 0, true);
    EXPECT_EQ(run(*next), SS_COMP);
    EXPECT_EQ(m_unit->tunnel()->connections(), 1u);
}

TEST_F(Transport, AReplyThatArrivesAfterItsTimeOutIsNotTakenForTheNextOne)
{
    setDataRecv("1");
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    unitsim::TunnelFaults late;
    late.delay = 1500ms;
    m_unit->tunnel()->setFaults(late);
    auto first = request({0x12, 0, 0, 0, 96, 0}, 96, true);
    EXPECT_EQ(run(*first), SS_ASPI_IS_BUSY);
    m_unit->tunnel()->setFaults({});
    std::this_thread::sleep_for(1s); // the standard INQUIRY's reply arrives meanwhile

    auto vpd = request({0x12, 1, 0xF0, 0, 100, 0}, 100, true);
    EXPECT_EQ(run(*vpd), SS_COMP);
    EXPECT_EQ(vpd->data[0], 0x06);
    EXPECT_EQ(vpd->data[1], 0xF0) << "the VPD page, not the late standard INQUIRY data";
    auto ready = request({0x00, 0, 0, 0, 0, 0}, 0, true);
    EXPECT_EQ(run(*ready), SS_COMP) << "the stream is in step again";
    EXPECT_EQ(m_unit->tunnel()->connections(), 1u);
}

TEST_F(Transport, AReplyCutShortFailsTheRequest)
{
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    unitsim::TunnelFaults cut;
    cut.closeAfter = 40 + 50;
    m_unit->tunnel()->setFaults(cut);
    auto r = request({0x12, 0, 0, 0, 96, 0}, 96, true);
    EXPECT_EQ(run(*r), SS_ASPI_IS_BUSY) << "never success with missing bytes";

    // The connection is not opened again: later requests fail at once, and
    // writing to the closed connection raises no signal.
    m_unit->tunnel()->setFaults({});
    for (int i = 0; i < 3; ++i) {
        auto next = request({0x00, 0, 0, 0, 0, 0}, 0, true);
        EXPECT_EQ(run(*next, 2s), SS_ASPI_IS_BUSY);
    }
    EXPECT_EQ(m_unit->tunnel()->connections(), 1u);
}

// Requests that callers send themselves while the worker waits for
// arrivals: the worker must still bound each wait, send what the socket did
// not take, and not spin on a connection that has ended.
class SentByTheCaller : public Transport {
protected:
    void SetUp() override
    {
        Transport::SetUp();
        ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
        auto warm = request({0x00, 0, 0, 0, 0, 0}, 0, true);
        ASSERT_EQ(run(*warm), SS_COMP);
        std::this_thread::sleep_for(50ms); // the worker waits for arrivals again
    }
};

TEST_F(SentByTheCaller, AShorterTimeOutSetMeanwhileBoundsTheWaitForTheReply)
{
    setDataRecv("1"); // the worker waits with the default it read before
    unitsim::TunnelFaults silent;
    silent.silent = true;
    m_unit->tunnel()->setFaults(silent);
    auto r = request({0x12, 0, 0, 0, 96, 0}, 96, true);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(run(*r, 5s), SS_ASPI_IS_BUSY);
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 3s);

    m_unit->tunnel()->setFaults({});
    auto next = request({0x12, 1, 0xF0, 0, 100, 0}, 100, true);
    EXPECT_EQ(run(*next), SS_COMP);
    EXPECT_EQ(next->data[1], 0xF0);
    EXPECT_EQ(m_unit->tunnel()->connections(), 1u);
}

TEST_F(SentByTheCaller, TheLargestDataOutGoesOutWholeAndTheStreamStaysInStep)
{
    auto write = request({0x2A, 0, 0x85, 0, 0, 0, 0, 0, 0x80, 0}, DROVIK_MAX_DATA, false);
    for (size_t i = 0; i < write->data.size(); ++i)
        write->data[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(run(*write), SS_COMP);
    const auto sent = requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].dataOutLength, DROVIK_MAX_DATA);
    EXPECT_EQ(shared::readLe32(sent[1].header, 0), 40u + DROVIK_MAX_DATA);

    auto read = request({0x28, 0, 0x69, 0, 0, 0, 0, 0, 0x80, 0}, 128, true);
    EXPECT_EQ(run(*read), SS_COMP) << "the stream is in step after it";
    EXPECT_TRUE(std::equal(read->data.begin(), read->data.end(), write->data.begin()));
}

TEST_F(SentByTheCaller, AConnectionTheUnitClosedCostsNothingWhileIdle)
{
    unitsim::TunnelFaults closing;
    closing.closeAfter = 0;
    m_unit->tunnel()->setFaults(closing);
    auto r = request({0x12, 0, 0, 0, 96, 0}, 96, true);
    EXPECT_EQ(run(*r), SS_ASPI_IS_BUSY);

    std::this_thread::sleep_for(50ms);
    const std::clock_t before = std::clock();
    std::this_thread::sleep_for(300ms);
    const double busy = static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
    EXPECT_LT(busy, 0.1) << "the worker must not wait in a loop on a closed connection";

    m_unit->tunnel()->setFaults({});
    auto next = request({0x00, 0, 0, 0, 0, 0}, 0, true);
    EXPECT_EQ(run(*next, 2s), SS_ASPI_IS_BUSY);
    EXPECT_EQ(m_unit->tunnel()->connections(), 1u) << "never opened again";
}

TEST_F(Transport, ACompletionRoutineMaySubmitSeveralRequestsThatRunInOrder)
{
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    static SRB_ExecSCSICmd* second;
    static SRB_ExecSCSICmd* third;
    auto ready = request({0x00, 0, 0, 0, 0, 0}, 0, true);
    auto vpd = request({0x12, 1, 0xF0, 0, 100, 0}, 100, true);
    second = &ready->block;
    third = &vpd->block;
    auto first = request({0x12, 0, 0, 0, 96, 0}, 96, true);
    first->block.SRB_Flags = SRB_POSTING | SRB_DIR_IN;
    first->block.SRB_PostProc = reinterpret_cast<void*>(+[](SRB_ExecSCSICmd*) {
        EXPECT_EQ(SendASPI32Command(second), SS_PENDING);
        EXPECT_EQ(SendASPI32Command(third), SS_PENDING) << "queued, never waited for";
    });
    EXPECT_EQ(SendASPI32Command(&first->block), SS_PENDING);
    ASSERT_TRUE(vpd->done->wait(5s));
    ASSERT_TRUE(ready->done->wait(0ms));
    EXPECT_EQ(first->block.SRB_Status, SS_COMP);
    EXPECT_EQ(ready->block.SRB_Status, SS_COMP);
    EXPECT_EQ(vpd->block.SRB_Status, SS_COMP);
    EXPECT_EQ(vpd->data[1], 0xF0);
    const auto sent = requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].header[24], 0x12);
    EXPECT_EQ(sent[1].header[24], 0x00);
    EXPECT_EQ(sent[2].header[25], 0x01) << "in the order submitted";
}

TEST_F(Transport, RoutineCompletionMaySubmitTheNextRequest)
{
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    static std::atomic<int> completed;
    static SRB_ExecSCSICmd* next;
    static std::thread::id completionThread;
    completed = 0;
    auto second = request({0x00, 0, 0, 0, 0, 0}, 0, true);
    next = &second->block;
    auto first = request({0x12, 0, 0, 0, 96, 0}, 96, true);
    first->block.SRB_Flags = SRB_POSTING | SRB_DIR_IN;
    first->block.SRB_PostProc = reinterpret_cast<void*>(+[](SRB_ExecSCSICmd* done) {
        completionThread = std::this_thread::get_id();
        ++completed;
        EXPECT_EQ(done->SRB_Status, SS_COMP);
        EXPECT_EQ(SendASPI32Command(next), SS_PENDING) << "submitted from the completion";
    });
    EXPECT_EQ(SendASPI32Command(&first->block), SS_PENDING);
    ASSERT_TRUE(second->done->wait(5s)) << "no deadlock";
    EXPECT_EQ(second->block.SRB_Status, SS_COMP);
    EXPECT_EQ(completed.load(), 1);
    EXPECT_NE(completionThread, std::this_thread::get_id()) << "completion on another thread";
}

TEST_F(Transport, SubmissionsFromSeveralThreadsAreSerialised)
{
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    std::atomic<int> wrong{0};
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                auto r = request({0x12, 0, 0, 0, 96, 0}, 96, true);
                if (run(*r) != SS_COMP ||
                    std::string(reinterpret_cast<char*>(r->data.data() + 16), 10) != "ORBIX-4000")
                    ++wrong;
            }
        });
    }
    threads.clear();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(requests().size(), 100u);
}

TEST_F(Transport, PollingCompletionAndEventDescriptors)
{
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    auto polled = request({0x00, 0, 0, 0, 0, 0}, 0, true);
    polled->block.SRB_Flags = SRB_DIR_IN; // neither event nor routine
    ASSERT_EQ(SendASPI32Command(&polled->block), SS_PENDING);
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (__atomic_load_n(&polled->block.SRB_Status, __ATOMIC_ACQUIRE) == SS_PENDING &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(polled->block.SRB_Status, SS_COMP);

    auto evented = request({0x00, 0, 0, 0, 0, 0}, 0, true);
    ASSERT_EQ(SendASPI32Command(&evented->block), SS_PENDING);
    pollfd p{evented->done->fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 5000), 1) << "a plain eventfd a client can poll";
    // The platform's wait as well, which orders the worker's signal before
    // this thread closes the descriptor in a way the thread sanitizer sees.
    EXPECT_TRUE(evented->done->wait(0ms));
}

TEST_F(Transport, LogFileIsWrittenOnlyWhenItExists)
{
    const auto path = platform::systemFolder() / "DROVIK32.LOG";
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    EXPECT_FALSE(std::filesystem::exists(path));

    unloadTransport();
    resetLogForTests();
    std::ofstream(path) << "old content\n";
    loadTransport();
    ASSERT_EQ(GetASPI32SupportInfo2(kUnit), 0x0101u);
    auto r = request({0x00, 0, 0, 0, 0, 0}, 0, true);
    EXPECT_EQ(run(*r), SS_COMP);
    const std::string text = *platform::readWholeFile(path);
    EXPECT_EQ(text.find("old content"), std::string::npos) << "replaced at the first message";
    const size_t firstBreak = text.find('\n');
    ASSERT_NE(firstBreak, std::string::npos);
    EXPECT_EQ(text.substr(firstBreak + 1).rfind("(ASPI) ", 0), 0u) << text;
    EXPECT_NE(text.find("(ASPI) 00 00 00 00 00 00\n"), std::string::npos) << text;
    EXPECT_NE(text.find("(ASPI) >Send Scsi Command \n"), std::string::npos);
}

TEST_F(Transport, AProgramThatExitsWithTheTransportLoadedEndsWithItsOwnStatus)
{
    // 127.0.0.3 answers nothing on its tunnel: a request stays in flight.
    unitsim::UnitConfig silentConfig;
    silentConfig.address = *platform::resolveUnitAddress("127.0.0.3");
    auto silent = unitsim::SimulatedUnit::start(silentConfig);
    ASSERT_TRUE(silent) << silent.error().text;
    unitsim::TunnelFaults faults;
    faults.silent = true;
    (*silent)->tunnel()->setFaults(faults);

    const auto bin = platform::programFolder();
    const std::string library = (bin / "libdrovik32.so").string();
    struct Case {
        std::string program, unit, mode;
        int status;
    } cases[] = {
        {"exit_with_transport", kUnit, "idle", 7},
        {"exit_with_linked_transport", kUnit, "idle", 7},
        {"exit_with_transport", "127.0.0.3", "in-flight", 8},
        {"exit_with_linked_transport", "127.0.0.3", "in-flight", 8},
        {"exit_with_transport", kUnit, "thread", 9},
        {"exit_with_linked_transport", kUnit, "thread", 9},
        {"exit_with_transport", kUnit, "routine", 10},
    };
    for (const Case& c : cases) {
        for (int round = 0; round < 3; ++round) {
            auto program = platform::Process::start(
                {(bin / c.program).string(), library, c.unit, c.mode});
            ASSERT_TRUE(program) << program.error().text;
            const auto status = program->wait(10s);
            if (!status)
                (void)program->terminate(9);
            EXPECT_EQ(status, std::optional<int>(c.status)) << c.program << " " << c.mode;
        }
    }
}

} // namespace
} // namespace lumarc::scsinet
