// Signals as window messages, the counterpart of the log-off query.
//
// A program that ends cleanly on SIGTERM, SIGINT or SIGHUP (or that reaps
// its children on SIGCHLD) blocks those signals before it starts any thread
// (blockSignals, first thing in main), then lets a SignalWatch turn each
// delivery into a message posted to one of its windows: wParam is the
// signal number. The watch's thread reads a signalfd, so a signal that
// arrives at any moment is never lost and no handler runs inside our code.
#pragma once

#include "message_window.h"
#include "result.h"
#include "unique_fd.h"

#include <initializer_list>
#include <memory>
#include <thread>

namespace lumarc::platform {

// Blocks the signals in the calling thread; threads started afterwards
// inherit that. Call before any thread exists.
void blockSignals(std::initializer_list<int> signals);

class SignalWatch {
public:
    // Starts the thread; the signals must be blocked already.
    static Result<std::unique_ptr<SignalWatch>> start(std::initializer_list<int> signals,
                                                      WindowHandle window, uint32_t message);
    ~SignalWatch(); // stops and joins the thread

private:
    SignalWatch(UniqueFd signals, UniqueFd stop) : m_signals(std::move(signals)), m_stop(std::move(stop)) {}
    void run(WindowHandle window, uint32_t message);

    UniqueFd m_signals;
    UniqueFd m_stop;
    std::thread m_thread;
};

} // namespace lumarc::platform
