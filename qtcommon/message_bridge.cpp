// The message bridge's thread.
#include "message_bridge.h"

#include "platform/message_window.h"
#include "platform/signal_watch.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <csignal>
#include <future>

namespace lumarc::qtcommon {
namespace {

using namespace lumarc::platform;

constexpr uint32_t kStopMessage = 0x8000 + 0x53;

} // namespace

std::unique_ptr<MessageBridge> MessageBridge::start(const std::string& title, bool watchSignals,
                                                    Handler handler)
{
    std::unique_ptr<MessageBridge> bridge(new MessageBridge);
    std::promise<uintptr_t> ready;
    auto windowReady = ready.get_future();
    bridge->m_thread = std::thread([handler = std::move(handler), title, watchSignals, &ready] {
        auto window = createWindow(
            [&handler](WindowHandle, uint32_t message, uintptr_t wParam, intptr_t) -> intptr_t {
                if (message == kStopMessage) {
                    postQuitMessage(0);
                } else if (message == kSignalMessage || message == kActivateMessage) {
                    QMetaObject::invokeMethod(
                        QCoreApplication::instance(),
                        [handler, message, wParam] { handler(message, wParam); },
                        Qt::QueuedConnection);
                }
                return 0;
            },
            title);
        if (!window) {
            ready.set_value(0);
            return;
        }
        Result<std::unique_ptr<SignalWatch>> watch = Error{};
        if (watchSignals)
            watch = SignalWatch::start({SIGTERM, SIGINT, SIGHUP}, *window, kSignalMessage);
        ready.set_value(*window);
        Message message;
        while (getMessage(message))
            dispatchMessage(message);
        watch = Error{};
        (void)destroyWindow(*window);
    });
    bridge->m_window = windowReady.get();
    if (bridge->m_window == 0) {
        bridge->m_thread.join();
        return nullptr;
    }
    return bridge;
}

MessageBridge::~MessageBridge()
{
    if (m_window != 0)
        (void)postMessage(m_window, kStopMessage);
    if (m_thread.joinable())
        m_thread.join();
}

std::unique_ptr<MessageBridge> SignalBridge::start(std::function<void(int)> onSignal)
{
    return MessageBridge::start({}, true,
                                [onSignal = std::move(onSignal)](uint32_t message, uintptr_t wParam) {
                                    if (message == kSignalMessage)
                                        onSignal(static_cast<int>(wParam));
                                });
}

bool activateFirstCopy(const std::string& title)
{
    const WindowHandle window = findWindow(title);
    return window != 0 && postMessage(window, kActivateMessage);
}

} // namespace lumarc::qtcommon
