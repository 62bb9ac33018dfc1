// The lumarc-ini command: read and change ini files safely while the
// programs run (every change is one atomic profile operation).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace lumarc::tools {

// Exit codes of the command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1; // a file could not be read or changed
constexpr int kExitUsage = 2;  // the command line is wrong

// Runs one command line (without the program name). Output and messages go
// to out and err; set-section reads its lines from in.
int runIniCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err);

} // namespace lumarc::tools
