// The single and the collecting search.
#include "discovery.h"

#include "diagnostics.h"
#include "library_state.h"

#include "platform/error_codes.h"
#include "platform/net_socket.h"
#include "platform/unit_address.h"
#include "shared/message_header.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <unordered_set>
#include <unistd.h>

namespace lumarc::mgmt {
namespace {

constexpr uint32_t kBroadcast = 0xFFFFFFFFu; // 255.255.255.255
constexpr int kBatchPerWakeup = 32;
constexpr std::chrono::milliseconds kCollectPause{100};
constexpr int32_t kDefaultSearchSeconds = 5;
// A search never lasts longer than this many discovery time-outs, however
// many answers keep coming (a unit answering without end, a flood of
// foreign datagrams), and lists at most this many units.
constexpr int kSearchTimeoutsAtMost = 3;
constexpr size_t kMaxUnits = 1024;
// Room for a hundred answers arriving at once (each datagram costs the
// kernel about twice its size).
constexpr int kReceiveBuffer = 1024 * 1024;

constexpr uint16_t kCategoryWaitTimedOut = 12002;
constexpr uint16_t kCategoryWaitFailed = 12003;
constexpr uint16_t kCategoryWrongMagic = 30001;
constexpr uint16_t kCategorySendFailed = 1001;
constexpr uint16_t kCategorySocketFailed = 4001;
constexpr uint16_t kCategoryBroadcastFailed = 11001;
constexpr uint16_t kCategoryReceiveFailed = 6001;
constexpr uint32_t kEventSingle = 0xC0000011;
constexpr uint32_t kEventCollect = 0xC0000012;

// The PC's own address from its host name, in number form, or the failure
// result (0x80000001 or 0x80000002).
struct OwnAddress {
    std::optional<uint32_t> numberForm;
    uint32_t failure = 0;
};

OwnAddress ownAddress()
{
    char name[128] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        reportError("Error gethostname()\n", platform::wsaFromErrno(errno));
        return {std::nullopt, ZORVAN_E_NO_HOSTNAME};
    }
    auto address = platform::resolveUnitAddress(name);
    if (!address) {
        reportError("Error gethostbyname()\n", address.error().code);
        return {std::nullopt, ZORVAN_E_HOSTNAME_UNRESOLVED};
    }
    debugLine("Ip address %s\n", platform::addressText(*address).c_str());
    return {ntohl(*address), 0};
}

// The common start: own address, broadcast socket, request sent. On
// failure, result holds the single search's code.
struct Search {
    platform::UniqueFd socket;
    uint32_t result = 0;
};

Search startSearch(uint32_t eventId)
{
    Search search;
    const OwnAddress own = ownAddress();
    if (!own.numberForm) {
        search.result = own.failure;
        return search;
    }
    auto socket = platform::bindUdp({0, 0});
    if (!socket) {
        reportError("Error socket()\n", socket.error().code);
        logFailure(eventId, kCategorySocketFailed);
        search.result = ZORVAN_E_EXCHANGE;
        return search;
    }
    if (auto broadcast = platform::enableBroadcast(socket->get()); !broadcast) {
        reportError("Error socket()\n", broadcast.error().code);
        logFailure(eventId, kCategoryBroadcastFailed);
        search.result = ZORVAN_E_BROADCAST_OPTION;
        return search;
    }
    platform::setReceiveBuffer(socket->get(), kReceiveBuffer);
    const auto request = discoveryRequest(*own.numberForm);
    if (auto sent = platform::sendDatagram(socket->get(), {htonl(kBroadcast), kDiscoveryPort},
                                           request);
        !sent) {
        reportError("Error sendto()\n", sent.error().code);
        logFailure(eventId, kCategorySendFailed);
        search.result = ZORVAN_E_DISCOVERY_SEND;
        return search;
    }
    search.socket = std::move(*socket);
    return search;
}

std::chrono::milliseconds searchTimeout(bool collecting)
{
    int32_t seconds = librarySettings().searchBoxSeconds;
    if (collecting && seconds == 0) {
        setSearchBoxSeconds(kDefaultSearchSeconds);
        seconds = kDefaultSearchSeconds;
    }
    return std::chrono::seconds(std::max(seconds, 0));
}

bool hasUnitMagic(std::span<const uint8_t> datagram)
{
    return shared::readLe32(datagram, 0) == shared::kUnitMagic;
}

// What a datagram is to a search: an answer that names a unit, or nothing.
// An answer with unit address 0 names no unit (and in a list it would end
// the caller's walk in the middle).
bool isUnitAnswer(std::span<const uint8_t> datagram, size_t received)
{
    if (received < 8 || !hasUnitMagic(datagram)) {
        debugLine("Key Code differ\n");
        return false;
    }
    if (shared::readLe32(datagram, 4) == 0) {
        debugLine("unit address 0 in an answer, ignored\n");
        return false;
    }
    return true;
}

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds until(Clock::time_point end)
{
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()),
                    std::chrono::milliseconds(0));
}

UnitNode* newNode()
{
    return static_cast<UnitNode*>(std::calloc(1, sizeof(UnitNode)));
}

} // namespace

