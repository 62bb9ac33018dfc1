// The trigger-port listener thread and its hidden window.
#include "listener.h"

#include "diagnostics.h"
#include "event_stream.h"
#include "exchange.h"
#include "library_state.h"
#include "zorvan.h"

#include "platform/error_codes.h"
#include "platform/event.h"
#include "platform/memory_block.h"
#include "platform/message_window.h"
#include "platform/net_socket.h"
#include "platform/unit_address.h"
#include "shared/message_header.h"

#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace lumarc::mgmt {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kThreadStartWait = 10s;
constexpr std::chrono::milliseconds kThreadEndWait = 60s;
constexpr size_t kEventMessageMin = 16;
// A message that arrived only in part (a burst split by TCP's flow control,
// a segment resent) is given this long to complete; one that a unit cut
// short stays short and is taken as far as it arrived.
constexpr std::chrono::milliseconds kRestOfMessageWait{100};
constexpr uintptr_t kPartialMessageTimer = 1;
// A unit that vanished mid-connection frees the listener for the others.
constexpr int kKeepAliveIdle = 30;
constexpr int kKeepAliveInterval = 10;
constexpr int kKeepAliveProbes = 3;

constexpr uint32_t kEventAccept = 100;
constexpr uint32_t kEventAcknowledge = 300;
constexpr uint16_t kCategoryAcceptFailed = 14001;
constexpr uint16_t kCategorySendFailed = 15001;

// The library-wide listener state. The window procedure runs on the listener
// thread; start and stop run on the caller's thread; the mutex guards what
// both touch and is never held across a blocking call. The sockets are
// closed only by the thread that owns them at the time: the caller's thread
// before the listener runs and after it ended, the listener thread at the
// top of its loop (never inside a nested delivery of messages), so a
// descriptor in use is never closed under its user.
struct Listener {
    std::mutex mutex;
    platform::WindowHandle notifyWindow = 0;
    uint32_t notifyMessage = 0;
    platform::WindowHandle hidden = 0;
    platform::UniqueFd listening;
    platform::UniqueFd eventSocket;
    platform::Endpoint eventPeer;
    uint32_t lastError = 0;
    std::chrono::milliseconds transferTimeout{10000};
    std::shared_ptr<platform::Event> ended; // set when the thread ends
    std::thread thread;
    // Ends the listener thread's scan-information request at clean-up.
    ExchangeCanceller canceller;
    // Listener thread only: an event message is being handled; what arrived
    // on the event connection and is not handled yet.
    bool handling = false;
    EventStream stream;
};

Listener& state()
{
    static Listener listener;
    return listener;
}

void closeEventSocket(Listener& l)
{
    if (l.eventSocket) {
        (void)platform::selectSocketEvents(l.eventSocket.get(), l.hidden, 0, 0);
        l.eventSocket.reset();
    }
}

// Notifications of the event socket: off while one message is handled, so
// that the messages the scan-information request delivers never start the
// handling of the next event inside this one. A unit that sends a burst of
// events therefore costs one handling at a time, whatever its size; the
// next one is noticed when notifications come back on.
void watchEventSocket(Listener& l, bool on)
{
    std::scoped_lock lock(l.mutex);
    if (!l.eventSocket)
        return;
    (void)platform::selectSocketEvents(l.eventSocket.get(), l.hidden,
                                       on ? kEventSocketMessage : 0,
                                       on ? platform::fd::kRead | platform::fd::kClose : 0);
}

void onAccept(Listener& l)
{
    debugLine("*MSG* FD_ACCEPT\n");
    int listening;
    {
        std::scoped_lock lock(l.mutex);
        if (!l.listening)
            return;
        listening = l.listening.get();
    }
    // The listening socket does not block: a notification whose connection
    // is gone (or was taken already) finds nothing and ends here.
    platform::Endpoint peer;
    auto accepted = platform::acceptTcp(listening, &peer);
    if (!accepted) {
        if (accepted.error().code == platform::wsa::kWouldBlock)
            return;
        std::scoped_lock lock(l.mutex);
        l.lastError = accepted.error().code;
        logFailure(kEventAccept, kCategoryAcceptFailed);
        return;
    }
    bool busy;
    {
        std::scoped_lock lock(l.mutex);
        busy = static_cast<bool>(l.eventSocket);
    }
    if (busy) {
        // Busy with another unit: turn this one away; the open connection
        // is not disturbed. The greeting fits any empty send buffer, so
        // this never blocks.
        (void)platform::sendAll(accepted->get(),
                                shared::encodeHeader(shared::bareHeader(shared::kGreetingBusy)));
        return;
    }
    (void)platform::setKeepAlive(accepted->get(), kKeepAliveIdle, kKeepAliveInterval,
                                 kKeepAliveProbes);
    // A unit that stops reading cannot hold the listener in a send: the
    // acknowledgement gives up after the transfer time-out.
    std::chrono::milliseconds sendLimit;
    {
        std::scoped_lock lock(l.mutex);
        sendLimit = l.transferTimeout;
    }
    (void)platform::setSendTimeout(accepted->get(), sendLimit);
    const int fd = accepted->get();
    {
        std::scoped_lock lock(l.mutex);
        if (auto selected = platform::selectSocketEvents(
                fd, l.hidden, kEventSocketMessage, platform::fd::kRead | platform::fd::kClose);
            !selected) {
            reportError("Error WSAAsyncSelect()\n", selected.error().code);
            return;
        }
        l.eventSocket = std::move(*accepted);
        l.eventPeer = peer;
    }
    l.stream.clear();
    (void)platform::sendAll(fd, shared::encodeHeader(shared::bareHeader(shared::kGreetingAccept)));
}

