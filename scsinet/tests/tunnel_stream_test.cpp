// The tunnel's stream against a unit that misbehaves: surplus, duplicate,
// late, broken and stray replies. Whatever the unit sends, as long as its
// length words are right, no request is handed another request's reply.
#include "tunnel.h"

#include "platform/event.h"
#include "platform/net_socket.h"
#include "platform/unit_address.h"
#include "shared/message_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <tuple>

namespace lumarc::scsinet {
namespace {

using namespace std::chrono_literals;

constexpr const char* kUnit = "127.0.0.7";
constexpr std::chrono::seconds kWait{1};

// A reply whose data bytes and first sense byte all carry `mark`.
std::vector<uint8_t> reply(uint8_t mark, size_t dataIn, uint8_t status = 0,
                           std::optional<uint32_t> length = std::nullopt)
{
    std::vector<uint8_t> bytes(kTunnelHeader + dataIn, mark);
    std::memset(bytes.data(), 0, kTunnelHeader);
    shared::writeLe32(bytes, 0, length.value_or(static_cast<uint32_t>(bytes.size())));
    shared::writeLe32(bytes, 4, shared::kUnitMagic);
    bytes[12] = status;
    bytes[16] = mark;
    return bytes;
}

// A unit's tunnel port that answers as the test says. `answer` gets each
// request's index and CDB and writes to the connection what it likes.
class ScriptedUnit {
public:
    using Answer = std::function<void(size_t index, const uint8_t* cdb, int fd)>;

