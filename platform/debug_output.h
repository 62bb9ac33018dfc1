// The debug-output channel: diagnostic lines of every library in the process.
//
// By default a line goes to standard error when LUMARC_DEBUG=1 and nowhere
// otherwise. A program or test may install its own sink; the sink is called
// with the text exactly as written (line breaks included), from whatever
// thread wrote it, one call at a time.
#pragma once

#include <cstdarg>
#include <functional>
#include <string>
#include <string_view>

namespace lumarc::platform {

using DebugSink = std::function<void(std::string_view text)>;

// Writes text to the current sink. Safe from any thread.
void debugOutput(std::string_view text);

// Whether a line written now would go anywhere: a sink is installed or
// LUMARC_DEBUG=1. Lets a hot path skip formatting lines nobody reads.
bool debugOutputWanted();

// A diagnostic line as the libraries write it: "<tag> <text>", the text
// formatted printf-style into at most 2047 bytes.
std::string formatTaggedLine(std::string_view tag, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));

// Replaces the sink and returns the previous one; an empty function restores
// the default.
DebugSink setDebugSink(DebugSink sink);

// Installs a sink for the lifetime of the object and restores the previous
// one after (tests use it to capture lines).
class ScopedDebugSink {
public:
    explicit ScopedDebugSink(DebugSink sink) : m_previous(setDebugSink(std::move(sink))) {}
    ~ScopedDebugSink() { setDebugSink(std::move(m_previous)); }
    ScopedDebugSink(const ScopedDebugSink&) = delete;
    ScopedDebugSink& operator=(const ScopedDebugSink&) = delete;

private:
    DebugSink m_previous;
};

} // namespace lumarc::platform
