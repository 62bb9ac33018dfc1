// Reading a secret (a PIN) from the user's terminal without echoing it.
#pragma once

#include "result.h"

#include <string>

namespace lumarc::platform {

// Shows prompt on the controlling terminal and reads one line with echo off.
// Fails (code 6) when the process has no terminal.
Result<std::string> readSecretFromTerminal(const std::string& prompt);

} // namespace lumarc::platform
