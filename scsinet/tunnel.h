// The SCSI-over-TCP tunnel to a unit's port 10001.
//
// Request (PC to unit): 40-byte header (length, PC magic, code 1, CDB length,
// data-in length, data-out length, 16 CDB bytes), then the data-out bytes.
// Reply (unit to PC): 40-byte header (length at 0, status byte at 12, 24
// sense bytes at 16), then exactly the data-in bytes asked for. A request
// whose CDB begins with 0xF1 carries no data and announces none.
//
// The reply's length word keeps the connection in step with the requests.
// Where it is plausible (40 to 40 + 524,504) it is believed: a reply longer
// than the request's has its surplus dropped; a shorter one cannot be this
// request's (a duplicate, or a reply that came late) and is dropped whole;
// bytes that arrive between requests are dropped message by message. A
// reply whose length word is implausible is taken as the request's reply,
// 40 bytes plus the data asked for, as a unit that never fills the word
// expects.
#pragma once

#include "aspi.h"

#include "platform/net_socket.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace lumarc::scsinet {

constexpr uint16_t kTunnelPort = 10001;
constexpr size_t kTunnelHeader = 40;
constexpr uint32_t kTunnelCode = 1;

// What travels for one request block.
struct TunnelRequest {
    std::array<uint8_t, kTunnelHeader> header{};
    std::span<const uint8_t> dataOut; // empty unless data-out
    size_t dataIn = 0;                // bytes the reply carries behind its header

    size_t size() const { return header.size() + dataOut.size(); }
};

// A request on its way: the request, and how many of its bytes have left.
struct TunnelExchange {
    TunnelRequest request;
    size_t sent = 0;
};

// The request for a block (its CDB length at most 16, its data at most
// DROVIK_MAX_DATA: the caller checked both).
TunnelRequest encodeTunnelRequest(const SRB_ExecSCSICmd& block);

// Fills the block from a reply header: SRB_TargStat, and the first
// SRB_SenseLen (at most 24) sense bytes. Returns the SCSI status byte.
uint8_t applyTunnelReply(SRB_ExecSCSICmd& block, std::span<const uint8_t, kTunnelHeader> reply);

// Results of the connection's operations besides a socket-layer code.
constexpr int32_t kTunnelFailed = -1; // refused greeting, time-out, abort

// One connection per process, used by one request at a time.
class TunnelConnection {
public:
    // Connects (one attempt) and reads the greeting. 0, -1 or the
    // socket-layer code.
    int32_t open(uint32_t address, std::chrono::seconds receiveTimeout);

    // Sends the request for the block and fills the block from the reply;
    // data-in lands in the caller's buffer. 0 on success (the status byte in
    // *scsiStatus), else -1 or a socket-layer code. A reply cut short by a
    // closing unit is a failure. Blocks for the whole exchange.
    int32_t exchange(SRB_ExecSCSICmd& block, uint8_t* scsiStatus,
                     std::chrono::seconds receiveTimeout);

    // The two halves of exchange, which may run on different threads (one
    // at a time). startRequest drops what arrived that no request waits
    // for, then sends the request: all of it when wait is true, else what
    // the socket takes at once (exchange.sent tells how much; never
    // waits). 0 or a socket-layer code.
    int32_t startRequest(const SRB_ExecSCSICmd& block, TunnelExchange& exchange, bool wait);
    // Sends the rest of the request, receives the reply and fills the block,
    // as exchange does.
    int32_t finishRequest(SRB_ExecSCSICmd& block, TunnelExchange& exchange, uint8_t* scsiStatus,
                          std::chrono::seconds receiveTimeout);
    // Fails a request sent whole whose reply did not begin within the
    // receive time-out (the caller waited for arrivalFd()): what a receive
    // that times out does. Always -1.
    int32_t replyTimedOut(const TunnelExchange& exchange);

    // Between requests: the descriptor that becomes readable when bytes
    // arrive (-1 when there is no connection, or once it has ended).
    int arrivalFd();
    // Between requests: drops, message by message and without waiting,
    // what has arrived. False once the unit has closed the connection or it
    // broke: it is not worth watching any more.
    bool dropArrived();

    // Wakes a receive in progress (it fails with -1); the socket stays
    // until close(), so no descriptor is closed under a reader.
    void abort();
    // Closes the connection; call when no exchange runs.
    void close();

private:
    // The connection's descriptor (-1 when there is none).
    int socketFd();
    // Receives until every part is full: bytes put back first, then the
    // socket. 0, -1 (time-out, abort, the unit closed) or a socket-layer
    // code; the bytes taken go to *taken.
    int32_t receive(std::span<const std::span<uint8_t>> parts, std::chrono::seconds timeout,
                    size_t* taken = nullptr);
    // Takes what is there (put back first) without waiting: 0 when nothing
    // is, or when the connection has ended (m_ended then says so).
    size_t takeWaiting(int fd, std::span<uint8_t> into);
    // Moves on through the message that belongs to no request; true once it
    // is dropped whole. Without a time-out only what has arrived is taken.
    // The bytes taken are added to *dropped.
    bool dropStray(int fd, std::optional<std::chrono::seconds> wait, int32_t* result,
                   size_t* dropped);
    // Before a request: drops, message by message and without waiting,
    // whatever has arrived that no request waits for.
    void dropStrayReplies(int fd);
    // After a reply that broke off: what is still to come of it.
    void noteBrokenReply(size_t expected, std::span<const uint8_t> header,
                         std::span<const uint8_t> data, size_t taken);

    std::mutex m_mutex; // guards m_socket against close() from another thread
    platform::UniqueFd m_socket;
    std::atomic<bool> m_aborted{false};
    std::atomic<bool> m_ended{false};          // the unit closed the connection, or it broke
    std::chrono::seconds m_appliedTimeout{-1}; // the socket's receive time-out now

    // The stream between requests. Bytes taken off the socket that come
    // next (read behind a reply that was not the request's):
    std::vector<uint8_t> m_putBack;
    // A message that belongs to no request, being dropped: its length word
    // so far, then the bytes still to come.
    //   none --bytes between requests, a reply broken off--> word --4 bytes-->
    //   body --length - 4 bytes dropped--> none
    enum class Stray { None, Word, Body };
    Stray m_stray = Stray::None;
    std::array<uint8_t, 4> m_strayWord{};
    size_t m_strayWordBytes = 0;
    size_t m_strayLeft = 0;
    // Expected lengths of replies given up before a byte of them arrived:
    // such a reply that comes later is recognised by its length.
    std::deque<size_t> m_owed;
};

} // namespace lumarc::scsinet
