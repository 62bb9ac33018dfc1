// SIGTERM, SIGINT and SIGHUP for a Qt program: the platform's signal watch
// posts each signal to a message window on a small thread of its own, which
// hands it to the Qt main thread as a queued call.
//
// The signals must be blocked before any thread starts (first thing in
// main); a signal that came before the bridge started is delivered then.
#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace lumarc::infotool {

class SignalBridge {
public:
    // onSignal runs on the Qt main thread with the signal number.
    static std::unique_ptr<SignalBridge> start(std::function<void(int)> onSignal);
    ~SignalBridge(); // stops the thread

private:
    SignalBridge() = default;
    std::thread m_thread;
    uintptr_t m_window = 0;
};

} // namespace lumarc::infotool
