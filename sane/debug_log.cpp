// SANE_DEBUG_LUMARC and the debug lines.
#include "debug_log.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace lumarc::sane {
namespace {

std::atomic<int> g_level{0};

} // namespace

void readDebugLevel()
{
    const char* text = std::getenv("SANE_DEBUG_LUMARC");
    int level = 0;
    if (text != nullptr) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value > 0)
            level = value > 255 ? 255 : static_cast<int>(value);
    }
    g_level.store(level, std::memory_order_relaxed);
}

int debugLevel()
{
    return g_level.load(std::memory_order_relaxed);
}

void debugLine(int level, const char* format, ...)
{
    if (level > debugLevel())
        return;
    // One write per line, so that lines of several threads do not mix.
    char line[1024];
    int used = std::snprintf(line, sizeof line, "[lumarc] ");
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line + used, sizeof line - static_cast<size_t>(used) - 1,
                                 format, args);
    va_end(args);
    // A longer text is cut; the line still ends.
    used = n < 0 ? used : std::min(used + n, static_cast<int>(sizeof line) - 2);
    line[used++] = '\n';
    std::fwrite(line, 1, static_cast<size_t>(used), stderr);
}

const char* statusText(SANE_Status status)
{
    static const char* const kTexts[] = {
        "Success",
        "Operation not supported",
        "Operation was cancelled",
        "Device busy",
        "Invalid argument",
        "End of file reached",
        "Document feeder jammed",
        "Document feeder out of documents",
        "Scanner cover is open",
        "Error during device I/O",
        "Out of memory",
        "Access to resource has been denied",
    };
    const auto index = static_cast<size_t>(status);
    return index < std::size(kTexts) ? kTexts[index] : "Unknown SANE status code";
}

} // namespace lumarc::sane
