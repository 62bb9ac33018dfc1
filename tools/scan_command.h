// lumarc-scan: scans one page from the scanner of a Lumarc unit into a PNG
// file, through the network SCSI transport loaded like any scanning program
// loads its ASPI library.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace lumarc::tools {

constexpr int kScanOk = 0;
constexpr int kScanFailed = 1;
constexpr int kScanUsage = 2;

int runScan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace lumarc::tools
