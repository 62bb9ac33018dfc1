// Discovery against simulated units, inside the test network namespace.
#include "mgmt/discovery.h"
#include "mgmt/zorvan.h"
#include "platform/debug_output.h"
#include "platform/folders.h"
#include "platform/net_socket.h"
#include "platform/tests/temp_folder.h"
#include "platform/unit_address.h"
#include "shared/message_header.h"
#include "shared/settings_file.h"
#include "unitsim/discovery_responder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <thread>
#include <mutex>
#include <set>

namespace lumarc::mgmt {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Discovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(platform::ensureFolder(shared::settingsFolder()));
        ASSERT_TRUE(shared::SettingsFile().write("TimeOut", "SearchBox", "1"));
        ASSERT_EQ(Zorvan_Startup(0, 0), 0);
    }
    void TearDown() override
    {
        m_responders.clear();
        Zorvan_Cleanup();
    }
    unitsim::UnitState& addUnit(const std::string& address, const std::string& name,
                                bool scanner = true, std::chrono::milliseconds delay = 0ms)
    {
        unitsim::UnitConfig config;
        config.address = *platform::resolveUnitAddress(address);
        config.name = name;
        if (!scanner)
            config.scanner.reset();
        config.mac[5] = static_cast<uint8_t>(m_states.size());
        m_states.push_back(std::make_unique<unitsim::UnitState>(config));
        auto responder = unitsim::DiscoveryResponder::start(*m_states.back());
        EXPECT_TRUE(responder) << responder.error().text;
        unitsim::DiscoveryFaults faults;
        faults.delay = delay;
        (*responder)->setFaults(faults);
        m_responders.push_back(std::move(*responder));
        return *m_states.back();
    }
    std::vector<const UnitNode*> nodes(const UnitNode* head)
    {
        std::vector<const UnitNode*> list;
        for (const UnitNode* n = head; n != nullptr && n->address != 0; n = n->next)
            list.push_back(n);
        return list;
    }

    lumarc::testing::SandboxEnvironment m_sandbox;
    std::vector<std::unique_ptr<unitsim::UnitState>> m_states;
    std::vector<std::unique_ptr<unitsim::DiscoveryResponder>> m_responders;
};

TEST(DiscoveryCodec, RequestCarriesTheOwnAddressLittleEndianInNumberForm)
{
    const auto request = discoveryRequest(0xC0A8010A); // 192.168.1.10
    EXPECT_EQ(request, (std::array<uint8_t, 12>{0x5A, 0x56, 0, 0, 0x0A, 0x01, 0xA8, 0xC0, 0, 0,
                                                0, 0}));
}

TEST_F(Discovery, NoUnitGivesTheTerminalNodeAfterTheTimeOut)
{
    auto begin = Clock::now();
    UnitNode* head = Zorvan_SearchBoxAll();
    auto took = Clock::now() - begin;
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->address, 0u);
    EXPECT_EQ(head->next, nullptr);
    EXPECT_GE(took, 1100ms) << "the time-out plus the 100 ms pause";
    EXPECT_LT(took, 3000ms);
    Zorvan_FreeSearchBoxAll(head);
    Zorvan_FreeSearchBoxAll(nullptr);

    uint32_t address = 0xCCCCCCCC;
    begin = Clock::now();
    EXPECT_EQ(Zorvan_SearchBox(&address), ZORVAN_NO_UNIT_ANSWERED);
    EXPECT_GE(Clock::now() - begin, 1000ms);
    EXPECT_EQ(address, 0xCCCCCCCCu) << "output written only on success";
}

TEST_F(Discovery, ThreeUnitsAreListedInArrivalOrder)
{
    addUnit("127.0.0.4", "third", true, 150ms);
    addUnit("127.0.0.2", "first", true, 0ms);
    addUnit("127.0.0.3", "second", false, 75ms);
    UnitNode* head = Zorvan_SearchBoxAll();
    ASSERT_NE(head, nullptr);
    const auto list = nodes(head);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]->address, 0x7F000002u) << "number form, first octet most significant";
    EXPECT_STREQ(list[0]->name, "first");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(list[0]->inquiry + 16), 16),
              "ORBIX-4000      ");
    EXPECT_EQ(list[0]->scannerPresent, 1u);
    EXPECT_STREQ(list[1]->name, "second");
    EXPECT_EQ(list[1]->scannerPresent, 0u);
    for (uint8_t byte : list[1]->inquiry)
        ASSERT_EQ(byte, 0) << "a short answer inherits nothing from the one before";
    EXPECT_STREQ(list[2]->name, "third");
    EXPECT_EQ(list[2]->next->address, 0u);
    EXPECT_EQ(list[2]->next->next, nullptr);
    Zorvan_FreeSearchBoxAll(head);

    uint32_t address = 0;
    ASSERT_EQ(Zorvan_SearchBox(&address), 0u);
    EXPECT_EQ(platform::addressText(address), "127.0.0.2") << "network byte order";
}

TEST_F(Discovery, AnswersWithAWrongMagicAreIgnored)
{
    addUnit("127.0.0.2", "good");
    unitsim::UnitState& bad = addUnit("127.0.0.3", "bad");
    (void)bad;
    unitsim::DiscoveryFaults wrong;
    wrong.wrongMagic = true;
    m_responders.back()->setFaults(wrong);
    std::string debug;
    std::mutex mutex;
    platform::ScopedDebugSink sink([&](std::string_view text) {
        std::scoped_lock lock(mutex);
        debug += text;
    });
    UnitNode* head = Zorvan_SearchBoxAll();
    ASSERT_NE(head, nullptr);
    const auto list = nodes(head);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_STREQ(list[0]->name, "good");
    Zorvan_FreeSearchBoxAll(head);
    EXPECT_NE(debug.find("(Quillet) Key Code differ\n"), std::string::npos);
    EXPECT_NE(debug.find("(Quillet) Ip address "), std::string::npos);
}

