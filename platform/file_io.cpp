// Whole-file reads and complete writes.
#include "file_io.h"

#include "error_codes.h"
#include "unique_fd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumarc::platform {

Result<std::string> readWholeFile(const std::filesystem::path& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return win32Error("open " + path.string(), errno);
    std::string content;
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && st.st_size > 0)
        content.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return win32Error("read " + path.string(), errno);
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<size_t>(n));
    }
    return content;
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
