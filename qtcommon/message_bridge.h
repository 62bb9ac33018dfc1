// Platform messages for a Qt program: a message window on a small thread of
// its own, whose messages run as queued calls on the Qt main thread.
//
// Two uses: SIGTERM, SIGINT and SIGHUP turned into a clean quit (the
// platform's signal watch posts each signal to the bridge's window), and a
// titled window that a second copy of the program finds and posts to, so
// that the first copy comes to the front.
//
// Signals to watch must be blocked before any thread starts (first thing in
// main); a signal that came before the bridge started is delivered then.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace lumarc::qtcommon {

// Messages the bridge hands on: a watched signal (wParam the signal number),
// and the request a second copy of a program posts to the first.
constexpr uint32_t kSignalMessage = 0x8000 + 0x51;
constexpr uint32_t kActivateMessage = 0x8000 + 0x52;

class MessageBridge {
public:
    using Handler = std::function<void(uint32_t message, uintptr_t wParam)>;

    // Starts the thread and its window (reachable from other processes of
    // the user when title is not empty); with watchSignals, SIGTERM, SIGINT
    // and SIGHUP arrive as kSignalMessage. handler
    // runs on the Qt main thread for every message but the bridge's own
    // stop request. Null when the window could not be made (a titled window
    // of another live process has the title).
    static std::unique_ptr<MessageBridge> start(const std::string& title, bool watchSignals,
                                                Handler handler);
    ~MessageBridge(); // stops the thread

    MessageBridge(const MessageBridge&) = delete;
    MessageBridge& operator=(const MessageBridge&) = delete;

private:
    MessageBridge() = default;
    std::thread m_thread;
    uintptr_t m_window = 0;
};

// SIGTERM, SIGINT and SIGHUP as calls of onSignal(signal) on the Qt main
// thread.
class SignalBridge {
public:
    static std::unique_ptr<MessageBridge> start(std::function<void(int)> onSignal);
};

// Asks the first copy of a program, whose bridge window has this title, to
// bring its window to the front; false when there is no such window.
bool activateFirstCopy(const std::string& title);

} // namespace lumarc::qtcommon