// One event message: check, acknowledge, ask for the scanner, notify.
void handleEvent(Listener& l, int fd, const platform::Endpoint& peer, const EventBytes& received)
{
    EventMessageView message;
    if (!parseEventMessage(received.view(), message) || message.magic != shared::kUnitMagic) {
        debugLine("Quillet : ***** IDエラー *****\n");
        return;
    }
    const uintptr_t kind = notificationKind(message.code);
    if (kind == 0) {
        debugLine("Quillet : ***** 未定義コマンド *****\n");
        return;
    }
    if (auto acked = platform::sendAll(fd, shared::encodeHeader(shared::bareHeader(0)));
        !acked) {
        logFailure(kEventAcknowledge, kCategorySendFailed);
        return;
    }

    char model[16] = {};
    const std::string unit = platform::addressText(peer.address);
    uint32_t scanner = 0, inquiryLength = 0, secondLength = 0;
    uint8_t inquiry[ZORVAN_INQUIRY_SIZE] = {};
    uint8_t second[ZORVAN_SECOND_BLOCK_SIZE] = {};
    if (Zorvan_GetScanInfo(unit.c_str(), &scanner, &inquiryLength, &secondLength, inquiry,
                           second) == 0)
        scannerModelFromInquiry(std::span(inquiry, inquiryLength), model);

    platform::WindowHandle target;
    uint32_t notifyMessage;
    {
        std::scoped_lock lock(l.mutex);
        target = l.notifyWindow;
        notifyMessage = l.notifyMessage;
    }
    if (target == 0)
        return;
    platform::MemoryHandle block = platform::globalAlloc(platform::BlockFlags::ZeroInit,
                                                         sizeof(ButtonEvent));
    auto* event = static_cast<ButtonEvent*>(platform::globalLock(block));
    if (event == nullptr)
        return;
    event->address = peer.address;
    event->flags = message.flags;
    std::memcpy(event->scannerModel, model, sizeof model);
    std::memcpy(event->userName, message.user, sizeof event->userName);
    platform::globalUnlock(block);
    debugLine("Scanner %s\n", model);
    debugLine("HwStatus 0x%x\n", message.flags);
    debugLine("Name %.32s\n", message.user);
    // The receiver owns the block once the message is delivered; a window
    // that no longer exists never gets it, so it is freed here.
    auto sent = platform::sendMessage(target, notifyMessage, kind,
                                      reinterpret_cast<intptr_t>(block));
    if (!sent) {
        debugLine("notification window %lu: %s\n", static_cast<unsigned long>(target),
                  sent.error().text.c_str());
        platform::globalFree(block);
    }
}

// Takes what has arrived on the event connection, as far as the stream has
// room; false when the connection failed.
bool fillStream(Listener& l, int fd)
{
    uint8_t buffer[EventStream::kCapacity];
    while (l.stream.room() > 0) {
        auto got = platform::tryReceive(fd, std::span(buffer, l.stream.room()));
        if (!got)
            return false;
        if (!*got || **got == 0)
            return true; // nothing more now, or the unit closed (FD_CLOSE follows)
        l.stream.append(std::span(buffer, **got));
    }
    return true;
}

bool stopping(Listener& l)
{
    std::scoped_lock lock(l.mutex);
    return l.notifyWindow == 0;
}

