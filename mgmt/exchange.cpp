// The exchange with its retry rules and the framed receive.
#include "exchange.h"

#include "diagnostics.h"

#include "platform/error_codes.h"
#include "platform/message_pump.h"
#include "platform/net_socket.h"
#include "platform/tick_count.h"
#include "shared/message_header.h"

#include <algorithm>
#include <array>
#include <thread>

namespace lumarc::mgmt {
namespace {

constexpr int kConnectAttempts = 4;
constexpr int kGreetingAttempts = 12; // connection failures count here too
constexpr std::chrono::milliseconds kRetryPause{10};
constexpr uint32_t kFailedExchange = 0x80000004u;
// Bytes of a message read before its length word is known: a greeting or
// the usual reply in one read.
constexpr size_t kFirstRead = 4096;
// The smallest segment TCP may use (the IPv4 default MSS).
constexpr size_t kSmallestSegment = 536;

thread_local ExchangeCanceller* t_canceller = nullptr;

// Keeps a connection registered with the thread's canceller while it is open.
class CancelGuard {
public:
    explicit CancelGuard(int fd) : m_attached(t_canceller == nullptr || t_canceller->attach(fd)) {}
    ~CancelGuard()
    {
        if (t_canceller != nullptr && m_attached)
            t_canceller->detach();
    }
    CancelGuard(const CancelGuard&) = delete;
    CancelGuard& operator=(const CancelGuard&) = delete;
    bool cancelled() const { return !m_attached; }

private:
    bool m_attached;
};

// Bytes taken off the socket behind a message are, for the unit, bytes the
// PC never read: the connection is reset when it closes, as it is when
// such bytes are left unread.
void closeAsUnread(int fd, bool surplus)
{
    if (surplus)
        platform::resetOnClose(fd);
}

ExchangeResult failed(uint16_t category)
{
    logFailure(event::kExchange, category);
    return ExchangeResult{ExchangeResult::Kind::Failed, 0, 0, 0, 0};
}

} // namespace

void ExchangeCanceller::cancel()
{
    std::scoped_lock lock(m_mutex);
    m_cancelled = true;
    // Shutting down (not closing) wakes a blocked connect or receive while
    // the descriptor stays the exchange's to close.
    if (m_fd >= 0)
        platform::shutdownBoth(m_fd);
}

void ExchangeCanceller::reset()
{
    std::scoped_lock lock(m_mutex);
    m_cancelled = false;
}

bool ExchangeCanceller::attach(int fd)
{
    std::scoped_lock lock(m_mutex);
    if (m_cancelled)
        return false;
    m_fd = fd;
    return true;
}

void ExchangeCanceller::detach()
{
    std::scoped_lock lock(m_mutex);
    m_fd = -1;
}

ScopedExchangeCanceller::ScopedExchangeCanceller(ExchangeCanceller& canceller)
    : m_previous(t_canceller)
{
    t_canceller = &canceller;
}

ScopedExchangeCanceller::~ScopedExchangeCanceller()
{
    t_canceller = m_previous;
}

uint32_t ExchangeResult::exportResult() const
{
    switch (kind) {
    case Kind::Reply:
    case Kind::NoConnection:
        return code;
    case Kind::Failed:
        break;
    }
    return kFailedExchange;
}

namespace {

// The framed receive on a socket whose receive time-out is set. *surplus
// tells whether bytes behind the message were taken off the socket with it.
int64_t receiveFramedWithin(int fd, std::span<uint8_t> buffer, bool* surplus)
{
    // Signed arithmetic as the unit's length word is compared as a signed
    // number; the limit never exceeds the buffer.
    int64_t limit = static_cast<int64_t>(buffer.size());
    if (surplus != nullptr)
        *surplus = false;
    // Every wait for data is bounded by the socket's receive time-out, so a
    // reply that keeps arriving in pieces is never cut off by it.
    const auto receive = [&](std::span<uint8_t> into) -> int64_t {
        auto got = platform::receiveWithin(fd, into);
        if (!got && got.error().code == platform::wsa::kTimedOut) {
            debugLine("データ受信タイムアウトイベント発生\n");
            logFailure(event::kTransfer, category::kTransferFailed);
            return -1;
        }
        if (!got) {
            debugLine("受信失敗 : %u\n", got.error().code);
            return -1;
        }
        if (*got == 0) {
            // The unit closed the connection: what arrived is the reply.
            debugLine("ソケット切断イベント\n");
            debugLine("ソケット切断\n");
        }
        return static_cast<int64_t>(*got);
    };
    // Until the length word is complete, bytes are read into a scratch
    // area as far as they have come: a whole message usually arrives in one
    // read, and whatever came behind it (no part of the message) never
    // reaches the caller's buffer.
    std::array<uint8_t, kFirstRead> scratch;
    const size_t scratchUse = std::min(buffer.size(), scratch.size());
    size_t taken = 0;
    bool closed = false;
    while (taken < 4 && taken < scratchUse) {
        const int64_t got = receive(std::span(scratch).subspan(taken, scratchUse - taken));
        if (got < 0)
            return -1;
        if (got == 0) {
            closed = true;
            break;
        }
        taken += static_cast<size_t>(got);
    }
    if (taken >= 4) {
        const auto length = static_cast<int32_t>(shared::readLe32(scratch, 0));
        if (length < limit)
            limit = std::max<int64_t>(length, 4);
    }
    size_t received = std::min(taken, static_cast<size_t>(limit));
    std::copy_n(scratch.begin(), received, buffer.begin());
    if (surplus != nullptr)
        *surplus = taken > received;
    while (!closed && static_cast<int64_t>(received) < limit) {
        const int64_t got =
            receive(buffer.subspan(received, static_cast<size_t>(limit) - received));
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        received += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(received);
}

} // namespace

int64_t receiveFramed(int fd, std::span<uint8_t> buffer, std::chrono::milliseconds timeout)
{
    if (auto bounded = platform::setReceiveTimeout(fd, timeout); !bounded) {
        debugLine("受信イベント割り当て失敗\n");
        return -1;
    }
    return receiveFramedWithin(fd, buffer, nullptr);
}

ExchangeResult exchange(uint32_t address, std::span<const uint8_t> request,
                        std::span<uint8_t> reply, const ExchangeOptions& options)
{
    const platform::Endpoint unit{address, options.port};
    int attempts = 0;
    for (;;) {
        platform::deliverPendingMessages();
        auto connection = platform::tcpSocket();
        if (!connection) {
            reportError("Error socket()\n", connection.error().code);
            return ExchangeResult{ExchangeResult::Kind::NoConnection, connection.error().code, 0,
                                  0, 0};
        }
        const int fd = connection->get();
        // Declared after the connection, so it lets go before the close.
        const CancelGuard guard(fd);
        if (guard.cancelled()) {
            debugLine("exchange cancelled for shut-down\n");
            return failed(category::kExchangeFailed);
        }
        // The transfer time-out bounds the connect as the socket's send
        // time-out, and stays there: the request's send goes on regardless.
        if (auto connected = platform::connectKeepingTimeout(fd, unit, options.transferTimeout);
            !connected) {
            if (++attempts >= kConnectAttempts) {
                reportError("ソケット接続失敗", connected.error().code);
                logFailure(event::kExchange, category::kConnectExhausted);
                return ExchangeResult{ExchangeResult::Kind::NoConnection,
                                      connected.error().code, 0, 0, 0};
            }
            std::this_thread::sleep_for(kRetryPause);
            continue;
        }
        // One receive time-out for both waits of the connection.
        if (auto bounded = platform::setReceiveTimeout(fd, options.transferTimeout); !bounded) {
            debugLine("受信イベント割り当て失敗\n");
            return failed(category::kExchangeFailed);
        }

        uint8_t greetingBytes[shared::kHeaderSize] = {};
        bool surplus = false;
        if (receiveFramedWithin(fd, greetingBytes, &surplus) <
            static_cast<int64_t>(shared::kHeaderSize)) {
            closeAsUnread(fd, surplus);
            return failed(category::kExchangeFailed);
        }
        const auto greeting = shared::decodeHeader(greetingBytes);
        if (greeting->code != shared::kGreetingAccept) {
            debugLine("接続拒否(Try回数:%d,Code:%d)\n", attempts + 1,
                      static_cast<int>(greeting->code));
            if (++attempts >= kGreetingAttempts)
                return failed(category::kExchangeFailed);
            platform::shutdownBoth(fd);
            std::this_thread::sleep_for(kRetryPause);
            continue;
        }

        // A request that fits one segment leaves at once without
        // TCP_NODELAY: nothing sent before it waits for an acknowledgement.
        // A longer one may be held back behind its own first segments.
        if (request.size() > kSmallestSegment)
            (void)platform::setNoDelay(fd);
        ExchangeResult result;
        result.sendTick = platform::tickCount();
        if (auto sent = platform::sendAllUnbounded(fd, request); !sent) {
            debugLine("データ送信失敗(%u)\n", sent.error().code);
            return failed(category::kExchangeSendFailed);
        }
        const int64_t received = receiveFramedWithin(fd, reply, &surplus);
        result.replyTick = platform::tickCount();
        closeAsUnread(fd, surplus);
        // A reply without a whole header carries no status: never success.
        if (received < static_cast<int64_t>(shared::kHeaderSize)) {
            if (received >= 0)
                debugLine("short reply %lld/%zu\n", static_cast<long long>(received),
                          shared::kHeaderSize);
            return failed(category::kExchangeFailed);
        }
        result.kind = ExchangeResult::Kind::Reply;
        result.received = static_cast<size_t>(received);
        result.code = shared::decodeHeader(reply)->code;
        return result;
    }
}

} // namespace lumarc::mgmt
