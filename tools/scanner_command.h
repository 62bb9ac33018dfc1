// "lumarc scanner": the Device Info rows and the Device Set counters of a
// unit's scanner as text or JSON, through the scanner information tool's
// own logic classes (no Qt).
//
// Without a unit it serves the unit selected in the shared settings file
// through the still-image device server, exactly as the tool does (single
// instance, scanner-information mode, [Common] Current). With a unit it
// reaches that unit's scanner through the transport directly, inside
// scanner-information mode, and leaves the settings file alone.
#pragma once

#include <iosfwd>
#include <string>

namespace lumarc::tools {

// Returns a lumarc exit code: 0 when the scanner answered, 1 otherwise.
int runScanner(const std::string& unit, bool json, std::ostream& out, std::ostream& err);

} // namespace lumarc::tools
