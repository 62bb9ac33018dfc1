// Debug output with a replaceable sink.
#include "debug_output.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace lumarc::platform {
namespace {

std::mutex& sinkMutex()
{
    static std::mutex mutex;
    return mutex;
}

DebugSink& currentSink()
{
    static DebugSink sink;
    return sink;
}

std::atomic<bool> g_sinkInstalled{false};

bool debugEnabled()
{
    static const bool enabled = [] {
        const char* value = std::getenv("LUMARC_DEBUG");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

void writeToStderr(std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<size_t>(n));
    }
}

} // namespace

void debugOutput(std::string_view text)
{
    std::scoped_lock lock(sinkMutex());
    if (currentSink())
        currentSink()(text);
    else if (debugEnabled())
        writeToStderr(text);
}

bool debugOutputWanted()
{
    return g_sinkInstalled.load(std::memory_order_relaxed) || debugEnabled();
}

std::string formatTaggedLine(std::string_view tag, const char* format, va_list args)
{
    char buffer[2048];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    std::string line(tag);
    line += ' ';
    line += buffer;
    return line;
}

DebugSink setDebugSink(DebugSink sink)
{
    std::scoped_lock lock(sinkMutex());
    DebugSink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    g_sinkInstalled.store(static_cast<bool>(currentSink()), std::memory_order_relaxed);
    return previous;
}

} // namespace lumarc::platform
