// The system event log, kept in syslog.
//
// An entry names its source (the syslog ident), its type (error entries at
// LOG_ERR, information entries at LOG_INFO), the event id in hexadecimal, the
// category and the insertion strings:
//   "event 0xC000000A category 20001"          (no strings)
//   "event 0x4000001E category 20000: No Information"
// Tests install a sink to read the entries instead.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumarc::platform {

enum class EventType { Error, Information };

struct EventLogEntry {
    std::string source;
    EventType type = EventType::Error;
    uint32_t eventId = 0;
    uint16_t category = 0;
    std::vector<std::string> strings;
};

// The text written for an entry (without the source, which syslog adds).
std::string formatEventLogEntry(const EventLogEntry& entry);

// Writes one entry. Safe from any thread.
void reportEvent(const EventLogEntry& entry);

using EventLogSink = std::function<void(const EventLogEntry&)>;

// Replaces the destination (an empty function restores syslog); returns the
// previous one.
EventLogSink setEventLogSink(EventLogSink sink);

} // namespace lumarc::platform
