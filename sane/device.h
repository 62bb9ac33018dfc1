// One open unit: what a SANE handle stands for. It holds the transport,
// loaded and started for the unit (and the unit's claim) from sane_open to
// sane_close, the options, and the scan in progress.
//
//   Idle ──start──▶ Reading ──last piece handed out──▶ Done (EOF)
//                      │ ╲
//                      │  ╲─ cancel seen by read ──▶ Cancelled (CANCELLED)
//                      ╲─ a command failed ──▶ Failed (its status)
//   start from any state ends the scan before (a READ still on its way
//   completes first) and begins a new one.
//
// A SANE frontend calls a handle from one thread at a time; cancel() may
// come from anywhere, a signal handler included (scanimage calls sane_cancel
// from its SIGINT handler), so it only sets a flag that read() and start()
// act on.
#pragma once

#include "device_list.h"
#include "options.h"

#include "platform/event.h"
#include "platform/poller.h"
#include "platform/result.h"
#include "shared/scsi_scanner.h"

#include <sane/sane.h>

#include <atomic>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace lumarc::sane {

// The SANE status for a failure of the scanning core: the unit out of reach
// or the connection lost, a scanner error → IO_ERROR; unit or scanner busy →
// DEVICE_BUSY; a window the scanner cannot scan → INVAL.
SANE_Status statusOf(const Error& error);

class Device {
public:
    // Claims the unit, starts the transport for it and asks the scanner
    // what it is and can do.
    static Result<std::unique_ptr<Device>> open(const std::string& address);
    ~Device();

    const std::string& address() const { return m_address; }
    const DeviceFacts& facts() const { return m_facts; }

    const SANE_Option_Descriptor* descriptor(SANE_Int option) const;
    SANE_Status control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info);
    SANE_Status parameters(SANE_Parameters& out) const;
    // Blocks for TEST UNIT READY, SET WINDOW and SCAN; the first READ is
    // sent before it returns.
    SANE_Status start();
    // Blocking mode waits for image data; non-blocking mode returns GOOD
    // with *length 0 when none has arrived (the select descriptor becomes
    // readable when some has).
    SANE_Status read(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length);
    // Async-signal-safe.
    void cancel() noexcept { m_cancelRequested.store(true, std::memory_order_relaxed); }
    SANE_Status setIoMode(SANE_Bool nonBlocking);
    // Readable whenever read() would return data or the scan's end without
    // waiting: a poller over the transport's completion event (the READ on
    // its way has completed) and an event of ours (a piece not yet handed
    // out, or the end to report).
    SANE_Status selectFd(SANE_Int* fd) const;

private:
    enum class State { Idle, Reading, Done, Cancelled, Failed };
    static_assert(std::atomic<bool>::is_always_lock_free, "cancel() must be signal-safe");

    Device(std::string address, std::unique_ptr<shared::ScannerConnection> connection,
           shared::ScannerIdentity identity, std::optional<shared::Capabilities> capabilities);
    SANE_Status readSome(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length);
    // Ends the scan in progress, keeping the connection.
    void endScan();
    // A failed command: its status; the connection goes when it broke, and
    // the next start opens a new one.
    SANE_Status fail(const Error& error);
    SANE_Status cancelled();
    // Sets or clears the readiness event from what read() would do now.
    void updateReadiness();

    std::string m_address;
    std::unique_ptr<shared::ScannerConnection> m_connection;
    shared::ScannerIdentity m_identity;
    std::optional<shared::Capabilities> m_capabilities;
    DeviceFacts m_facts;
    Options m_options;

    State m_state = State::Idle;
    SANE_Status m_failure = SANE_STATUS_IO_ERROR;
    shared::ScanWindow m_window;
    std::optional<shared::ImageReader> m_reader;
    std::span<const uint8_t> m_piece; // the part of the last piece not yet handed out
    bool m_nonBlocking = false;
    std::optional<platform::Poller> m_poller; // per scan
    std::optional<platform::Event> m_readable;
    std::atomic<bool> m_cancelRequested{false};
};

} // namespace lumarc::sane
