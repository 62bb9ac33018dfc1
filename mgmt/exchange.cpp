// The exchange with its retry rules and the framed receive.
#include "exchange.h"

#include "diagnostics.h"

#include "platform/error_codes.h"
#include "platform/message_pump.h"
#include "platform/net_socket.h"
#include "platform/tick_count.h"
#include "shared/message_header.h"

#include <thread>

namespace lumarc::mgmt {
namespace {

constexpr int kConnectAttempts = 4;
constexpr int kGreetingAttempts = 12; // connection failures count here too
constexpr std::chrono::milliseconds kRetryPause{10};
constexpr uint32_t kFailedExchange = 0x80000004u;

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

int64_t receiveFramed(int fd, std::span<uint8_t> buffer, std::chrono::milliseconds timeout)
{
    // Signed arithmetic as the unit's length word is compared as a signed
    // number; the limit never exceeds the buffer.
    int64_t limit = static_cast<int64_t>(buffer.size());
    size_t received = 0;
    bool lengthKnown = false;
    // Every wait for data is bounded by the time-out, so a reply that keeps
    // arriving in pieces is never cut off by it.
    if (auto bounded = platform::setReceiveTimeout(fd, timeout); !bounded) {
        debugLine("受信イベント割り当て失敗\n");
        return -1;
    }
    while (static_cast<int64_t>(received) < limit) {
        // Until the length word is complete, read only its 4 bytes.
        const size_t want = lengthKnown ? static_cast<size_t>(limit) - received
                                        : std::min<size_t>(4 - received, buffer.size() - received);
        auto got = platform::receiveWithin(fd, buffer.subspan(received, want));
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
            break;
        }
        received += *got;
        if (!lengthKnown && received >= 4) {
            lengthKnown = true;
            const auto length = static_cast<int32_t>(shared::readLe32(buffer, 0));
            if (length < limit)
                limit = std::max<int64_t>(length, 4);
        }
    }
    return static_cast<int64_t>(received);
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
        if (auto connected = platform::connectSocket(fd, unit, options.transferTimeout);
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

        uint8_t greetingBytes[shared::kHeaderSize] = {};
        if (receiveFramed(fd, greetingBytes, options.transferTimeout) <
            static_cast<int64_t>(shared::kHeaderSize))
            return failed(category::kExchangeFailed);
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

        ExchangeResult result;
        result.sendTick = platform::tickCount();
        if (auto sent = platform::sendAll(fd, request); !sent) {
            debugLine("データ送信失敗(%u)\n", sent.error().code);
            return failed(category::kExchangeSendFailed);
        }
        const int64_t received = receiveFramed(fd, reply, options.transferTimeout);
        result.replyTick = platform::tickCount();
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
