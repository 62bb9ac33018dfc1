// lumarc-scan: scans one page from the scanner of a Lumarc unit into a PNG
// file, through the network SCSI transport loaded like any scanning program
// loads its ASPI library.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace lumarc::tools {

// Exit statuses as in cli.h: 0 ok, 1 failed, 2 usage, 3 the unit cannot be
// reached or did not answer, 4 the unit refused (busy with another PC).
constexpr int kScanOk = 0;
constexpr int kScanFailed = 1;
constexpr int kScanUsage = 2;
constexpr int kScanUnreachable = 3;
constexpr int kScanRefused = 4;

int runScan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace lumarc::tools