// Handles the event messages that have arrived, one after the other; with
// takePartial, a message that has waited long enough for its rest too.
void onRead(Listener& l, bool takePartial)
{
    // Never nested: the event socket is not watched while events are
    // handled, and a timer that fires inside a handling is left for later.
    if (l.handling)
        return;
    int fd;
    platform::Endpoint peer;
    platform::WindowHandle hidden;
    {
        std::scoped_lock lock(l.mutex);
        if (!l.eventSocket)
            return;
        fd = l.eventSocket.get();
        peer = l.eventPeer;
        hidden = l.hidden;
    }
    l.handling = true;
    watchEventSocket(l, false);
    bool open = fillStream(l, fd);
    while (open && !stopping(l)) {
        auto message = l.stream.next(takePartial);
        takePartial = false;
        if (!message)
            break;
        handleEvent(l, fd, peer, *message);
        // What arrived meanwhile, so the unit's window stays open.
        open = fillStream(l, fd);
    }
    if (l.stream.hasPartial())
        (void)platform::setTimer(hidden, kPartialMessageTimer, kRestOfMessageWait);
    else
        (void)platform::killTimer(hidden, kPartialMessageTimer);
    watchEventSocket(l, true);
    l.handling = false;
}

intptr_t hiddenWindowProcedure(platform::WindowHandle, uint32_t message, uintptr_t wParam,
                               intptr_t lParam)
{
    Listener& l = state();
    switch (message) {
    case platform::wm::kDestroy:
        platform::postQuitMessage(0);
        return 0;
    case platform::wm::kTimer:
        if (wParam == kPartialMessageTimer)
            onRead(l, true);
        return 0;
    case kListenSocketMessage:
        if (platform::socketEventOf(lParam) == platform::fd::kAccept)
            onAccept(l);
        return 0;
    case kEventSocketMessage:
        switch (platform::socketEventOf(lParam)) {
        case platform::fd::kRead:
            debugLine("*MSG* FD_READ\n");
            onRead(l, false);
            break;
        case platform::fd::kWrite:
            debugLine("*MSG* FD_WRITE\n");
            break;
        case platform::fd::kConnect:
            debugLine("*MSG* FD_CONNECT %d\n", static_cast<int>(platform::socketErrorOf(lParam)));
            break;
        case platform::fd::kClose: {
            debugLine("*MSG* FD_CLOSE\n");
            std::scoped_lock lock(l.mutex);
            closeEventSocket(l);
            // A message the unit left unfinished is dropped with it.
            l.stream.clear();
            (void)platform::killTimer(l.hidden, kPartialMessageTimer);
            break;
        }
        default:
            break;
        }
        return 0;
    default:
        return 0;
    }
}

// Opens the trigger port on the caller's thread once the window exists.
int32_t openTriggerPort(Listener& l, uint16_t port)
{
    platform::WindowHandle hidden;
    {
        std::scoped_lock lock(l.mutex);
        hidden = l.hidden;
    }
    auto socket = platform::tcpSocket();
    if (!socket)
        return static_cast<int32_t>(reportError("Error socket()\n", socket.error().code));
    // Notifications are requested before binding, as the original does.
    if (auto selected = platform::selectSocketEvents(socket->get(), hidden, kListenSocketMessage,
                                                     platform::fd::kAccept);
        !selected)
        return static_cast<int32_t>(reportError("Error WSAAsyncSelect()\n", selected.error().code));
    const auto fail = [&](const char* context, const Error& error) {
        (void)platform::selectSocketEvents(socket->get(), hidden, 0, 0);
        return static_cast<int32_t>(reportError(context, error.code));
    };
    if (auto bound = platform::bindSocket(socket->get(), {0, port}); !bound)
        return fail("Error bind()\n", bound.error());
    if (auto listening = platform::listenSocket(socket->get()); !listening)
        return fail("Error listen()\n", listening.error());
    // Accepting never waits: see onAccept.
    if (auto nonBlocking = platform::setNonBlocking(socket->get()); !nonBlocking)
        return fail("Error listen()\n", nonBlocking.error());
    std::scoped_lock lock(l.mutex);
    l.listening = std::move(*socket);
    return 0;
}

} // namespace

bool parseEventMessage(std::span<const uint8_t> received, EventMessageView& out)
{
    out = EventMessageView{};
    if (received.size() < kEventMessageMin)
        return false;
    out.magic = shared::readLe32(received, 4);
    out.code = shared::readLe32(received, 8);
    out.flags = shared::readLe32(received, 12);
    const size_t userBytes = std::min<size_t>(received.size() - 16, sizeof out.user);
    std::memcpy(out.user, received.data() + 16, userBytes);
    return true;
}

