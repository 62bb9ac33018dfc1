// lumarc-regsvr: registers or unregisters a COM server library by path, as
// an installer or an administrator does. The entries go to the per-user
// registry file (<app-data>/Velorin/registry.ini).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace lumarc::tools {

// Exit codes.
constexpr int kRegsvrOk = 0;
constexpr int kRegsvrFailed = 1;     // the library's own registration call failed
constexpr int kRegsvrUsage = 2;      // a wrong command line
constexpr int kRegsvrNotLoaded = 3;  // the file is missing or no loadable library
constexpr int kRegsvrNoEntry = 4;    // the library lacks the entry point

int runRegsvr(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace lumarc::tools
