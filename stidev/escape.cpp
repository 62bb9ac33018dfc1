// Escape blocks, request blocks and their completion.
#include "escape.h"

#include "quentysti.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace lumarc::stidev {
namespace {

using namespace std::chrono_literals;
using platform::HRESULT;

constexpr std::chrono::milliseconds kEscapeWait = 90s;
constexpr uint8_t kSenseLength = 18;
constexpr size_t kMaxCdb = 16;

template <class T> T readField(const uint8_t* block, size_t offset)
{
    T value;
    std::memcpy(&value, block + offset, sizeof value);
    return value;
}

void writeStatusOnly(VexEmEscapeResult* result, uint32_t status)
{
    std::memcpy(reinterpret_cast<uint8_t*>(result) + offsetof(VexEmEscapeResult, status), &status,
                sizeof status);
}

void writeOutcome(VexEmEscapeResult* result, const EscapeOutcome& outcome)
{
    VexEmEscapeResult record{};
    record.status = outcome.status;
    record.scsiStatus = outcome.scsiStatus;
    record.hostAdapterStatus = outcome.hostAdapterStatus;
    std::memcpy(record.sense, outcome.sense.data(), sizeof record.sense);
    std::memcpy(result, &record, sizeof record);
}

} // namespace

std::chrono::milliseconds escapeTimeout()
{
    const char* text = std::getenv("LUMARC_ESCAPE_TIMEOUT_MS");
    if (text == nullptr)
        return kEscapeWait;
    const std::string_view digits(text);
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty())
        return kEscapeWait;
    return std::min(std::chrono::milliseconds(value), kEscapeWait);
}

EscapeOutcome executeCommand(const TransportBinding& transport, const ScsiCommand& command,
                             std::chrono::milliseconds timeout)
{
    abandonedRequests().release();
    EscapeOutcome outcome;
    auto request = transport.spare().take();
    if (!request) {
        auto event = platform::Event::create(platform::EventReset::Auto);
        if (!event) {
            outcome.status = VEXEM_STATUS_NOT_ISSUED;
            return outcome;
        }
        request = std::make_unique<PendingRequest>(std::move(*event));
    }
    SRB_ExecSCSICmd& block = request->block;
    block.SRB_Cmd = SC_EXEC_SCSI_CMD;
    block.SRB_Target = DROVIK_TARGET_ID;
    block.SRB_SenseLen = kSenseLength;
    block.SRB_CDBLen = static_cast<uint8_t>(command.cdb.size());
    std::copy(command.cdb.begin(), command.cdb.end(), block.CDBByte);
    request->data.clear();
    if (command.phase != DataPhase::None) {
        // Data-in starts as the caller's bytes, so that what the scanner
        // does not send stays as it was.
        request->data.assign(command.data.begin(), command.data.end());
        block.SRB_Flags = command.phase == DataPhase::In ? SRB_DIR_IN : SRB_DIR_OUT;
        block.SRB_BufLen = static_cast<uint32_t>(request->data.size());
        block.SRB_BufPointer = request->data.data();
    }
    block.SRB_Flags |= SRB_EVENT_NOTIFY;
    block.SRB_PostProc = reinterpret_cast<void*>(static_cast<intptr_t>(request->done.fd()));

    // The completion signal, not the status, tells that the transport is
    // done with the request: the status is set just before the signal.
    const uint32_t sent = transport.send(block);
    const bool completed = request->done.wait(sent == SS_PENDING ? timeout : 0ms);
    if (!completed) {
        if (sent == SS_PENDING) {
            outcome.status = kStatusTimedOut;
            outcome.hostAdapterStatus = kHostAdapterCommandTimeout;
        } else {
            outcome.status = sent & 0xFF; // refused at once, but not yet signalled
        }
        abandonedRequests().add(std::move(request));
        return outcome;
    }
    outcome.status = __atomic_load_n(&block.SRB_Status, __ATOMIC_ACQUIRE);
    outcome.scsiStatus = block.SRB_TargStat;
    outcome.hostAdapterStatus = block.SRB_HaStat;
    std::copy_n(block.SenseArea, outcome.sense.size(), outcome.sense.begin());
    if (command.phase == DataPhase::In)
        std::copy(request->data.begin(), request->data.end(), command.data.begin());
    transport.spare().put(std::move(request));
    return outcome;
}

HRESULT runEscape(const TransportBinding& transport, uint32_t code, const uint8_t* block,
                  uint8_t* out, uint32_t outSize)
{
    if (block == nullptr)
        return platform::E_POINTER;
    // Fields are read one by one: a block of another kind may be shorter
    // than an execute block.
    if (readField<uint32_t>(block, offsetof(VexEmEscapeBlock, kind)) != VEXEM_ESCAPE_SCSI)
        return platform::S_OK;
    auto* result = readField<VexEmEscapeResult*>(block, offsetof(VexEmEscapeBlock, result));
    if (result == nullptr)
        return platform::E_POINTER;
    const auto cdbLength = readField<uint16_t>(block, offsetof(VexEmEscapeBlock, cdbLength));
    if (cdbLength == 0 || cdbLength > kMaxCdb) {
        writeStatusOnly(result, VEXEM_STATUS_NOT_ISSUED);
        return platform::S_OK;
    }

    ScsiCommand command;
    command.cdb = std::span(block + offsetof(VexEmEscapeBlock, cdb), cdbLength);
    if (code == VEXEM_ESCAPE_DATA_IN) {
        command.phase = DataPhase::In;
        if (out == nullptr && outSize != 0) {
            writeStatusOnly(result, VEXEM_STATUS_NOT_ISSUED);
            return platform::S_OK;
        }
        command.data = std::span(out, out != nullptr ? outSize : 0);
    } else if (code == VEXEM_ESCAPE_DATA_OUT) {
        command.phase = DataPhase::Out;
        auto* data = readField<uint8_t*>(block, offsetof(VexEmEscapeBlock, data));
        const auto length = readField<uint32_t>(block, offsetof(VexEmEscapeBlock, dataLength));
        if (data == nullptr && length != 0) {
            writeStatusOnly(result, VEXEM_STATUS_NOT_ISSUED);
            return platform::S_OK;
        }
        command.data = std::span(data, data != nullptr ? length : 0);
    }
    if (command.data.size() > DROVIK_MAX_DATA) {
        // What the transport would answer, without copying the data first.
        writeOutcome(result, EscapeOutcome{SS_BUFFER_TO_BIG, 0, 0, {}});
        return platform::S_OK;
    }

    EscapeOutcome outcome = executeCommand(transport, command, escapeTimeout());
    if (outcome.scsiStatus == kScsiStatusBusy)
        outcome.status = VEXEM_STATUS_BUSY;
    writeOutcome(result, outcome);
    return platform::S_OK;
}

void AbandonedRequests::add(std::unique_ptr<PendingRequest> request)
{
    std::scoped_lock lock(m_mutex);
    m_requests.push_back(std::move(request));
    m_count.store(m_requests.size(), std::memory_order_release);
}

void AbandonedRequests::release()
{
    if (count() == 0)
        return;
    std::scoped_lock lock(m_mutex);
    std::erase_if(m_requests, [](const std::unique_ptr<PendingRequest>& request) {
        return request->done.wait(std::chrono::milliseconds(0));
    });
    m_count.store(m_requests.size(), std::memory_order_release);
}

AbandonedRequests::~AbandonedRequests()
{
    release();
    for (auto& request : m_requests)
        (void)request.release(); // the transport may still write into it
}

AbandonedRequests& abandonedRequests()
{
    static AbandonedRequests requests;
    return requests;
}

} // namespace lumarc::stidev
