// The SCSI-over-TCP tunnel to a unit's port 10001.
//
// Request (PC to unit): 40-byte header (length, PC magic, code 1, CDB length,
// data-in length, data-out length, 16 CDB bytes), then the data-out bytes.
// Reply (unit to PC): 40-byte header (status byte at 12, 24 sense bytes at
// 16), then exactly the data-in bytes asked for. A request whose CDB begins
// with 0xF1 carries no data and announces none.
#pragma once

#include "aspi.h"

#include "platform/net_socket.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <span>

namespace lumarc::scsinet {

constexpr uint16_t kTunnelPort = 10001;
constexpr size_t kTunnelHeader = 40;
constexpr uint32_t kTunnelCode = 1;

// What travels for one request block.
struct TunnelRequest {
    std::array<uint8_t, kTunnelHeader> header{};
    std::span<const uint8_t> dataOut; // empty unless data-out
    size_t dataIn = 0;                // bytes the reply carries behind its header
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
    // closing unit is a failure.
    int32_t exchange(SRB_ExecSCSICmd& block, uint8_t* scsiStatus,
                     std::chrono::seconds receiveTimeout);

    // Wakes a receive in progress (it fails with -1); the socket stays
    // until close(), so no descriptor is closed under a reader.
    void abort();
    // Closes the connection; call when no exchange runs.
    void close();

private:
    // The connection's descriptor (-1 when there is none).
    int socketFd();
    // Receives until every part is full. 0, -1 (time-out, abort, the unit
    // closed) or a socket-layer code.
    int32_t receive(std::span<const std::span<uint8_t>> parts, std::chrono::seconds timeout);
    // Reads and drops whatever is waiting on the socket without waiting.
    void discardLateReplies(int fd);

    std::mutex m_mutex; // guards m_socket against close() from another thread
    platform::UniqueFd m_socket;
    std::atomic<bool> m_aborted{false};
    std::chrono::seconds m_appliedTimeout{-1}; // the socket's receive time-out now
    // Set by the first time-out: from then on a reply may arrive after its
    // request was given up, and must not be taken for the next one.
    bool m_lateRepliesPossible = false;
};

} // namespace lumarc::scsinet
