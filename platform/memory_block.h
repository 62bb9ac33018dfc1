// Global and local memory blocks: thin wrappers that keep the ownership rules
// of the interfaces readable ("the receiver frees the block").
//
// A handle names a block; lock returns its address (blocks never move), and
// free releases it. Blocks are plain heap memory with a small header that
// records the size and a tag, so freeing a null handle or a stray pointer
// to a non-block is refused instead of corrupting the heap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumarc::platform {

using MemoryHandle = void*;

enum class BlockFlags : uint32_t { None = 0, ZeroInit = 0x40 };

// A new block of size bytes, zero-filled with ZeroInit; nullptr when out of
// memory.
MemoryHandle globalAlloc(BlockFlags flags, size_t size);
void* globalLock(MemoryHandle block);
bool globalUnlock(MemoryHandle block);
size_t globalSize(MemoryHandle block);
// Frees the block; returns nullptr on success and the handle when it was not
// a live block (as the Windows function does).
MemoryHandle globalFree(MemoryHandle block);

MemoryHandle localAlloc(BlockFlags flags, size_t size);
MemoryHandle localFree(MemoryHandle block);

} // namespace lumarc::platform

// The C exports for fixed local blocks, which clients in any language use
// to free what a library handed out: the address is the block itself (no
// lock step). flags 0x40 fills the block with zeros. lumarc_LocalFree takes
// exactly an address that lumarc_LocalAlloc returned and gives NULL on
// success (and for NULL); another address is refused and returned.
extern "C" {
void* lumarc_LocalAlloc(uint32_t flags, size_t size);
void* lumarc_LocalFree(void* block);
}
