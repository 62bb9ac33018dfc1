// lumarc refresh and lumarc report-error: talking to the running event
// module as the configuration tool and outside scanning programs do.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace lumarc::tools {

// Asks the event module for a refresh of the unit list and waits for its
// answer (the Refresh handshake of the settings file), then prints the
// units. Returns the exit status; messages go to err.
int refreshUnits(bool json, std::ostream& out, std::ostream& err);

// Sends a scanner error report (four code bytes) to the event module, which
// shows the matching text on the current unit's panel.
int reportScannerError(const std::vector<uint8_t>& codeBytes, std::ostream& out,
                       std::ostream& err);

// "03 80 01 5A", "03,80,01,5a" or "0380015A": four bytes; nullopt otherwise.
std::optional<std::vector<uint8_t>> parseCodeBytes(const std::string& text);

} // namespace lumarc::tools
