// The trigger-port listener: a thread with a hidden window that accepts the
// units' event connections (one at a time), greets, checks and acknowledges
// event messages, asks the unit for its scanner, and sends each button event
// synchronously to the caller's notification window.
//
//   idle (listening) --accept--> connected --unit closes--> idle
//   connected: further units are turned away with greeting 0xFFFFFFFF
//
// Started by Zorvan_Startup with a notification target, stopped by
// Zorvan_Cleanup, both on the caller's main thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lumarc::mgmt {

// Hidden-window messages of the socket notifications.
constexpr uint32_t kListenSocketMessage = 0x8001;
constexpr uint32_t kEventSocketMessage = 0x8002;

// Starts the thread and its window, then opens the trigger port. Returns the
// start-up result: 0, -1 when the thread did not signal within 10 s, or the
// Windows Sockets / Win32 code of the failed step (10048 for a taken port).
int32_t startListener(uintptr_t window, uint32_t message, uint16_t triggerPort);

// Closes the sockets, destroys the window on its thread and waits (at most
// 60 s) for the thread to end. Safe when nothing was started.
void stopListener();

// What an event message says, read within what arrived: nullopt for a
// message shorter than its 16 bytes of length, magic, code and flags.
struct EventMessageView {
    uint32_t magic = 0;
    uint32_t code = 0;
    uint32_t flags = 0;
    char user[32] = {}; // as far as it arrived, zero behind
};
bool parseEventMessage(std::span<const uint8_t> received, EventMessageView& out);

// The scanner model from INQUIRY data: 15 characters of the product
// identification (offset 16), trailing blanks removed.
void scannerModelFromInquiry(std::span<const uint8_t> inquiry, char (&model)[16]);

// wParam of the notification for an event code (1 for 1 and 4, 3 for 5 and
// 6), 0 for any other code.
uintptr_t notificationKind(uint32_t code);

} // namespace lumarc::mgmt
