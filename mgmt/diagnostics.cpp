// Debug output and event-log entries of the library.
#include "diagnostics.h"

#include "platform/debug_output.h"
#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/folders.h"
#include "platform/profile.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace lumarc::mgmt {
namespace {

constexpr const char* kTag = "(Quillet)";
constexpr const char* kEventSource = "Zorvan";
constexpr const char* kLevelFile = "EZMsgCfg.ini";
constexpr uint32_t kSuccessLevel = 7;

std::atomic<uint32_t> g_level{0};

void writeTagged(std::string_view text)
{
    std::string line = kTag;
    line += ' ';
    line += text;
    platform::debugOutput(line);
}

} // namespace

void debugLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string line = platform::formatTaggedLine(kTag, format, args);
    va_end(args);
    platform::debugOutput(line);
}

uint32_t reportError(std::string_view context, uint32_t code)
{
    std::string text(context);
    text += " : ";
    text += platform::systemMessage(code);
    text += '\n';
    writeTagged(text);
    return code;
}

void loadEventLogLevel()
{
    const platform::Profile file(platform::windowsFolder() / kLevelFile);
    // The level is a 16-bit value in the original; keep the low 16 bits.
    g_level = file.readInt("EventLog", "Level", 0) & 0xFFFFu;
}

uint32_t eventLogLevel()
{
    return g_level;
}

void logFailure(uint32_t eventId, uint16_t category, uint32_t minimumLevel)
{
    if (g_level < minimumLevel)
        return;
    platform::reportEvent({kEventSource, platform::EventType::Error, eventId, category, {}});
}

void logSuccess(uint16_t category)
{
    if (g_level < kSuccessLevel)
        return;
    platform::reportEvent({kEventSource, platform::EventType::Information, event::kSuccess,
                           category, {"No Information"}});
}

void logCommandOutcome(uint32_t failureId, uint32_t result)
{
    if (result == 0)
        logSuccess(category::kCommandDone);
    else
        logFailure(failureId, category::kCommandFailed);
}

} // namespace lumarc::mgmt
