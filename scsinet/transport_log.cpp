// The "(ASPI)" log.
#include "transport_log.h"

#include "platform/debug_output.h"
#include "platform/folders.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <unistd.h>

namespace lumarc::scsinet {
namespace {

constexpr const char* kTag = "(ASPI)";
constexpr const char* kLogFile = "DROVIK32.LOG";

constexpr std::chrono::seconds kPresenceCheck{1};

std::mutex g_fileMutex;
bool g_fileStarted = false; // this process has emptied the file
// The file is enabled by its mere presence. Looking for it costs system
// calls on every request, so the answer is kept for a second. The name is
// never destroyed: a program may exit on one thread while another is still
// inside an export that logs.
std::string& g_path = *new std::string;
bool g_present = false;
std::chrono::steady_clock::time_point g_checked;

// Whether the file exists, looked up again when the answer is a second old.
// Called with g_fileMutex held.
bool filePresent()
{
    const auto now = std::chrono::steady_clock::now();
    if (g_path.empty() || now - g_checked >= kPresenceCheck) {
        g_path = (platform::systemFolder() / kLogFile).string();
        g_present = ::access(g_path.c_str(), F_OK) == 0;
        g_checked = now;
    }
    return g_present;
}

bool fileWanted()
{
    std::scoped_lock lock(g_fileMutex);
    return filePresent();
}

void writeToFile(const std::string& line)
{
    std::scoped_lock lock(g_fileMutex);
    if (!filePresent())
        return;
    const std::string& path = g_path;
    std::FILE* file = std::fopen(path.c_str(), g_fileStarted ? "a" : "w");
    if (file == nullptr)
        return;
    if (!g_fileStarted) {
        const std::time_t wallClock = std::time(nullptr);
        char stamp[64];
        std::fputs(ctime_r(&wallClock, stamp), file);
        g_fileStarted = true;
    }
    std::fputs(line.c_str(), file);
    std::fclose(file);
}

} // namespace

void logLine(const char* format, ...)
{
    // Two lines are logged per request: formatting them for nobody would be
    // a measurable share of a small exchange.
    if (!platform::debugOutputWanted() && !fileWanted())
        return;
    va_list args;
    va_start(args, format);
    const std::string line = platform::formatTaggedLine(kTag, format, args);
    va_end(args);
    platform::debugOutput(line);
    writeToFile(line);
}

void resetLogForTests()
{
    std::scoped_lock lock(g_fileMutex);
    g_fileStarted = false;
    g_path.clear();
}

} // namespace lumarc::scsinet
