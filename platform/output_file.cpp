// Output files: standard output, special files, links, and new files that
// take their name only when complete.
#include "output_file.h"

#include "error_codes.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace lumarc::platform {
namespace {

// The partial files of this process, for the signal handler: fixed slots of
// fixed size, so that the handler reads them without allocating or locking.
constexpr size_t kSlots = 16;
struct Slot {
    std::atomic<bool> used{false};
    char path[PATH_MAX] = {};
};
std::array<Slot, kSlots> g_partials;
std::mutex g_slotsMutex;

void rememberPartial(const std::string& path)
{
    std::scoped_lock lock(g_slotsMutex);
    for (Slot& slot : g_partials) {
        if (!slot.used.load(std::memory_order_acquire) && path.size() < sizeof slot.path) {
            std::memcpy(slot.path, path.c_str(), path.size() + 1);
            slot.used.store(true, std::memory_order_release);
            return;
        }
    }
}

void forgetPartial(const std::string& path)
{
    std::scoped_lock lock(g_slotsMutex);
    for (Slot& slot : g_partials) {
        if (slot.used.load(std::memory_order_acquire) && path == slot.path) {
            slot.used.store(false, std::memory_order_release);
            return;
        }
    }
}

extern "C" void removePartialsAndDie(int signal)
{
    for (Slot& slot : g_partials)
        if (slot.used.load(std::memory_order_acquire))
            ::unlink(slot.path);
    // End as the signal would have ended us.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

Error failure(const std::string& what, const std::string& path, int error)
{
    return Error{win32FromErrno(error), what + " " + path + ": " + std::strerror(error)};
}

} // namespace

Result<OutputFile> OutputFile::open(const std::string& path, mode_t mode)
{
    if (path.empty())
        return Error{win32::kInvalidParameter, "no output file named"};
    if (path == "-")
        return OutputFile(path, {}, {}, STDOUT_FILENO, false);

    // A link names its target; the link itself stays as it is.
    std::string target = path;
    std::error_code ec;
    for (int hops = 0; std::filesystem::is_symlink(target, ec); ++hops) {
        if (hops == 40)
            return failure("cannot write", path, ELOOP);
        const auto next = std::filesystem::read_symlink(target, ec);
        if (ec)
            return failure("cannot write", path, ec.value());
        target = next.is_absolute() ? next.string()
                                    : (std::filesystem::path(target).parent_path() / next).string();
    }

    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return failure("cannot write", path, EISDIR);
        if (!S_ISREG(st.st_mode)) {
            if (S_ISSOCK(st.st_mode))
                return failure("cannot write", path, ENXIO);
            // A FIFO, a terminal, a device: written straight into.
            const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
            if (fd < 0)
                return failure("cannot open", path, errno);
            return OutputFile(path, {}, {}, fd, true);
        }
    } else if (errno != ENOENT) {
        return failure("cannot write", path, errno);
    }

    // A new file beside the target, in its folder, so the rename is atomic.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string partial = target + ".part-" + std::to_string(::getpid()) + "-" +
                                    std::to_string(counter++);
        const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            rememberPartial(partial);
            return OutputFile(path, target, partial, fd, true);
        }
        if (errno != EEXIST)
            return failure("cannot create", path, errno);
    }
    return failure("cannot create", path, EEXIST);
}

OutputFile::OutputFile(std::string path, std::string target, std::string partial, int fd,
                       bool owned)
    : m_path(std::move(path)), m_target(std::move(target)), m_partial(std::move(partial)),
      m_fd(fd), m_owned(owned)
{
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : m_path(std::move(other.m_path)), m_target(std::move(other.m_target)),
      m_partial(std::move(other.m_partial)), m_fd(std::exchange(other.m_fd, -1)),
      m_owned(std::exchange(other.m_owned, false)), m_committed(other.m_committed)
{
    other.m_partial.clear();
}

OutputFile::~OutputFile()
{
    if (m_owned && m_fd >= 0)
        ::close(m_fd);
    if (!m_committed && !m_partial.empty()) {
        ::unlink(m_partial.c_str());
        forgetPartial(m_partial);
    }
}

Status OutputFile::write(std::span<const uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failure("cannot write", m_path, errno);
        }
        bytes = bytes.subspan(static_cast<size_t>(n));
    }
    return {};
}

Status OutputFile::commit()
{
    if (m_committed)
        return {};
    if (m_partial.empty()) {
        // Standard output or a special file: nothing to rename.
        if (m_owned && ::close(std::exchange(m_fd, -1)) != 0)
            return failure("cannot write", m_path, errno);
        m_committed = true;
        return {};
    }
    // The data reach the disk before the name does: a crash leaves the old
    // file or the whole new one, never an empty one under the name.
    if (::fsync(m_fd) != 0)
        return failure("cannot write", m_path, errno);
    if (::close(std::exchange(m_fd, -1)) != 0)
        return failure("cannot write", m_path, errno);
    if (::rename(m_partial.c_str(), m_target.c_str()) != 0)
        return failure("cannot name", m_path, errno);
    forgetPartial(m_partial);
    m_committed = true;
    return {};
}

void removePartialFilesOnSignals()
{
    struct sigaction action {};
    action.sa_handler = removePartialsAndDie;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace lumarc::platform