TEST_F(Discovery, AHundredUnitsAnsweringAtOnceAreEachListedOnce)
{
    std::set<uint32_t> expected;
    for (int i = 0; i < 100; ++i) {
        const std::string address = "127.0.1." + std::to_string(i + 1);
        addUnit(address, "unit" + std::to_string(i), true,
                std::chrono::milliseconds(i % 50)); // all within 50 ms
        expected.insert(ntohl(*platform::resolveUnitAddress(address)));
    }
    const auto begin = Clock::now();
    UnitNode* head = Zorvan_SearchBoxAll();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin);
    ASSERT_NE(head, nullptr);
    std::multiset<uint32_t> seen;
    for (const UnitNode* n : nodes(head))
        seen.insert(n->address);
    Zorvan_FreeSearchBoxAll(head);
    EXPECT_EQ(seen.size(), 100u);
    EXPECT_EQ(std::set<uint32_t>(seen.begin(), seen.end()), expected);
    // Every answer restarts the wait, so the search ends one time-out after
    // the last answer.
    std::printf("[ measure  ] 100 units: collecting search took %lld ms (time-out 1000 ms)\n",
                static_cast<long long>(took.count()));
    EXPECT_LT(took, 3000ms);
}

// A responder that answers each discovery request again and again, with
// the unit address it is given (0 too), until it is destroyed.
class RepeatingResponder {
public:
    RepeatingResponder(uint32_t unitAddressNumberForm, std::chrono::milliseconds every)
    {
        auto socket = platform::bindUdp({0, kDiscoveryPort});
        EXPECT_TRUE(socket) << socket.error().text;
        m_socket = std::move(*socket);
        m_thread = std::jthread([this, unitAddressNumberForm, every](std::stop_token stop) {
            std::array<uint8_t, 64> request{};
            platform::Endpoint from;
            auto ready = platform::waitReadable(m_socket.get(), 5s);
            if (!ready || !*ready || !platform::receiveDatagram(m_socket.get(), request, &from))
                return;
            std::array<uint8_t, kDiscoveryReplySize> reply{};
            shared::writeLe32(reply, 0, shared::kUnitMagic);
            shared::writeLe32(reply, 4, unitAddressNumberForm);
            std::memcpy(&reply[16], "chatty", 6);
            while (!stop.stop_requested()) {
                (void)platform::sendDatagram(m_socket.get(), from, reply);
                std::this_thread::sleep_for(every);
            }
        });
    }

private:
    platform::UniqueFd m_socket;
    std::jthread m_thread;
};

TEST_F(Discovery, AUnitThatKeepsAnsweringIsListedOnceAndCannotProlongTheSearch)
{
    addUnit("127.0.0.2", "quiet");
    RepeatingResponder chatty(0x7F000003, 20ms); // 127.0.0.3, fifty times a second
    const auto begin = Clock::now();
    UnitNode* head = Zorvan_SearchBoxAll();
    const auto took = Clock::now() - begin;
    ASSERT_NE(head, nullptr);
    const auto list = nodes(head);
    std::multiset<std::string> names;
    for (const UnitNode* n : list)
        names.insert(n->name);
    Zorvan_FreeSearchBoxAll(head);
    EXPECT_EQ(names, (std::multiset<std::string>{"chatty", "quiet"}));
    // Repeated answers restart nothing: one time-out after the last new
    // unit, and never past three time-outs whatever arrives.
    EXPECT_LT(took, 2500ms);
}

TEST_F(Discovery, AnAnswerWithUnitAddressZeroIsNotListed)
{
    RepeatingResponder zero(0, 100ms);
    addUnit("127.0.0.2", "real", true, 300ms); // after the first zero answer
    UnitNode* head = Zorvan_SearchBoxAll();
    ASSERT_NE(head, nullptr);
    const auto list = nodes(head); // walks while the address is not 0
    ASSERT_EQ(list.size(), 1u);
    EXPECT_STREQ(list[0]->name, "real");
    EXPECT_EQ(list[0]->next->address, 0u);
    EXPECT_EQ(list[0]->next->next, nullptr) << "one terminal node";
    Zorvan_FreeSearchBoxAll(head);

    uint32_t address = 0;
    EXPECT_EQ(Zorvan_SearchBox(&address), 0u);
    EXPECT_EQ(platform::addressText(address), "127.0.0.2") << "the zero answer is passed over";
}

TEST_F(Discovery, ForeignDatagramsCannotKeepTheSingleSearchGoing)
{
    // Wrong answers every 100 ms, each restarting the one-second wait,
    // would never let the search end; it ends after three time-outs.
    addUnit("127.0.0.3", "liar");
    unitsim::DiscoveryFaults wrong;
    wrong.wrongMagic = true;
    m_responders.back()->setFaults(wrong);
    RepeatingResponder zero(0, 100ms);
    const auto begin = Clock::now();
    uint32_t address = 0;
    EXPECT_EQ(Zorvan_SearchBox(&address), ZORVAN_NO_UNIT_ANSWERED);
    const auto took = Clock::now() - begin;
    EXPECT_GE(took, 2900ms);
    EXPECT_LT(took, 4000ms);
}

} // namespace
} // namespace lumarc::mgmt
