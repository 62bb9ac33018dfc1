// "lumarc sti": the scanner of the current unit through the still-image
// device server, over COM exactly as the scanner information tool goes:
// create the object by class id, take its device list, open the device and
// send SCSI commands with Escape bracketed by LockDevice and UnLockDevice.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace lumarc::tools {

// words: "sti" followed by "list" or "inquiry". Returns a lumarc exit code:
// 0 success, 1 failure (creation failed, or the INQUIRY did not complete
// with good status), 2 a wrong command line.
int runSti(const std::vector<std::string>& words, bool json, std::ostream& out, std::ostream& err);

} // namespace lumarc::tools
