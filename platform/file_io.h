// Small whole-file helpers shared by the platform's file users.
#pragma once

#include "result.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace lumarc::platform {

// The whole content of a file. A missing file is an Error with code 2
// (file not found), so callers can tell it from a file they may not read.
Result<std::string> readWholeFile(const std::filesystem::path& path);

// Writes all bytes to a descriptor, continuing after short writes and
// interruptions.
Status writeAll(int fd, std::string_view bytes, std::string_view what);

} // namespace lumarc::platform
