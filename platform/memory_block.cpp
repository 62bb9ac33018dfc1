// Memory blocks with a checked header.
#include "memory_block.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace lumarc::platform {
namespace {

constexpr uint64_t kLiveMagic = 0x4B434F4C42524D4CULL; // "LMRBLOCK"
constexpr uint64_t kFreedMagic = 0x44454552464D4CULL;

struct alignas(std::max_align_t) Header {
    uint64_t magic;
    size_t size;
};

Header* headerOf(MemoryHandle block)
{
    if (block == nullptr)
        return nullptr;
    auto* header = static_cast<Header*>(block);
    return header->magic == kLiveMagic ? header : nullptr;
}

} // namespace

MemoryHandle globalAlloc(BlockFlags flags, size_t size)
{
    if (size > SIZE_MAX - sizeof(Header))
        return nullptr;
    void* raw = std::malloc(sizeof(Header) + size);
    if (raw == nullptr)
        return nullptr;
    auto* header = new (raw) Header{kLiveMagic, size};
    if (flags == BlockFlags::ZeroInit)
        std::memset(header + 1, 0, size);
    return header;
}

void* globalLock(MemoryHandle block)
{
    Header* header = headerOf(block);
    return header != nullptr ? static_cast<void*>(header + 1) : nullptr;
}

bool globalUnlock(MemoryHandle block)
{
    return headerOf(block) != nullptr;
}

size_t globalSize(MemoryHandle block)
{
    Header* header = headerOf(block);
    return header != nullptr ? header->size : 0;
}

MemoryHandle globalFree(MemoryHandle block)
{
    Header* header = headerOf(block);
    if (header == nullptr)
        return block;
    header->magic = kFreedMagic;
    std::free(header);
    return nullptr;
}

MemoryHandle localAlloc(BlockFlags flags, size_t size)
{
    return globalAlloc(flags, size);
}

MemoryHandle localFree(MemoryHandle block)
{
    return globalFree(block);
}

} // namespace lumarc::platform

extern "C" void* lumarc_LocalAlloc(uint32_t flags, size_t size)
{
    using namespace lumarc::platform;
    const auto zero = (flags & static_cast<uint32_t>(BlockFlags::ZeroInit)) != 0;
    return globalLock(localAlloc(zero ? BlockFlags::ZeroInit : BlockFlags::None, size));
}

extern "C" void* lumarc_LocalFree(void* block)
{
    using namespace lumarc::platform;
    if (block == nullptr)
        return nullptr;
    // The block's header stands right before the address handed out.
    auto* handle = static_cast<Header*>(block) - 1;
    return localFree(handle) == nullptr ? nullptr : block;
}
