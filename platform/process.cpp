// Process start with posix_spawn, waits by polling /proc and waitpid.
#include "process.h"

#include "error_codes.h"
#include "file_io.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <utility>

extern char** environ;

namespace lumarc::platform {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kPollInterval{5};

// The state letter of /proc/<pid>/stat: it follows the ')' that closes the
// command name, which may itself hold ')' or blanks.
char processState(pid_t pid)
{
    // One line of numbers and a command name of at most 64 bytes.
    auto stat = readWholeFile("/proc/" + std::to_string(pid) + "/stat", 4096);
    if (!stat)
        return '\0';
    const size_t close = stat->rfind(')');
    if (close == std::string::npos || close + 2 >= stat->size())
        return '\0';
    return (*stat)[close + 2];
}

} // namespace

Result<Process> Process::start(const std::vector<std::string>& argv,
                               const std::filesystem::path& workingFolder)
{
    if (argv.empty() || argv[0].empty())
        return Error{win32::kInvalidParameter, "start: no program given"};
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workingFolder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    // A program starts as from a shell: no signal blocked, none ignored,
    // whatever this process does with its own (a resident program blocks
    // the signals a watcher thread takes, and ignores SIGPIPE).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    // glibc reports exec failures (missing program, no permission, a
    // working folder that cannot be entered) here.
    const int rc = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return win32Error("start " + argv[0], rc);
    return Process(pid);
}

Process::Process(Process&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)), m_exitCode(other.m_exitCode)
{
}

Process& Process::operator=(Process&& other) noexcept
{
    if (this != &other) {
        if (m_pid > 0 && !m_exitCode)
            reap(false);
        m_pid = std::exchange(other.m_pid, -1);
        m_exitCode = other.m_exitCode;
    }
    return *this;
}

Process::~Process()
{
    if (m_pid > 0 && !m_exitCode)
        reap(false);
}

bool Process::reap(bool block)
{
    if (m_exitCode)
        return true;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == m_pid) {
        m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
    }
    if (r < 0) {
        m_exitCode = -1; // collected elsewhere (or not our child): ended
        return true;
    }
    return false;
}

bool Process::running()
{
    return m_pid > 0 && !reap(false);
}

IdleWait Process::waitForInputIdle(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (!running())
            return IdleWait::Ended;
        const char state = processState(m_pid);
        if (state == 'S')
            return IdleWait::Idle;
        if (state == 'Z' || state == 'X' || state == '\0') {
            if (!running())
                return IdleWait::Ended;
        }
        if (Clock::now() >= deadline)
            return IdleWait::TimedOut;
        std::this_thread::sleep_for(kPollInterval);
    }
}

std::optional<int> Process::wait(std::chrono::milliseconds timeout)
{
    if (m_pid <= 0)
        return m_exitCode;
    if (timeout < std::chrono::milliseconds::zero()) {
        reap(true);
        return m_exitCode;
    }
    const auto deadline = Clock::now() + timeout;
    while (!reap(false)) {
        if (Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(kPollInterval);
    }
    return m_exitCode;
}

Status Process::terminate(int signal)
{
    if (m_pid <= 0 || m_exitCode)
        return {};
    if (::kill(m_pid, signal) != 0 && errno != ESRCH)
        return win32Error("kill " + std::to_string(m_pid), errno);
    return {};
}

} // namespace lumarc::platform
