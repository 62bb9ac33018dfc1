// What every unit-addressed export shares: the started check, the unit's
// address, one exchange, the mapping of its result, and the reply bytes.
#pragma once

#include "exchange.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace lumarc::mgmt {

// Windows Sockets "not initialised": an export called before start-up.
constexpr uint32_t kNotStarted = 10093;

struct CommandOutcome {
    uint32_t result = 0;         // the export's result
    std::vector<uint8_t> reply;  // zero-filled to the capacity, then the reply
    ExchangeResult exchange;

    // The payload at offset: reply bytes that never arrived read as zero.
    std::span<const uint8_t> payload(size_t offset, size_t length) const;
};

// The unit's address after the started check, or the export's result
// without any traffic: 10093 before start-up, 1 for a unit that does not
// resolve (after reporting "Error gethostbyname()\n").
struct UnitTarget {
    std::optional<uint32_t> address;
    uint32_t result = 0;
};
UnitTarget prepareUnit(const char* unit);

// Runs one exchange with a resolved unit (the caller checked start-up).
CommandOutcome runCommandAt(uint32_t address, std::span<const uint8_t> request,
                            size_t replyCapacity);

// Resolves the unit and runs one exchange with a reply capacity in bytes
// (header included). result is 1 for an unresolvable unit, 10093 before
// start-up, else the exchange's export result.
CommandOutcome runCommand(const char* unit, std::span<const uint8_t> request,
                          size_t replyCapacity);

} // namespace lumarc::mgmt
