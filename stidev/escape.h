// Escape: one SCSI command of the still-image device carried by the
// transport as one ASPI execute request.
//
// Each request owns its request block, its completion event and a copy of
// its data phase, and hands them to the transport together. They stay valid
// until the transport signals completion: when Escape stops waiting (its
// time-out), the request is kept as abandoned and freed once the transport
// has completed it, so the transport never writes into storage that is gone,
// never signals a closed descriptor, and never fills a caller's buffer after
// Escape returned.
#pragma once

#include "pending_request.h"
#include "transport_binding.h"

#include "platform/com.h"
#include "platform/event.h"
#include "scsinet/aspi.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace lumarc::stidev {

// The longest an escape waits for its request: 90 s, or less when
// LUMARC_ESCAPE_TIMEOUT_MS (milliseconds, tests only) says so. Read at each
// escape.
std::chrono::milliseconds escapeTimeout();

// What the result record receives.
struct EscapeOutcome {
    uint32_t status = 0;
    uint16_t scsiStatus = 0;
    uint16_t hostAdapterStatus = 0;
    std::array<uint8_t, 18> sense{};
};

// Statuses this object gives itself.
constexpr uint32_t kStatusTimedOut = SS_FAILED_INIT;   // 0xE4: no completion in time
constexpr uint8_t kHostAdapterCommandTimeout = 0x0B;
constexpr uint8_t kScsiStatusBusy = 0x08;

enum class DataPhase { None, In, Out };

// One command: its CDB (1 to 16 bytes) and its data phase. For In, data is
// the caller's buffer that receives the data; for Out, the data sent.
struct ScsiCommand {
    std::span<const uint8_t> cdb;
    DataPhase phase = DataPhase::None;
    std::span<uint8_t> data;
};

// Runs one command through the transport on the calling thread and waits
// at most timeout. After a time-out the outcome is kStatusTimedOut with host
// adapter status 0x0B, and the caller's buffer is left alone.
EscapeOutcome executeCommand(const TransportBinding& transport, const ScsiCommand& command,
                             std::chrono::milliseconds timeout);

// The whole Escape call: reads the escape block, runs the command and
// writes the result record (see IVexEmStiDev::Escape).
platform::HRESULT runEscape(const TransportBinding& transport, uint32_t code,
                            const uint8_t* block, uint8_t* out, uint32_t outSize);

// The requests escapes stopped waiting for, until the transport completes
// them. Shared by the process; any thread may call.
class AbandonedRequests {
public:
    // Requests still held when the library unloads (only when a client
    // unloads it by force) are left to the transport, never freed.
    ~AbandonedRequests();

    void add(std::unique_ptr<PendingRequest> request);
    // Frees every request whose completion was signalled.
    void release();
    size_t count() const { return m_count.load(std::memory_order_acquire); }

private:
    std::mutex m_mutex;
    std::vector<std::unique_ptr<PendingRequest>> m_requests;
    std::atomic<size_t> m_count{0};
};

AbandonedRequests& abandonedRequests();

} // namespace lumarc::stidev
