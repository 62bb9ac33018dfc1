// Start-up and clean-up of the library.
#include "library_state.h"

#include "diagnostics.h"
#include "listener.h"

#include "shared/settings_file.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace lumarc::mgmt {
namespace {

std::mutex g_stateMutex;
LibrarySettings g_settings;
std::atomic<bool> g_started{false};

// The level is read when the library is loaded, as on attach.
[[maybe_unused]] const bool g_levelLoaded = [] {
    loadEventLogLevel();
    return true;
}();

} // namespace

int32_t startLibrary(uintptr_t window, uint32_t message)
{
    loadEventLogLevel();
    const shared::SettingsFile file;
    LibrarySettings settings;
    settings.triggerPort = static_cast<uint16_t>(file.trgPort());
    settings.searchBoxSeconds = static_cast<int32_t>(file.searchBoxSeconds());
    settings.monIfSeconds = static_cast<int32_t>(file.monIfSeconds());
    // A program may bound its waits itself (lumarc --timeout): the value
    // stands for both time-outs of this process, the file stays as it is.
    if (const char* override = std::getenv("LUMARC_TIMEOUT")) {
        const long seconds = std::strtol(override, nullptr, 10);
        if (seconds > 0 && seconds <= 3600) {
            settings.monIfSeconds = static_cast<int32_t>(seconds);
            settings.searchBoxSeconds = static_cast<int32_t>(seconds);
        }
    }
    {
        std::scoped_lock lock(g_stateMutex);
        g_settings = settings;
    }
    g_started = true;
    if (window == 0 || message == 0)
        return 0;
    const int32_t result = startListener(window, message, settings.triggerPort);
    if (result != 0)
        logFailure(event::kStartup, 0);
    return result;
}

int32_t cleanupLibrary()
{
    stopListener();
    g_started = false;
    return 0;
}

bool libraryStarted()
{
    return g_started;
}

void setSearchBoxSeconds(int32_t seconds)
{
    std::scoped_lock lock(g_stateMutex);
    g_settings.searchBoxSeconds = seconds;
}

LibrarySettings librarySettings()
{
    std::scoped_lock lock(g_stateMutex);
    return g_settings;
}

std::chrono::milliseconds transferTimeout()
{
    const int32_t seconds = librarySettings().monIfSeconds;
    return std::chrono::seconds(seconds > 0 ? seconds : 1);
}

} // namespace lumarc::mgmt
