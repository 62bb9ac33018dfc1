// The lumarc command: the scriptable face of the management library for
// users and administrators.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace lumarc::tools {

// Exit codes: 0 success, 1 the unit or the library reported a failure,
// 2 a wrong command line or missing input.
constexpr int kLumarcOk = 0;
constexpr int kLumarcFailed = 1;
constexpr int kLumarcUsage = 2;

// Runs one command line (without the program name). PINs given as "-" are
// read line by line from in, in the order the command needs them.
int runLumarc(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err);

// The meaning of a library result, for messages ("wrong PIN", ...).
std::string describeResult(uint32_t result);

// text as a JSON string literal, quotes included.

} // namespace lumarc::tools
