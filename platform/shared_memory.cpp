// Named shared memory over shm_open and mmap.
#include "shared_memory.h"

#include "error_codes.h"
#include "unique_fd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace lumarc::platform {

SharedMemory::SharedMemory(NamedMutex presence, std::string objectName, std::byte* data,
                           size_t size)
    : m_presence(std::move(presence)), m_objectName(std::move(objectName)), m_data(data),
      m_size(size)
{
}

Result<SharedMemory> SharedMemory::create(std::string_view name, size_t size)
{
    if (size == 0)
        return Error{win32::kInvalidParameter, "shared memory of size 0"};
    const std::string objectName =
        "/lumarc-" + std::to_string(::getuid()) + "-" + encodeObjectName(name);
    // The presence mutex decides who is first. The first holder starts from a
    // fresh (zeroed) object, so a leftover of a process that died is reset;
    // this happens under the mutex's guard, so no second creator can open the
    // old object meanwhile.
    UniqueFd fd;
    auto presence = NamedMutex::create("shm." + std::string(name), [&](bool existed) -> Status {
        if (!existed)
            ::shm_unlink(objectName.c_str());
        fd.reset(::shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        if (!fd)
            return win32Error("shm_open " + objectName, errno);
        return {};
    });
    if (!presence)
        return presence.error();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return win32Error("fstat " + objectName, errno);
    if (static_cast<size_t>(st.st_size) < size &&
        ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0)
        return win32Error("ftruncate " + objectName, errno);
    void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (data == MAP_FAILED)
        return win32Error("mmap " + objectName, errno);
    return SharedMemory(std::move(*presence), objectName, static_cast<std::byte*>(data), size);
}

SharedMemory::SharedMemory(SharedMemory&& other) noexcept
    : m_presence(std::move(other.m_presence)), m_objectName(std::move(other.m_objectName)),
      m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0))
{
}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept
{
    if (this != &other) {
        close();
        m_presence = std::move(other.m_presence);
        m_objectName = std::move(other.m_objectName);
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

SharedMemory::~SharedMemory()
{
    close();
}

void SharedMemory::close()
{
    if (m_data == nullptr)
        return;
    ::munmap(m_data, m_size);
    m_data = nullptr;
    // The next creator after the last holder unlinks and recreates the
    // object, so it need not be unlinked here (which could race with a
    // process that is opening it right now).
}

} // namespace lumarc::platform
