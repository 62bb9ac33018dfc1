// Whole-file reads and complete writes.
#include "file_io.h"

#include "error_codes.h"
#include "unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumarc::platform {

Result<std::string> readWholeFile(const std::filesystem::path& path, size_t maxBytes)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return win32Error("open " + path.string(), errno);
    // One byte past the limit tells a file of exactly maxBytes from a longer
    // one. The size fstat reports only sizes the buffer: it is 0 for devices
    // and pipes, and a regular file may grow while we read.
    const size_t wanted = maxBytes < SIZE_MAX ? maxBytes + 1 : maxBytes;
    std::string content;
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && st.st_size > 0)
        content.reserve(std::min(static_cast<size_t>(st.st_size), wanted));
    char buffer[65536];
    while (content.size() < wanted) {
        const size_t ask = std::min(sizeof buffer, wanted - content.size());
        const ssize_t n = ::read(fd.get(), buffer, ask);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return win32Error("read " + path.string(), errno);
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<size_t>(n));
    }
    if (content.size() > maxBytes)
        return Error{win32::kFileTooLarge, "read " + path.string() + ": larger than the limit of " +
                                               std::to_string(maxBytes) + " bytes"};
    return content;
}

Result<std::string> readFileHead(const std::filesystem::path& path, size_t maxBytes)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return win32Error("open " + path.string(), errno);
    // Plain reads, so that a pipe or a device serves as well as a file.
    std::string content(maxBytes, '\0');
    size_t done = 0;
    while (done < maxBytes) {
        const ssize_t n = ::read(fd.get(), content.data() + done, maxBytes - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return win32Error("read " + path.string(), errno);
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    content.resize(done);
    return content;
}

Result<FileReader> FileReader::open(const std::filesystem::path& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return win32Error("open " + path.string(), errno);
    return FileReader(std::move(fd), path.string());
}

Result<size_t> FileReader::readAt(uint64_t offset, std::span<uint8_t> out) const
{
    size_t done = 0;
    while (done < out.size()) {
        if (offset + done > static_cast<uint64_t>(INT64_MAX))
            break;
        const ssize_t n = ::pread(m_fd.get(), out.data() + done, out.size() - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return win32Error("read " + m_path, errno);
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

Status writeAll(int fd, std::string_view bytes, std::string_view what)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return win32Error(std::string("write ") + std::string(what), errno);
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return {};
}

} // namespace lumarc::platform
