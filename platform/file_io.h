// Small whole-file helpers shared by the platform's file users.
#pragma once

#include "result.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace lumarc::platform {

// The bound readWholeFile applies when its caller names none: above the
// largest file the system reads (a flash image, at most 16 MiB), so that a
// device or pipe given as a file name costs at most this much memory.
constexpr size_t kDefaultReadLimit = 16u * 1024 * 1024;

// The whole content of a file of at most maxBytes bytes. A missing file is
// an Error with code 2 (file not found), so callers can tell it from a file
// they may not read; a longer file is an Error with code 223 (file too
// large) whose text names the file and the limit. At most maxBytes + 1
// bytes are read whatever the file is, so an endless source (/dev/zero, a
// FIFO whose writer never stops) ends the read as well. Opening a FIFO
// blocks until a writer opens it, as any reader does.
Result<std::string> readWholeFile(const std::filesystem::path& path,
                                  size_t maxBytes = kDefaultReadLimit);

// Writes all bytes to a descriptor, continuing after short writes and
// interruptions.
Status writeAll(int fd, std::string_view bytes, std::string_view what);

} // namespace lumarc::platform
