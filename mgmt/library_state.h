// The process-wide state of the library: started or not, and the settings
// read at start-up (the trigger port and the two time-outs).
//
// Start-up and clean-up run on the caller's main thread; the other exports
// only read the settings, from any thread.
#pragma once

#include <chrono>
#include <cstdint>

namespace lumarc::mgmt {

struct LibrarySettings {
    uint16_t triggerPort = 10002;
    int32_t searchBoxSeconds = 5;
    int32_t monIfSeconds = 10;
};

// Records the notification target, reads the settings, marks the library
// started. Returns the start-up result of the export.
int32_t startLibrary(uintptr_t window, uint32_t message);
int32_t cleanupLibrary();

bool libraryStarted();
// The collecting search stores its default of 5 s when it finds 0.
void setSearchBoxSeconds(int32_t seconds);
LibrarySettings librarySettings();

// The per-wait transfer time-out of the exchange (MonIf seconds, at least
// one second).
std::chrono::milliseconds transferTimeout();

} // namespace lumarc::mgmt
