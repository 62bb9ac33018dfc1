// Servers for the benchmarks that cost as little as the wire allows, so that
// what a client measures against them is the client's own cost.
//
// FastResponder serves the SCSI tunnel (TCP 10001) and the management port
// (TCP 10002) of one address on one thread: it greets, reads each request
// into a buffer its connection keeps, and answers from memory prepared at
// start, without logging and without allocating per request.
//   - Tunnel: READ(10) gets bytes of the test chart, a standard INQUIRY the
//     identification of the first built-in scanner, anything else good
//     status and zeros; always exactly the data-in length asked for.
//   - Management: one request per connection, answered with what a
//     simulated unit answers to the read-only queries (name, network
//     settings, firmware, scan information), then closed. Other codes get
//     the unknown-command status.
//
// BareServer is the wire itself for the same byte shapes: one thread per
// port, blocked in recv on one connection at a time, nothing parsed but the
// length words.
//   - Tunnel port: a 16-byte greeting, then for every 40-byte request (and
//     its data-out) a 40-byte reply header and the data-in bytes.
//   - Management port: per connection 16 bytes out, 16 in, the 68-byte name
//     reply out, close.
#pragma once

#include "platform/event.h"
#include "platform/poller.h"
#include "platform/result.h"
#include "platform/unique_fd.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace lumarc::bench {

constexpr uint16_t kTunnelPort = 10001;
constexpr uint16_t kManagementPort = 10002;
constexpr size_t kTunnelHeader = 40;
constexpr size_t kMaxTunnelData = 524504; // the transport's largest buffer

// The bytes a READ(10) returns from either server: the top of the test chart
// at 300 dpi in colour.
const std::vector<uint8_t>& chartBytes();

class FastResponder {
public:
    // Binds both ports of address (network byte order) and starts the thread.
    static Result<std::unique_ptr<FastResponder>> start(uint32_t address);
    // Stops the thread; open connections are closed.
    ~FastResponder();

private:
    struct Connection {
        platform::UniqueFd fd;
        bool tunnel = false;
        std::vector<uint8_t> input; // allocated once per connection
        size_t filled = 0;
    };

    FastResponder() = default;
    void run();
    void acceptOne(int listener, bool tunnel);
    // False when the connection is done with (closed by the peer, broken,
    // or answered on the management port).
    bool serve(Connection& connection);
    bool answerTunnel(Connection& connection, size_t outLength);
    bool answerManagement(Connection& connection);

    std::unique_ptr<platform::Poller> m_poller;
    std::unique_ptr<platform::Event> m_stop;
    platform::UniqueFd m_tunnelListener;
    platform::UniqueFd m_managementListener;
    std::vector<uint8_t> m_inquiry; // zero-padded to kMaxTunnelData
    std::vector<uint8_t> m_zeros;
    std::map<uint32_t, std::vector<uint8_t>> m_managementReplies; // by command code
    std::vector<uint8_t> m_unknownCommand;
    std::unordered_map<int, std::unique_ptr<Connection>> m_connections;
    std::jthread m_thread;
};

class BareServer {
public:
    // Binds both ports of address and starts one thread for each.
    static Result<std::unique_ptr<BareServer>> start(uint32_t address);
    // Wakes both threads (their sockets are shut down) and joins them.
    ~BareServer();

private:
    BareServer() = default;
    void serveTunnel();
    void serveManagement();
    // Accepts the next connection; invalid when shutting down.
    platform::UniqueFd next(int listener);
    void track(int fd);

    platform::UniqueFd m_tunnelListener;
    platform::UniqueFd m_managementListener;
    std::vector<uint8_t> m_nameReply;
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;     // guards m_open against the destructor
    std::vector<int> m_open; // connections being served, to shut down
    std::jthread m_tunnelThread;
    std::jthread m_managementThread;
};

} // namespace lumarc::bench