    // maxSegment, when given, is the segment size the unit announces: the
    // PC's socket then takes far less at once.
    explicit ScriptedUnit(Answer answer, int maxSegment = 0) : m_answer(std::move(answer))
    {
        auto listening = platform::listenTcp({*platform::resolveUnitAddress(kUnit), kTunnelPort});
        EXPECT_TRUE(listening) << listening.error().text;
        m_listening = std::move(*listening);
        if (maxSegment != 0)
            ::setsockopt(m_listening.get(), IPPROTO_TCP, TCP_MAXSEG, &maxSegment,
                         sizeof maxSegment);
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedUnit()
    {
        m_stopping = true;
        platform::shutdownBoth(m_listening.get());
        if (m_connection >= 0)
            platform::shutdownBoth(m_connection);
        m_thread.join();
    }

    // The data-out of the last request.
    std::vector<uint8_t> lastDataOut()
    {
        std::scoped_lock lock(m_mutex);
        return m_lastDataOut;
    }

private:
    void serve()
    {
        auto connection = platform::acceptTcp(m_listening.get());
        if (!connection)
            return;
        m_connection = connection->get();
        const int fd = connection->get();
        (void)platform::sendAll(fd, shared::encodeHeader(shared::bareHeader(0, shared::kUnitMagic)));
        for (size_t index = 0; !m_stopping; ++index) {
            uint8_t header[kTunnelHeader];
            const std::span<uint8_t> part[] = {header};
            auto got = platform::receiveAllParts(fd, part);
            if (!got || *got < kTunnelHeader)
                return;
            std::vector<uint8_t> dataOut(shared::readLe32(header, 0) - kTunnelHeader);
            const std::span<uint8_t> out[] = {dataOut};
            if (!platform::receiveAllParts(fd, out))
                return;
            {
                std::scoped_lock lock(m_mutex);
                m_lastDataOut = dataOut;
            }
            m_answer(index, header + 24, fd);
        }
    }

    Answer m_answer;
    platform::UniqueFd m_listening;
    std::atomic<int> m_connection{-1};
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    std::vector<uint8_t> m_lastDataOut;
    std::thread m_thread;
};

void send(int fd, const std::vector<uint8_t>& bytes)
{
    (void)platform::sendAll(fd, bytes);
}

// The follow-up requests alternate between an INQUIRY (96 bytes in) and a
// TEST UNIT READY (no data) that the unit answers with CHECK CONDITION, so
// replies of both lengths follow each other.
bool isInquiry(size_t index) { return index % 2 == 1; }

void answerFollowUp(size_t index, int fd)
{
    const auto mark = static_cast<uint8_t>(index);
    send(fd, isInquiry(index) ? reply(mark, 96) : reply(mark, 0, 2));
}

struct Outcome {
    int32_t result;
    uint8_t scsi;
    uint8_t sense;
    std::vector<uint8_t> data;
};

// How the PC side runs each request: as one exchange; in two halves on two
// threads, as a caller and the worker do; or as one exchange after the
// worker, idle between requests, has dropped what arrived.
enum class Mode { Whole, Halves, DrainedBetween };

Outcome exchange(TunnelConnection& tunnel, size_t index, Mode mode = Mode::Whole)
{
    SRB_ExecSCSICmd block{};
    std::vector<uint8_t> data(isInquiry(index) ? 96 : 0, 0xCC);
    block.SRB_Target = 5;
    block.SRB_Flags = isInquiry(index) ? SRB_DIR_IN : 0;
    block.SRB_BufLen = static_cast<uint32_t>(data.size());
    block.SRB_BufPointer = data.data();
    block.SRB_SenseLen = 18;
    block.SRB_CDBLen = 6;
    block.CDBByte[0] = isInquiry(index) ? 0x12 : 0x00;
    block.CDBByte[4] = isInquiry(index) ? 96 : 0;
    Outcome outcome{};
    if (mode == Mode::DrainedBetween) {
        std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(tunnel.dropArrived()) << "the connection is still open";
    }
    if (mode == Mode::Halves) {
        TunnelExchange x;
        outcome.result = tunnel.startRequest(block, x, false);
        if (outcome.result == 0)
            std::thread([&] {
                outcome.result = tunnel.finishRequest(block, x, &outcome.scsi, kWait);
            }).join();
    } else {
        outcome.result = tunnel.exchange(block, &outcome.scsi, kWait);
    }
    outcome.sense = block.SenseArea[0];
    outcome.data = data;
    return outcome;
}

struct Misbehaviour {
    const char* name;
    // How the unit answers request 1 (an INQUIRY) and, where it matters,
    // request 2; other requests are answered normally.
    std::function<void(size_t index, int fd)> answer;
    bool firstFails; // request 1 cannot succeed (its reply came too late or broke off)
};

void PrintTo(const Misbehaviour& m, std::ostream* out)
{
    *out << m.name;
}

class TunnelStream : public ::testing::TestWithParam<std::tuple<Misbehaviour, Mode>> {};

TEST_P(TunnelStream, EveryLaterRequestGetsItsOwnReply)
{
    const Misbehaviour& m = std::get<0>(GetParam());
    const Mode mode = std::get<1>(GetParam());
    ScriptedUnit unit([&](size_t index, const uint8_t*, int fd) {
        if (index == 1 || index == 2)
            m.answer(index, fd);
        else
            answerFollowUp(index, fd);
    });
    TunnelConnection tunnel;
    ASSERT_EQ(tunnel.open(*platform::resolveUnitAddress(kUnit), kWait), 0);
    ASSERT_EQ(exchange(tunnel, 0, mode).scsi, 2);
    const Outcome first = exchange(tunnel, 1, mode);
    if (m.firstFails) {
        EXPECT_NE(first.result, 0) << m.name;
    } else {
        EXPECT_EQ(first.result, 0) << m.name;
        EXPECT_EQ(first.data, std::vector<uint8_t>(96, 1)) << m.name;
    }
    for (size_t index = 2; index < 40; ++index) {
        const Outcome o = exchange(tunnel, index, mode);
        ASSERT_EQ(o.result, 0) << m.name << ", request " << index;
        EXPECT_EQ(o.sense, index) << m.name << ", request " << index << ": another request's reply";
        EXPECT_EQ(o.scsi, isInquiry(index) ? 0 : 2) << m.name << ", request " << index;
        if (isInquiry(index)) {
            EXPECT_EQ(o.data, std::vector<uint8_t>(96, static_cast<uint8_t>(index)))
                << m.name << ", request " << index;
        }
    }
    tunnel.close();
}

void pause(std::chrono::milliseconds time) { std::this_thread::sleep_for(time); }

const Misbehaviour kMisbehaviours[] = {
    {"surplus behind the reply",
     [](size_t index, int fd) {
         if (index != 1)
             return answerFollowUp(index, fd);
         auto longer = reply(1, 96, 0, 40 + 96 + 64);
         longer.resize(40 + 96 + 64, 0xEE);
         send(fd, longer);
     },
     false},
    {"a duplicate reply",
     [](size_t index, int fd) {
         if (index != 1)
             return answerFollowUp(index, fd);
         auto twice = reply(1, 96);
         const auto again = twice;
         twice.resize(twice.size() * 2);
         std::copy(again.begin(), again.end(), twice.begin() + static_cast<ptrdiff_t>(again.size()));
         send(fd, twice); // both there before the next request goes out
     },
     false},
    {"a duplicate whose rest comes after the next request",
     [](size_t index, int fd) {
         if (index != 1)
             return answerFollowUp(index, fd);
         // The reply and the start of its duplicate in one segment: they
         // are there before the next request goes out, the rest is not.
         auto bytes = reply(1, 96);
         const auto again = reply(1, 96);
         bytes.resize(bytes.size() + 50);
         std::copy(again.begin(), again.begin() + 50, bytes.end() - 50);
         send(fd, bytes);
         pause(50ms); // the PC sends the next request meanwhile
         send(fd, std::vector<uint8_t>(again.begin() + 50, again.end()));
     },
     false},
    {"a short stray reply before the real one",
     [](size_t index, int fd) {
         if (index == 1)
             send(fd, reply(0x77, 0));
         answerFollowUp(index, fd);
     },
     false},
    {"a late reply that arrives before the next request",
     [](size_t index, int fd) {
         if (index == 1)
             pause(1300ms); // past the PC's one-second wait; the next request comes later
         answerFollowUp(index, fd);
     },
     true},
    {"a late reply that arrives after the next request was sent",
     [](size_t index, int fd) {
         if (index == 1)
             return; // held back until the next request arrives
         if (index == 2)
             answerFollowUp(1, fd);
         answerFollowUp(index, fd);
     },
     true},
    {"a reply broken off by the time-out, its rest after the next request",
     [](size_t index, int fd) {
         if (index == 1) {
             const auto whole = reply(1, 96);
             send(fd, std::vector<uint8_t>(whole.begin(), whole.begin() + 60));
             return;
         }
         if (index == 2) {
             const auto whole = reply(1, 96);
             send(fd, std::vector<uint8_t>(whole.begin() + 60, whole.end()));
         }
         answerFollowUp(index, fd);
     },
     true},
    {"a length word left at zero (not believed)",
     [](size_t index, int fd) {
         auto bytes = isInquiry(index) ? reply(static_cast<uint8_t>(index), 96)
                                       : reply(static_cast<uint8_t>(index), 0, 2);
         shared::writeLe32(bytes, 0, 0);
         send(fd, bytes);
     },
     false},
};

std::string caseName(const ::testing::TestParamInfo<TunnelStream::ParamType>& row)
{
    static const char* const kModes[] = {"whole", "halves", "drained"};
    return "case" + std::to_string(row.index / std::size(kModes)) + "_" +
           kModes[static_cast<int>(std::get<1>(row.param))];
}

INSTANTIATE_TEST_SUITE_P(Misbehaviours, TunnelStream,
                         ::testing::Combine(::testing::ValuesIn(kMisbehaviours),
                                            ::testing::Values(Mode::Whole, Mode::Halves,
                                                              Mode::DrainedBetween)),
                         caseName);

TEST(TunnelStreamLimits, AUnitThatAnnouncesBytesItNeverSendsCostsOneRequest)
{
    // The length word says 100 bytes more than the reply carries: the PC
    // waits for them in vain once, then serves the next requests.
    ScriptedUnit unit([](size_t index, const uint8_t*, int fd) {
        if (index == 1)
            return send(fd, reply(1, 96, 0, 40 + 96 + 100));
        answerFollowUp(index, fd);
    });
    TunnelConnection tunnel;
    ASSERT_EQ(tunnel.open(*platform::resolveUnitAddress(kUnit), kWait), 0);
    EXPECT_EQ(exchange(tunnel, 0).result, 0);
    EXPECT_NE(exchange(tunnel, 1).result, 0);
    for (size_t index = 2; index < 6; ++index) {
        const Outcome o = exchange(tunnel, index);
        EXPECT_EQ(o.result, 0) << index;
        EXPECT_EQ(o.sense, index) << index;
    }
    tunnel.close();
}

TEST(TunnelStreamLimits, AReplyGivenUpBeforeItBeganIsKnownByItsLengthWhenItComes)
{
    // The worker gives up on a reply that has not begun within the time-out
    // while it waits for arrivals, not in a receive: the reply that comes
    // later must still not be taken for the next request's.
    ScriptedUnit unit([](size_t index, const uint8_t*, int fd) {
        if (index == 1)
            return; // held back until the next request arrives
        if (index == 2)
            answerFollowUp(1, fd);
        answerFollowUp(index, fd);
    });
    TunnelConnection tunnel;
    ASSERT_EQ(tunnel.open(*platform::resolveUnitAddress(kUnit), kWait), 0);
    EXPECT_EQ(exchange(tunnel, 0).result, 0);

    SRB_ExecSCSICmd block{};
    std::vector<uint8_t> data(96, 0xCC);
    block.SRB_Flags = SRB_DIR_IN;
    block.SRB_BufLen = 96;
    block.SRB_BufPointer = data.data();
    block.SRB_CDBLen = 6;
    block.CDBByte[0] = 0x12;
    block.CDBByte[4] = 96;
    TunnelExchange x;
    ASSERT_EQ(tunnel.startRequest(block, x, false), 0);
    EXPECT_EQ(x.sent, x.request.size()) << "a small request goes out at once";
    EXPECT_EQ(tunnel.replyTimedOut(x), -1);
    EXPECT_EQ(data, std::vector<uint8_t>(96, 0xCC)) << "nothing taken for the caller";

    for (size_t index = 2; index < 6; ++index) {
        const Outcome o = exchange(tunnel, index);
        ASSERT_EQ(o.result, 0) << index;
        EXPECT_EQ(o.sense, index) << index << ": another request's reply";
    }
    tunnel.close();
}

TEST(TunnelStreamLimits, WhatTheSocketDidNotTakeAtOnceIsSentByTheSecondHalf)
{
    ScriptedUnit unit(
        [](size_t index, const uint8_t* cdb, int fd) {
            if (cdb[0] == 0x2A)
                return send(fd, reply(static_cast<uint8_t>(index), 0));
            answerFollowUp(index, fd);
        },
        536);
    TunnelConnection tunnel;
    ASSERT_EQ(tunnel.open(*platform::resolveUnitAddress(kUnit), kWait), 0);
    std::vector<uint8_t> data(DROVIK_MAX_DATA);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 13 + i / 256);
    SRB_ExecSCSICmd block{};
    block.SRB_BufLen = static_cast<uint32_t>(data.size());
    block.SRB_BufPointer = data.data();
    block.SRB_CDBLen = 10;
    block.CDBByte[0] = 0x2A;
    TunnelExchange x;
    ASSERT_EQ(tunnel.startRequest(block, x, false), 0);
    ASSERT_LT(x.sent, x.request.size()) << "the socket took it all: nothing left to test";
    uint8_t scsi = 0xFF;
    EXPECT_EQ(tunnel.finishRequest(block, x, &scsi, kWait), 0);
    EXPECT_EQ(scsi, 0);
    EXPECT_EQ(unit.lastDataOut(), data) << "every byte, in order";
    EXPECT_EQ(exchange(tunnel, 1).sense, 1) << "the stream is in step after it";
    tunnel.close();
}

TEST(TunnelStreamLimits, AClosedConnectionIsNoLongerWorthWatching)
{
    ScriptedUnit unit([](size_t index, const uint8_t*, int fd) {
        answerFollowUp(index, fd);
        if (index == 0)
            platform::shutdownBoth(fd); // the unit goes away after its reply
    });
    TunnelConnection tunnel;
    ASSERT_EQ(tunnel.open(*platform::resolveUnitAddress(kUnit), kWait), 0);
    EXPECT_GE(tunnel.arrivalFd(), 0);
    EXPECT_EQ(exchange(tunnel, 0).result, 0);
    pollfd p{tunnel.arrivalFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1) << "the close is news for the watcher";
    EXPECT_FALSE(tunnel.dropArrived());
    EXPECT_EQ(tunnel.arrivalFd(), -1) << "a closed connection is readable for ever";
    EXPECT_NE(exchange(tunnel, 1).result, 0);
    tunnel.close();
}

} // namespace
} // namespace lumarc::scsinet
