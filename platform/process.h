// Starting programs, the counterpart of process creation.
//
// A program is started from an argument vector (never through a shell) in a
// given working folder. waitForInputIdle is the Linux reading of "wait until
// the new process is idle for input": its main thread sleeps in an
// interruptible wait (state S in /proc/<pid>/stat), or it has ended.
#pragma once

#include "result.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lumarc::platform {

enum class IdleWait { Idle, Ended, TimedOut };

class Process {
public:
    // Starts argv[0] (looked up in PATH when it holds no '/') with the given
    // arguments; an empty workingFolder keeps ours. Fails with the Win32
    // code of the reason (2 when the program does not exist, 5 when it may
    // not be run, 193 when it is no program).
    static Result<Process> start(const std::vector<std::string>& argv,
                                 const std::filesystem::path& workingFolder = {});

    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    // Collects the exit status when the process has already ended; a running
    // process is left running, as a started program outlives its starter.
    ~Process();

    pid_t pid() const { return m_pid; }

    IdleWait waitForInputIdle(std::chrono::milliseconds timeout);

    // Waits for the end; returns the exit code (128+signal when killed), or
    // nullopt on time-out.
    std::optional<int> wait(std::chrono::milliseconds timeout);

    // Whether the process is still running (not ended and not collected).
    bool running();

    // Sends a signal (SIGTERM by default).
    Status terminate(int signal = 15);

private:
    explicit Process(pid_t pid) : m_pid(pid) {}
    bool reap(bool block);

    pid_t m_pid = -1;
    std::optional<int> m_exitCode;
};

} // namespace lumarc::platform
