// What every command-line program of the project shares: exit statuses,
// --version, terminals, JSON text, parsing with getopt_long from a vector.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumarc::tools {

// Exit statuses, the same in every program and in their --help:
//   0 success; 1 a failure not listed below; 2 a wrong command line;
//   3 the unit cannot be reached or did not answer in time;
//   4 the unit refused (wrong PIN or key, busy with another PC).
namespace exit_status {
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kUnreachable = 3;
constexpr int kRefused = 4;
} // namespace exit_status

// The paragraph every --help ends with.
extern const char* const kExitStatusHelp;

// "lumarc-scan (Lumarc) 0.1.0"
std::string versionLine(std::string_view program);

bool isTerminal(int fd);

// For a program whose only options are -h/--help and -V/--version: answers
// them, and refuses anything else with the usual hint. Returns the exit
// status when the program ends here, nothing when it goes on.
std::optional<int> helpAndVersionOnly(int argc, char** argv, const char* program,
                                      const char* usage);

// A JSON string literal of text, always valid UTF-8: valid UTF-8 passes, a
// byte that is not part of a valid sequence is taken as Latin-1.
std::string jsonString(std::string_view text);

// An argument vector for getopt_long from a program name and arguments;
// valid while the object lives. Parsing restarts from the beginning.
class ArgumentVector {
public:
    ArgumentVector(std::string_view program, const std::vector<std::string>& args);
    int argc() const { return static_cast<int>(m_pointers.size()) - 1; }
    char** argv() { return m_pointers.data(); }

private:
    std::vector<std::string> m_strings;
    std::vector<char*> m_pointers;
};

} // namespace lumarc::tools
