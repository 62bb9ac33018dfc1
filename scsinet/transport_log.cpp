// The "(ASPI)" log.
#include "transport_log.h"

#include "platform/debug_output.h"
#include "platform/folders.h"

#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
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
// a plain array, with nothing to destroy at exit: a program may exit on one
// thread while another is still inside an export that logs (and a heap
// copy kept for ever would be lost memory once the library is unloaded).
char g_path[PATH_MAX] = "";
bool g_pathKnown = false;
bool g_present = false;
std::chrono::steady_clock::time_point g_checked;

// Whether the file exists, looked up again when the answer is a second old.
// Called with g_fileMutex held.
bool filePresent()
{
    const auto now = std::chrono::steady_clock::now();
    if (!g_pathKnown || now - g_checked >= kPresenceCheck) {
        const std::string path = (platform::systemFolder() / kLogFile).string();
        g_pathKnown = path.size() < sizeof g_path;
        if (g_pathKnown)
            std::memcpy(g_path, path.c_str(), path.size() + 1);
        // A name too long for the system to open is a file that is not there.
        g_present = g_pathKnown && ::access(g_path, F_OK) == 0;
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
    std::FILE* file = std::fopen(g_path, g_fileStarted ? "a" : "w");
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
    g_pathKnown = false;
}

} // namespace lumarc::scsinet