void scannerModelFromInquiry(std::span<const uint8_t> inquiry, char (&model)[16])
{
    std::memset(model, 0, sizeof model);
    if (inquiry.size() <= 16)
        return;
    const size_t n = std::min<size_t>(inquiry.size() - 16, 15);
    std::memcpy(model, inquiry.data() + 16, n);
    for (size_t i = n; i > 0 && (model[i - 1] == ' ' || model[i - 1] == '\0'); --i)
        model[i - 1] = '\0';
}

uintptr_t notificationKind(uint32_t code)
{
    switch (code) {
    case 1:
    case 4:
        return 1;
    case 5:
    case 6:
        return 3;
    default:
        return 0;
    }
}

int32_t startListener(uintptr_t window, uint32_t message, uint16_t triggerPort)
{
    stopListener(); // a second start replaces the first
    Listener& l = state();
    auto failedEvent = platform::Event::create(platform::EventReset::Manual);
    auto readyEvent = platform::Event::create(platform::EventReset::Manual);
    auto ended = platform::Event::create(platform::EventReset::Manual);
    if (!failedEvent || !readyEvent || !ended)
        return static_cast<int32_t>(reportError(
            "Error make thread event object\n",
            (!failedEvent ? failedEvent : !readyEvent ? readyEvent : ended).error().code));
    // Shared with the thread, which may signal after start-up gave up.
    auto failed = std::make_shared<platform::Event>(std::move(*failedEvent));
    auto ready = std::make_shared<platform::Event>(std::move(*readyEvent));
    {
        std::scoped_lock lock(l.mutex);
        l.notifyWindow = window;
        l.notifyMessage = message;
        l.lastError = 0;
        l.transferTimeout = transferTimeout();
        l.ended = std::make_shared<platform::Event>(std::move(*ended));
    }
    l.canceller.reset();
    std::shared_ptr<platform::Event> endedEvent = l.ended;
    try {
        l.thread = std::thread([&l, failed, ready, endedEvent] {
            auto hidden = platform::createWindow(hiddenWindowProcedure);
            if (!hidden) {
                reportError("Make dialog error", hidden.error().code);
                {
                    std::scoped_lock lock(l.mutex);
                    l.lastError = hidden.error().code;
                }
                (void)failed->set();
                (void)endedEvent->set();
                return;
            }
            {
                std::scoped_lock lock(l.mutex);
                l.hidden = *hidden;
            }
            (void)ready->set();
            {
                const ScopedExchangeCanceller cancellable(l.canceller);
                platform::Message m;
                while (platform::getMessage(m))
                    platform::dispatchMessage(m);
            }
            {
                std::scoped_lock lock(l.mutex);
                closeEventSocket(l);
                l.listening.reset();
                l.hidden = 0;
            }
            (void)endedEvent->set();
        });
    } catch (const std::system_error& e) {
        return static_cast<int32_t>(
            reportError("Make dialog thread error\n", platform::win32FromErrno(e.code().value())));
    }
    debugLine("スレッドハンドル %08X\n",
              static_cast<unsigned>(std::hash<std::thread::id>{}(l.thread.get_id())));
    const platform::Event* both[] = {failed.get(), ready.get()};
    const auto signalled = platform::waitForAny(both, kThreadStartWait);
    if (!signalled) {
        debugLine("Thread start wait timeout\n");
        return -1;
    }
    if (*signalled == 0) {
        std::scoped_lock lock(l.mutex);
        return static_cast<int32_t>(l.lastError);
    }
    return openTriggerPort(l, triggerPort);
}

void stopListener()
{
    Listener& l = state();
    platform::WindowHandle hidden;
    {
        std::scoped_lock lock(l.mutex);
        l.notifyWindow = 0;
        hidden = l.hidden;
        // Wakes an acknowledgement stuck on a unit that does not read; the
        // listener thread closes the socket itself.
        if (l.eventSocket)
            platform::shutdownBoth(l.eventSocket.get());
    }
    // Ends a scan-information request in progress and refuses the next, so
    // the thread comes back to its messages within moments.
    l.canceller.cancel();
    if (hidden != 0)
        (void)platform::destroyWindow(hidden); // on its own thread; posts the quit
    if (l.thread.joinable()) {
        // The thread may be sending a button event to a window of this
        // thread: it is handled while waiting, so the two never wait for
        // each other.
        if (l.ended && platform::waitHandlingSends(*l.ended, kThreadEndWait))
            l.thread.join();
        else
            l.thread.detach(); // hung in the caller's window procedure: leave it
    }
    std::scoped_lock lock(l.mutex);
    if (!l.thread.joinable() && l.hidden == 0) {
        // The thread never ran its loop (or start-up failed after the port
        // was opened): what it would have closed is closed here.
        closeEventSocket(l);
        l.listening.reset();
    }
    l.ended.reset();
}

} // namespace lumarc::mgmt
