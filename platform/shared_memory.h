// Named shared memory shared by the processes of one user.
//
// POSIX shared memory named "/lumarc-<uid>-<name>". Like the Windows object
// it lives while any process has it open: a companion named mutex tracks the
// holders, and the first creator after the last holder has gone starts from
// zeroed memory.
#pragma once

#include "named_mutex.h"
#include "result.h"

#include <cstddef>
#include <string_view>

namespace lumarc::platform {

class SharedMemory {
public:
    // Creates or opens the block of at least size bytes and maps it.
    static Result<SharedMemory> create(std::string_view name, size_t size);

    SharedMemory(SharedMemory&& other) noexcept;
    SharedMemory& operator=(SharedMemory&& other) noexcept;
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;
    ~SharedMemory();

    bool alreadyExisted() const { return m_presence.alreadyExisted(); }
    std::byte* data() const { return m_data; }
    size_t size() const { return m_size; }

private:
    SharedMemory(NamedMutex presence, std::string objectName, std::byte* data, size_t size);
    void close();

    NamedMutex m_presence;
    std::string m_objectName;
    std::byte* m_data = nullptr;
    size_t m_size = 0;
};

} // namespace lumarc::platform
