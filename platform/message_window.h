// Message windows: the counterpart of Windows windows and message queues.
//
// A window is a receiver of messages (message, wParam, lParam) that belongs
// to the thread that created it; its procedure always runs on that thread.
// Each thread has a queue: posted messages, sent messages (synchronous),
// timers, socket readiness and datagrams for its titled windows all arrive
// there. A send to a window of another thread waits for the result and, while
// it waits, still handles sends addressed to the waiting thread's own
// windows, so two threads sending to each other never deadlock.
//
// A window with a title is also reachable from other processes of the same
// user through a Unix datagram socket named after the title in the runtime
// folder (mode 0700; each datagram's sender is checked too): find it by
// title, post to it (lParam must be 0), or send it a data copy (0x004A) whose
// bytes travel with the message. Malformed or oversized datagrams are
// dropped.
//
// Handles are never reused, so a stale handle names no window.
#pragma once

#include "event.h"
#include "result.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace lumarc::platform {

using WindowHandle = uintptr_t; // 0: none

namespace wm {
constexpr uint32_t kDestroy = 0x0002;
constexpr uint32_t kQuit = 0x0012;
constexpr uint32_t kCopyData = 0x004A;
constexpr uint32_t kTimer = 0x0113;
constexpr uint32_t kUser = 0x0400;
constexpr uint32_t kApp = 0x8000;
} // namespace wm

// Windows Sockets event bits of a socket notification.
namespace fd {
constexpr uint32_t kRead = 0x01;
constexpr uint32_t kWrite = 0x02;
constexpr uint32_t kAccept = 0x08;
constexpr uint32_t kConnect = 0x10;
constexpr uint32_t kClose = 0x20;
} // namespace fd

// A socket notification's lParam: the event bit in the low 16 bits, the
// Windows Sockets error in the high 16 bits.
constexpr intptr_t socketNotification(uint32_t event, uint32_t error)
{
    return static_cast<intptr_t>((error & 0xFFFFu) << 16 | (event & 0xFFFFu));
}
constexpr uint32_t socketEventOf(intptr_t lParam)
{
    return static_cast<uint32_t>(lParam) & 0xFFFFu;
}
constexpr uint32_t socketErrorOf(intptr_t lParam)
{
    return (static_cast<uint32_t>(lParam) >> 16) & 0xFFFFu;
}

struct Message {
    WindowHandle window = 0;
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

// The lParam of a data-copy message points at this record, valid while the
// message is handled.
struct CopyData {
    uintptr_t dwData = 0;
    uint32_t cbData = 0;
    const void* lpData = nullptr;
};

using WindowProcedure =
    std::function<intptr_t(WindowHandle window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam)>;

// Creates a window owned by the calling thread. A non-empty title makes it
// reachable from other processes; fails with 183 when a live window of
// another process has that title.
Result<WindowHandle> createWindow(WindowProcedure procedure, std::string_view title = {});

// Destroys a window: its procedure receives kDestroy on its own thread (a
// call from another thread waits for that), then the handle is dead.
Status destroyWindow(WindowHandle window);

// Whether the handle names a live window (of this or another process).
bool isWindow(WindowHandle window);

// Queues a message for the window's thread; any thread may call. Fails with
// 1400 when the handle names no window.
Status postMessage(WindowHandle window, uint32_t message, uintptr_t wParam = 0,
                   intptr_t lParam = 0);

// Runs the window's procedure on its thread and returns its result; blocks
// until then (handling sends to the caller's own windows meanwhile). Fails
// with 1400 when the window does not exist or is destroyed before its thread
// handles the message. Only data copies go to other processes.
Result<intptr_t> sendMessage(WindowHandle window, uint32_t message, uintptr_t wParam = 0,
                             intptr_t lParam = 0);

// Sends a data copy (kCopyData, wParam = from) to a window of this or another
// process; at most kMaxCopyData bytes.
constexpr size_t kMaxCopyData = 60 * 1024;
Status sendCopyData(WindowHandle window, WindowHandle from, uintptr_t dwData,
                    std::span<const uint8_t> data);

// The calling thread's queue.
void postQuitMessage(int exitCode);
// Waits for the next message; false when it is the quit message (its exit
// code in message.wParam).
bool getMessage(Message& message);
// The next message without waiting; false when there is none.
bool peekMessage(Message& message);
// Runs the procedure of the message's window; 0 when there is none.
intptr_t dispatchMessage(const Message& message);
// Peeks and dispatches until the queue is empty (a quit message is put back).
void dispatchPendingMessages();

// A timer that posts kTimer (wParam = id) to the window every interval;
// setting an existing id restarts it.
Status setTimer(WindowHandle window, uintptr_t id, std::chrono::milliseconds interval);
Status killTimer(WindowHandle window, uintptr_t id);

// Turns readiness of a socket into messages for a window of this process:
// wParam the socket, lParam socketNotification(event, error). A read or
// accept notification comes again only after the previous one was taken
// from the queue; kClose comes once. events 0 stops the notifications (do
// that before closing the socket).
Status selectSocketEvents(int socket, WindowHandle window, uint32_t message, uint32_t events);

// Waits at most timeout for an event (true when it was signalled; an
// auto-reset event's signal is taken), handling meanwhile the sends addressed
// to the calling thread's windows. A thread that waits for another to end
// uses it, so that the other's synchronous message to it cannot deadlock
// the two.
bool waitHandlingSends(const Event& event, std::chrono::milliseconds timeout);

// A window with this title, in this process or another of the same user; 0
// when there is none.
WindowHandle findWindow(std::string_view title);

// Finds the window with this title and posts to it in one step, with
// lParam 0 and without waiting: the counterpart of posting to the window
// that findWindow(title) names. Fails with 1400 when there is no such window
// or, for a window of another process, when its queue cannot take the
// message now (it is dropped). A window of another process costs one
// datagram send, whether it exists or not; a window of this process is
// preferred.
Status postMessageToTitle(std::string_view title, uint32_t message, uintptr_t wParam = 0);

} // namespace lumarc::platform
