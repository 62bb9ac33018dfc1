// Large buffers backed by memory at once.
//
// The system gives a new large allocation memory page by page, at the first
// write of each page; in a virtual machine each of those faults can cost
// tens of microseconds, so filling a fresh 26 MB buffer takes longer than
// the work that fills it. Populating asks for the whole range in one call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumarc::platform {

// Backs [memory, memory + bytes) with writable memory now. Contents are left
// as they are. Best effort: on a system that cannot, pages come at first
// touch as usual. Only whole pages inside the range are populated.
void populate(void* memory, size_t bytes);

} // namespace lumarc::platform
