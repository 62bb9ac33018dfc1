// One management exchange: connect to the unit's port 10002, take the
// greeting, send one request, receive one reply, close.
//
//   connect --fail (4th)--> NoConnection (Windows Sockets code)
//      |  fail: pause 10 ms, deliver pending messages, retry
//      v
//   greeting --refused (12th)--> Failed
//      |  refused: shut down, pause 10 ms, retry (same counter)
//      v
//   send request --error--> Failed
//      v
//   framed receive --time-out, error, shorter than a header--> Failed
//      v
//   Reply (status = the reply's code)
//
// Blocks the calling thread for the whole exchange; each wait for data is
// bounded by the transfer time-out, each connection attempt too. Exchanges of
// different threads share nothing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>

namespace lumarc::mgmt {

constexpr uint16_t kManagementPort = 10002;

struct ExchangeOptions {
    uint16_t port = kManagementPort;
    std::chrono::milliseconds transferTimeout{10000};
};

struct ExchangeResult {
    enum class Kind { Reply, Failed, NoConnection };
    Kind kind = Kind::Failed;
    uint32_t code = 0;     // the reply's status, or the Windows Sockets code
    size_t received = 0;   // bytes of the reply, header included
    uint32_t sendTick = 0; // tick count before sending
    uint32_t replyTick = 0; // tick count after the reply

    // The export's result: the status, the Windows Sockets code, or
    // 0x80000004 for a failed exchange.
    uint32_t exportResult() const;
};

// Lets another thread end the exchanges of one thread at once: the listener
// thread's scan-information request must not keep Zorvan_Cleanup waiting
// for a unit that answers slowly or not at all. A thread opts in with
// ScopedExchangeCanceller; exchanges of other threads never see it.
class ExchangeCanceller {
public:
    // Shuts the current connection down (its waits end at once) and makes
    // every later exchange of the thread fail before connecting, until
    // reset. Any thread may call.
    void cancel();
    void reset();

    // For the exchange: registers the connection it is about to use; false
    // when cancelled (the exchange then gives up).
    bool attach(int fd);
    void detach();

private:
    std::mutex m_mutex;
    int m_fd = -1;
    bool m_cancelled = false;
};

// Makes canceller govern the calling thread's exchanges while it lives.
class ScopedExchangeCanceller {
public:
    explicit ScopedExchangeCanceller(ExchangeCanceller& canceller);
    ~ScopedExchangeCanceller();
    ScopedExchangeCanceller(const ScopedExchangeCanceller&) = delete;
    ScopedExchangeCanceller& operator=(const ScopedExchangeCanceller&) = delete;

private:
    ExchangeCanceller* m_previous;
};

// Runs one exchange with the unit at address (network byte order). reply is
// the caller's zero-filled buffer; its size is the reply capacity. Bytes of a
// reply beyond the capacity are discarded with the connection.
ExchangeResult exchange(uint32_t address, std::span<const uint8_t> request,
                        std::span<uint8_t> reply, const ExchangeOptions& options);

// The framed receive: reads one message into buffer, at most buffer.size()
// bytes and at most as many as its length word says. Every wait is bounded
// by timeout. Returns the bytes received, or -1 on time-out or error (a
// length word below 4 or negative ends the receive after those 4 bytes).
int64_t receiveFramed(int fd, std::span<uint8_t> buffer, std::chrono::milliseconds timeout);

} // namespace lumarc::mgmt
