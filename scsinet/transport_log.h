// The transport's log: every line goes to the debug output as "(ASPI) ..."
// and, only when the file already exists, to DROVIK32.LOG in the system
// directory, which the first line of each process empties and starts with
// the local time.
#pragma once

namespace lumarc::scsinet {

void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Forgets that this process has written to the log file (tests).
void resetLogForTests();

} // namespace lumarc::scsinet
