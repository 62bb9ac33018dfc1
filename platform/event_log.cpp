// Event-log entries written to syslog.
#include "event_log.h"

#include <cstdio>
#include <mutex>
#include <syslog.h>

namespace lumarc::platform {
namespace {

std::mutex& logMutex()
{
    static std::mutex mutex;
    return mutex;
}

EventLogSink& currentSink()
{
    static EventLogSink sink;
    return sink;
}

} // namespace

std::string formatEventLogEntry(const EventLogEntry& entry)
{
    char head[64];
    std::snprintf(head, sizeof head, "event 0x%08X category %u", entry.eventId,
                  static_cast<unsigned>(entry.category));
    std::string text = head;
    for (size_t i = 0; i < entry.strings.size(); ++i) {
        text += i == 0 ? ": " : " | ";
        text += entry.strings[i];
    }
    return text;
}

void reportEvent(const EventLogEntry& entry)
{
    std::scoped_lock lock(logMutex());
    if (currentSink()) {
        currentSink()(entry);
        return;
    }
    // openlog keeps the ident pointer until closelog, and the ident is
    // process-wide: both happen under the lock, around the one entry, the way
    // a Windows event source is registered and deregistered per entry.
    const std::string ident = entry.source;
    ::openlog(ident.c_str(), LOG_PID | LOG_NDELAY, LOG_USER);
    ::syslog(entry.type == EventType::Error ? LOG_ERR : LOG_INFO, "%s",
             formatEventLogEntry(entry).c_str());
    ::closelog();
}

EventLogSink setEventLogSink(EventLogSink sink)
{
    std::scoped_lock lock(logMutex());
    EventLogSink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

} // namespace lumarc::platform
