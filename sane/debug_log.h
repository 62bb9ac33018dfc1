// Debug output of the SANE backend, written the way SANE backends write it:
// to standard error, each line behind "[lumarc] ", when the level set in
// SANE_DEBUG_LUMARC is at least the line's level.
//
//   1  failures, with the scanner's sense data
//   2  configuration problems, units left out of the device list
//   3  what the backend does: devices found and opened, scans started, ended
//   4  option changes and every piece of image data
#pragma once

#include <sane/sane.h>

namespace lumarc::sane {

namespace debug {
constexpr int kError = 1;
constexpr int kWarning = 2;
constexpr int kInfo = 3;
constexpr int kDetail = 4;
} // namespace debug

// Reads SANE_DEBUG_LUMARC (a number; anything else is 0).
void readDebugLevel();
int debugLevel();

// Writes one line when level is enabled. Safe from any thread.
void debugLine(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The text SANE frontends show for a status.
const char* statusText(SANE_Status status);

} // namespace lumarc::sane
