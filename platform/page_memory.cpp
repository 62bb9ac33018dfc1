// Populating memory with madvise.
#include "page_memory.h"

#include <sys/mman.h>
#include <unistd.h>

namespace lumarc::platform {
namespace {

#ifndef MADV_POPULATE_WRITE
constexpr int MADV_POPULATE_WRITE = 23; // Linux 5.14
#endif

// Below this a buffer is not worth a system call.
constexpr size_t kWorthIt = 1024 * 1024;

} // namespace

void populate(void* memory, size_t bytes)
{
    if (memory == nullptr || bytes < kWorthIt)
        return;
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<uintptr_t>(memory) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<uintptr_t>(memory) + bytes) & ~(page - 1);
    if (end > begin)
        (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

} // namespace lumarc::platform
