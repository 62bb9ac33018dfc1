// The signal bridge's thread.
#include "signal_bridge.h"

#include "platform/message_window.h"
#include "platform/signal_watch.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <csignal>
#include <future>

namespace lumarc::infotool {
namespace {

using namespace lumarc::platform;

constexpr uint32_t kSignalMessage = wm::kApp + 1;
constexpr uint32_t kStopMessage = wm::kApp + 2;

} // namespace

std::unique_ptr<SignalBridge> SignalBridge::start(std::function<void(int)> onSignal)
{
    std::unique_ptr<SignalBridge> bridge(new SignalBridge);
    std::promise<uintptr_t> ready;
    auto windowReady = ready.get_future();
    bridge->m_thread = std::thread([onSignal = std::move(onSignal), &ready] {
        auto window = createWindow([&onSignal](WindowHandle, uint32_t message, uintptr_t wParam,
                                               intptr_t) -> intptr_t {
            if (message == kSignalMessage) {
                const int signal = static_cast<int>(wParam);
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(), [onSignal, signal] { onSignal(signal); },
                    Qt::QueuedConnection);
            } else if (message == kStopMessage) {
                postQuitMessage(0);
            }
            return 0;
        });
        if (!window) {
            ready.set_value(0);
            return;
        }
        auto watch = SignalWatch::start({SIGTERM, SIGINT, SIGHUP}, *window, kSignalMessage);
        ready.set_value(*window);
        Message message;
        while (getMessage(message))
            dispatchMessage(message);
        watch = Error{};
        (void)destroyWindow(*window);
    });
    bridge->m_window = windowReady.get();
    return bridge;
}

SignalBridge::~SignalBridge()
{
    if (m_window != 0)
        (void)postMessage(m_window, kStopMessage);
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace lumarc::infotool
