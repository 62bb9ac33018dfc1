// What the benchmark programs share: the plain clients that are the
// reference for the libraries, the client of the transport library, and the
// cost of the client process per request.
#pragma once

#include "platform/event.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <thread>
#include <vector>

namespace lumarc::bench {

// A client of the SCSI tunnel, whichever way it reaches the unit.
class TunnelClient {
public:
    virtual ~TunnelClient() = default;
    // One request; data is data-out (in false) or the data-in buffer. True
    // when the command completed (good status or CHECK CONDITION).
    virtual bool run(std::initializer_list<uint8_t> cdb, uint8_t* data, uint32_t length,
                     bool in) = 0;
};

// A plain client of the SCSI tunnel: one connection, each request written
// with one system call and its reply read into the caller's buffer.
class PlainTunnelClient : public TunnelClient {
public:
    // Connects to port 10001 of address and reads the greeting.
    explicit PlainTunnelClient(uint32_t address);
    ~PlainTunnelClient();
    PlainTunnelClient(const PlainTunnelClient&) = delete;
    PlainTunnelClient& operator=(const PlainTunnelClient&) = delete;

    bool connected() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    bool run(std::initializer_list<uint8_t> cdb, uint8_t* data, uint32_t length,
             bool in) override;

private:
    int m_fd = -1;
};

// The least any client that completes on a thread of its own can cost, as
// the transport library must: the caller sends its request and waits for an
// event; a worker, already blocked in its receive, reads the reply into the
// caller's buffer and signals the event. Nothing else: no queue, no checks,
// no time-outs. The transport's ratio to this client is its own cost beyond
// the hand-off that its rules prescribe.
class HandOffTunnelClient : public TunnelClient {
public:
    explicit HandOffTunnelClient(uint32_t address);
    ~HandOffTunnelClient();
    HandOffTunnelClient(const HandOffTunnelClient&) = delete;
    HandOffTunnelClient& operator=(const HandOffTunnelClient&) = delete;

    bool connected() const { return m_worker.joinable(); }
    bool run(std::initializer_list<uint8_t> cdb, uint8_t* data, uint32_t length,
             bool in) override;

private:
    struct Job {
        uint8_t* data;
        uint32_t length;
        bool ok = false;
    };
    void work();

    PlainTunnelClient m_plain; // the connection
    std::unique_ptr<platform::Event> m_done;
    std::atomic<Job*> m_job{nullptr};
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_ended{false}; // the worker has ended
    std::thread m_worker;
};

// A client of the transport library, as scanning software is: one request
// block, completion by event.
class AspiClient : public TunnelClient {
public:
    using Send = uint32_t(void*);
    explicit AspiClient(Send* send);
    bool run(std::initializer_list<uint8_t> cdb, uint8_t* data, uint32_t length,
             bool in) override;

private:
    Send* m_send;
    std::unique_ptr<platform::Event> m_done;
};

// One management exchange written directly on a socket: connect to port
// 10002, greeting, request, exactly reply.size() bytes of reply, close.
bool plainExchange(uint32_t address, std::span<const uint8_t> request, std::span<uint8_t> reply);

// What a process (every thread of it) has used so far.
struct Usage {
    double cpuSeconds = 0;
    long contextSwitches = 0; // voluntary and involuntary
    // This process.
    static Usage self();
    // Another process of this machine, from /proc (zero when unreadable).
    // Only threads still running count: a server that starts a thread per
    // connection shows too little.
    static Usage of(int pid);
};

// The server process whose cost the series count as well (0: none).
void watchServer(int pid);

// Rates of one client over the rounds, and its cost and the server's per
// request. A round is made of slices that alternate with other clients'
// slices, so that a busy moment of the machine falls on all of them alike.
class Series {
public:
    // Runs body, which makes requests requests, as a slice of this round.
    template <class Body> void slice(size_t requests, Body&& body)
    {
        const Usage before = Usage::self(), serverBefore = server();
        const auto begin = std::chrono::steady_clock::now();
        body();
        m_roundSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        const Usage after = Usage::self(), serverAfter = server();
        m_roundRequests += requests;
        m_requests += requests;
        m_client.cpuSeconds += after.cpuSeconds - before.cpuSeconds;
        m_client.contextSwitches += after.contextSwitches - before.contextSwitches;
        m_server.cpuSeconds += serverAfter.cpuSeconds - serverBefore.cpuSeconds;
        m_server.contextSwitches += serverAfter.contextSwitches - serverBefore.contextSwitches;
    }
    // Ends the round; its rate is requests per second times scale.
    void endRound(double scale);
    // Ends the round with a rate found otherwise (from the median request).
    void endRoundAt(double rate);

    const std::vector<double>& rates() const { return m_rates; }
    // Per request: context switches and CPU microseconds of the client
    // process and of the watched server.
    double switchesPerRequest() const { return perRequest(m_client.contextSwitches); }
    double cpuMicrosecondsPerRequest() const { return perRequest(m_client.cpuSeconds * 1e6); }
    double serverSwitchesPerRequest() const { return perRequest(m_server.contextSwitches); }
    double serverCpuMicrosecondsPerRequest() const
    {
        return perRequest(m_server.cpuSeconds * 1e6);
    }

private:
    static Usage server();
    double perRequest(double total) const
    {
        return m_requests == 0 ? 0 : total / static_cast<double>(m_requests);
    }

    std::vector<double> m_rates;
    size_t m_roundRequests = 0;
    double m_roundSeconds = 0;
    size_t m_requests = 0;
    Usage m_client, m_server;
};

// The column heads and one line of the tables the benchmarks print: name,
// rate, ratio text, target text, then the costs per request.
void printHead(const char* title, const char* unit, bool targets);
void printLine(const char* name, double rate, const char* ratio, const char* target,
               const Series& series);

struct Spread {
    double median = 0, low = 0, high = 0;
};
Spread spread(std::vector<double> values);

// The per-round ratios a[i] / b[i].
std::vector<double> ratios(const std::vector<double>& a, const std::vector<double>& b);

} // namespace lumarc::bench
