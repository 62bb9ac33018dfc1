// Named mutexes as shared flock locks on per-user lock files.
//
// Creating is "try an exclusive lock; if it is free nobody holds the name,
// else somebody does; then hold a shared lock". flock cannot turn an
// exclusive lock into a shared one atomically, so creators, testers and the
// last holder's clean-up run under one guard lock of the runtime folder.
#include "named_mutex.h"

#include "error_codes.h"
#include "folders.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>

namespace lumarc::platform {
namespace {

namespace fs = std::filesystem;

bool lockFd(int fd, int operation)
{
    while (::flock(fd, operation) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// The guard lock, held while the state of a name changes; released when the
// descriptor closes.
Result<UniqueFd> takeGuard(const fs::path& folder)
{
    const fs::path path = folder / ".guard";
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd || !lockFd(fd.get(), LOCK_EX))
        return win32Error("lock " + path.string(), errno);
    return fd;
}

fs::path lockFile(const fs::path& folder, std::string_view name)
{
    return folder / ("mutex." + encodeObjectName(name));
}

} // namespace

std::string encodeObjectName(std::string_view name)
{
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            u == '.' || u == '_' || u == '-') {
            out += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", u);
            out += hex;
        }
    }
    return out;
}

NamedMutex::NamedMutex(std::string name, std::string path, UniqueFd fd, bool existed)
    : m_name(std::move(name)), m_path(std::move(path)), m_fd(std::move(fd)),
      m_alreadyExisted(existed)
{
}

Result<NamedMutex> NamedMutex::create(std::string_view name)
{
    return create(name, [](bool) { return Status{}; });
}

Result<NamedMutex> NamedMutex::create(std::string_view name,
                                      const std::function<Status(bool alreadyExisted)>& setUp)
{
    auto folder = runtimeFolder();
    if (!folder)
        return folder.error();
    auto guard = takeGuard(*folder);
    if (!guard)
        return guard.error();
    const fs::path path = lockFile(*folder, name);
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd)
        return win32Error("create mutex " + path.string(), errno);
    const bool free = ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
    if (!lockFd(fd.get(), LOCK_SH))
        return win32Error("lock mutex " + path.string(), errno);
    if (auto ready = setUp(!free); !ready)
        return ready.error();
    return NamedMutex(std::string(name), path.string(), std::move(fd), !free);
}

bool NamedMutex::exists(std::string_view name)
{
    auto folder = runtimeFolder();
    if (!folder)
        return false;
    auto guard = takeGuard(*folder);
    if (!guard)
        return false;
    UniqueFd fd(::open(lockFile(*folder, name).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return false;
    return ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0;
}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept
{
    if (this != &other) {
        close();
        m_name = std::move(other.m_name);
        m_path = std::move(other.m_path);
        m_fd = std::move(other.m_fd);
        m_alreadyExisted = other.m_alreadyExisted;
    }
    return *this;
}

NamedMutex::~NamedMutex()
{
    close();
}

void NamedMutex::close()
{
    if (!m_fd)
        return;
    // The last holder removes the file, so names do not pile up. Without the
    // guard the file simply stays; the next creator reuses it.
    const fs::path path = m_path;
    if (auto guard = takeGuard(path.parent_path())) {
        if (::flock(m_fd.get(), LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.c_str());
    }
    m_fd.reset();
}

} // namespace lumarc::platform