std::array<uint8_t, kDiscoveryRequestSize> discoveryRequest(uint32_t ownAddressNumberForm)
{
    std::array<uint8_t, kDiscoveryRequestSize> request{};
    shared::writeLe32(request, 0, shared::kPcMagic);
    shared::writeLe32(request, 4, ownAddressNumberForm);
    return request;
}

void fillUnitNode(UnitNode& node, std::span<const uint8_t, kDiscoveryReplySize> reply)
{
    node.address = shared::readLe32(reply, 4);
    std::memcpy(node.mac, &reply[8], sizeof node.mac);
    std::memcpy(node.unused1, &reply[14], sizeof node.unused1);
    std::memcpy(node.name, &reply[16], sizeof node.name);
    node.busy = reply[60];
    std::memcpy(node.unused2, &reply[61], sizeof node.unused2);
    node.scannerPresent = shared::readLe32(reply, 64);
    std::memcpy(node.inquiry, &reply[68], sizeof node.inquiry);
}

uint32_t searchBox(uint32_t* address)
{
    if (address == nullptr)
        return platform::win32::kInvalidParameter;
    Search search = startSearch(kEventSingle);
    if (!search.socket)
        return search.result;
    const auto timeout = searchTimeout(false);
    const auto deadline = Clock::now() + kSearchTimeoutsAtMost * timeout;
    for (;;) {
        // Each wait gets the full time-out, as after a wrong datagram, but
        // foreign datagrams cannot keep the search going past its deadline.
        const auto left = std::min(timeout, until(deadline));
        auto ready = left.count() > 0 ? platform::waitReadable(search.socket.get(), left)
                                      : Result<bool>(false);
        if (!ready) {
            reportError("Faile to WSAWaitForMultipleEvents()", ready.error().code);
            logFailure(kEventSingle, kCategoryWaitFailed);
            return ZORVAN_E_DISCOVERY_WAIT;
        }
        if (!*ready) {
            debugLine("Time out occur\n");
            logFailure(kEventSingle, kCategoryWaitTimedOut);
            return ZORVAN_NO_UNIT_ANSWERED;
        }
        std::array<uint8_t, kDiscoveryReplySize> reply{};
        auto got = platform::receiveDatagram(search.socket.get(), reply, nullptr);
        if (!got) {
            if (got.error().code == platform::wsa::kWouldBlock)
                continue;
            logFailure(kEventSingle, kCategoryReceiveFailed);
            return ZORVAN_E_DISCOVERY_RECEIVE;
        }
        if (!isUnitAnswer(reply, *got)) {
            if (!hasUnitMagic(reply))
                logFailure(kEventSingle, kCategoryWrongMagic);
            continue;
        }
        *address = htonl(shared::readLe32(reply, 4));
        logSuccess(6000);
        return 0;
    }
}

UnitNode* searchBoxAll()
{
    Search search = startSearch(kEventCollect);
    if (!search.socket)
        return nullptr;
    UnitNode* head = newNode();
    if (head == nullptr)
        return nullptr;
    UnitNode* tail = head;
    const auto timeout = searchTimeout(true);
    // Every new unit restarts the wait for more; a unit that answers again
    // is listed once and restarts nothing.
    const auto deadline = Clock::now() + kSearchTimeoutsAtMost * timeout;
    auto quietUntil = Clock::now() + kCollectPause + timeout;
    std::unordered_set<uint32_t> listed;
    while (listed.size() < kMaxUnits) {
        std::this_thread::sleep_for(kCollectPause);
        const auto left = until(std::min(quietUntil, deadline));
        auto ready = left.count() > 0 ? platform::waitReadable(search.socket.get(), left)
                                      : Result<bool>(false);
        if (!ready) {
            reportError("Faile to WSAWaitForMultipleEvents()", ready.error().code);
            logFailure(kEventCollect, kCategoryWaitFailed);
            break;
        }
        if (!*ready) {
            debugLine("Time out occur\n");
            break;
        }
        // Every answer waiting now, at most a batch per wake-up; each read
        // into a zero-filled buffer, so a short answer inherits nothing.
        bool first = true;
        bool firstFailed = false;
        for (int i = 0; i < kBatchPerWakeup && listed.size() < kMaxUnits; ++i) {
            std::array<uint8_t, kDiscoveryReplySize> reply{};
            auto got = platform::tryReceiveDatagram(search.socket.get(), reply);
            if (!got || !*got) {
                debugLine("SOCKET_ERROR\n");
                firstFailed = first;
                break;
            }
            first = false;
            if (!isUnitAnswer(reply, **got)) {
                if (!hasUnitMagic(reply))
                    logFailure(kEventCollect, kCategoryWrongMagic);
                continue;
            }
            if (!listed.insert(shared::readLe32(reply, 4)).second)
                continue; // answered before
            UnitNode* next = newNode();
            if (next == nullptr)
                return head; // out of memory: the list so far
            fillUnitNode(*tail, reply);
            tail->next = next;
            tail = next;
            quietUntil = Clock::now() + kCollectPause + timeout;
        }
        if (firstFailed)
            break;
    }
    return head;
}

void freeSearchBoxAll(UnitNode* head)
{
    while (head != nullptr) {
        UnitNode* next = head->next;
        std::free(head);
        head = next;
    }
}

} // namespace lumarc::mgmt
