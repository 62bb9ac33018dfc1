// Shared steps of the unit commands.
#include "commands.h"

#include "diagnostics.h"
#include "library_state.h"

#include "platform/unit_address.h"
#include "shared/message_header.h"

namespace lumarc::mgmt {

std::span<const uint8_t> CommandOutcome::payload(size_t offset, size_t length) const
{
    return std::span(reply).subspan(shared::kHeaderSize + offset, length);
}

UnitTarget prepareUnit(const char* unit)
{
    if (!libraryStarted())
        return {std::nullopt, reportError("Error socket()\n", kNotStarted)};
    auto address = platform::resolveUnitAddress(unit != nullptr ? unit : "");
    if (!address) {
        reportError("Error gethostbyname()\n", address.error().code);
        return {std::nullopt, 1};
    }
    return {*address, 0};
}

CommandOutcome runCommand(const char* unit, std::span<const uint8_t> request,
                          size_t replyCapacity)
{
    const UnitTarget target = prepareUnit(unit);
    if (!target.address) {
        CommandOutcome outcome;
        outcome.result = target.result;
        return outcome;
    }
    return runCommandAt(*target.address, request, replyCapacity);
}

CommandOutcome runCommandAt(uint32_t address, std::span<const uint8_t> request,
                            size_t replyCapacity)
{
    CommandOutcome outcome;
    outcome.reply.assign(std::max(replyCapacity, shared::kHeaderSize), 0);
    ExchangeOptions options;
    options.transferTimeout = transferTimeout();
    outcome.exchange = exchange(address, request, outcome.reply, options);
    outcome.result = outcome.exchange.exportResult();
    return outcome;
}

} // namespace lumarc::mgmt
