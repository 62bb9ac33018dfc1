// The 32-bit millisecond tick count: milliseconds of the monotonic clock,
// wrapping every 49.7 days. Differences of two readings taken less than that
// apart are right when computed in uint32_t arithmetic.
#pragma once

#include <cstdint>

namespace lumarc::platform {

uint32_t tickCount();

} // namespace lumarc::platform
