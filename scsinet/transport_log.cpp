// The "(ASPI)" log.
#include "transport_log.h"

#include "platform/debug_output.h"
#include "platform/folders.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace lumarc::scsinet {
namespace {

constexpr const char* kTag = "(ASPI)";
constexpr const char* kLogFile = "DROVIK32.LOG";

std::mutex g_fileMutex;
bool g_fileStarted = false; // this process has emptied the file

void writeToFile(const std::string& line)
{
    const std::string path = (platform::systemFolder() / kLogFile).string();
    std::scoped_lock lock(g_fileMutex);
    // The file is enabled by its mere presence.
    if (std::FILE* probe = std::fopen(path.c_str(), "r"))
        std::fclose(probe);
    else
        return;
    std::FILE* file = std::fopen(path.c_str(), g_fileStarted ? "a" : "w");
    if (file == nullptr)
        return;
    if (!g_fileStarted) {
        const std::time_t now = std::time(nullptr);
        char stamp[64];
        std::fputs(ctime_r(&now, stamp), file);
        g_fileStarted = true;
    }
    std::fputs(line.c_str(), file);
    std::fclose(file);
}

} // namespace

void logLine(const char* format, ...)
{
    char buffer[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::string line = kTag;
    line += ' ';
    line += buffer;
    platform::debugOutput(line);
    writeToFile(line);
}

void resetLogForTests()
{
    std::scoped_lock lock(g_fileMutex);
    g_fileStarted = false;
}

} // namespace lumarc::scsinet
