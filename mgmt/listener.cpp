// The trigger-port listener thread and its hidden window.
#include "listener.h"

#include "diagnostics.h"
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
constexpr size_t kEventMessageMax = 80;
constexpr size_t kEventMessageMin = 16;
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
// both touch.
struct Listener {
    std::mutex mutex;
    platform::WindowHandle notifyWindow = 0;
    uint32_t notifyMessage = 0;
    platform::WindowHandle hidden = 0;
    platform::UniqueFd listening;
    platform::UniqueFd eventSocket;
    platform::Endpoint eventPeer;
    uint32_t lastError = 0;
    std::shared_ptr<platform::Event> ended; // set when the thread ends
    std::thread thread;
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

void onAccept(Listener& l)
{
    debugLine("*MSG* FD_ACCEPT\n");
    std::scoped_lock lock(l.mutex);
    if (!l.listening)
        return;
    platform::Endpoint peer;
    auto accepted = platform::acceptTcp(l.listening.get(), &peer);
    if (!accepted) {
        l.lastError = accepted.error().code;
        logFailure(kEventAccept, kCategoryAcceptFailed);
        return;
    }
    if (l.eventSocket) {
        // Busy with another unit: turn this one away; the open connection
        // is not disturbed.
        (void)platform::sendAll(accepted->get(),
                                shared::encodeHeader(shared::bareHeader(shared::kGreetingBusy)));
        return;
    }
    (void)platform::setKeepAlive(accepted->get(), kKeepAliveIdle, kKeepAliveInterval,
                                 kKeepAliveProbes);
    if (auto selected = platform::selectSocketEvents(accepted->get(), l.hidden,
                                                     kEventSocketMessage,
                                                     platform::fd::kRead | platform::fd::kClose);
        !selected) {
        reportError("Error WSAAsyncSelect()\n", selected.error().code);
        return;
    }
    l.eventSocket = std::move(*accepted);
    l.eventPeer = peer;
    (void)platform::sendAll(l.eventSocket.get(),
                            shared::encodeHeader(shared::bareHeader(shared::kGreetingAccept)));
}

// One event message: check, acknowledge, ask for the scanner, notify.
void onRead(Listener& l)
{
    debugLine("*MSG* FD_READ\n");
    uint8_t received[kEventMessageMax] = {};
    int fd;
    platform::Endpoint peer;
    {
        std::scoped_lock lock(l.mutex);
        if (!l.eventSocket)
            return;
        fd = l.eventSocket.get();
        peer = l.eventPeer;
    }
    auto got = platform::tryReceive(fd, received);
    if (!got || !*got)
        return;
    EventMessageView message;
    if (!parseEventMessage(std::span(received, **got), message) ||
        message.magic != shared::kUnitMagic) {
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

    // The scan-information exchange delivers this thread's pending messages
    // before connecting, so another notification may be handled inside it.
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

intptr_t hiddenWindowProcedure(platform::WindowHandle, uint32_t message, uintptr_t,
                               intptr_t lParam)
{
    Listener& l = state();
    switch (message) {
    case platform::wm::kDestroy:
        platform::postQuitMessage(0);
        return 0;
    case kListenSocketMessage:
        if (platform::socketEventOf(lParam) == platform::fd::kAccept)
            onAccept(l);
        return 0;
    case kEventSocketMessage:
        switch (platform::socketEventOf(lParam)) {
        case platform::fd::kRead:
            onRead(l);
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
        l.ended = std::make_shared<platform::Event>(std::move(*ended));
    }
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
            platform::Message m;
            while (platform::getMessage(m))
                platform::dispatchMessage(m);
            {
                std::scoped_lock lock(l.mutex);
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
        if (l.listening) {
            (void)platform::selectSocketEvents(l.listening.get(), l.hidden, 0, 0);
            l.listening.reset();
        }
        closeEventSocket(l);
        hidden = l.hidden;
        l.notifyWindow = 0;
    }
    if (hidden != 0)
        (void)platform::destroyWindow(hidden); // on its own thread; posts the quit
    if (l.thread.joinable()) {
        if (l.ended && l.ended->wait(kThreadEndWait))
            l.thread.join();
        else
            l.thread.detach(); // hung in a window procedure: leave it
    }
    std::scoped_lock lock(l.mutex);
    l.ended.reset();
}

} // namespace lumarc::mgmt
