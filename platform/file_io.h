// Small whole-file helpers shared by the platform's file users.
#pragma once

#include "result.h"

#include "unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
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

// The first bytes of a file, at most maxBytes of them; a longer file is not
// an error (its first maxBytes bytes are read). Missing files fail with
// code 2, as readWholeFile's do.
Result<std::string> readFileHead(const std::filesystem::path& path, size_t maxBytes);

// A file opened for reads at given offsets, for readers that look at a few
// parts of a large file (the headers of a program file) and read no more.
class FileReader {
public:
    // Fails with the Win32 code of the reason (2: no such file).
    static Result<FileReader> open(const std::filesystem::path& path);
    // Fills as much of out as the file holds from offset on; the count is
    // smaller than out only at the end of the file.
    Result<size_t> readAt(uint64_t offset, std::span<uint8_t> out) const;

private:
    FileReader(UniqueFd fd, std::string path) : m_fd(std::move(fd)), m_path(std::move(path)) {}
    UniqueFd m_fd;
    std::string m_path;
};

// Writes all bytes to a descriptor, continuing after short writes and
// interruptions.
Status writeAll(int fd, std::string_view bytes, std::string_view what);

} // namespace lumarc::platform
