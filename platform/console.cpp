// Secret input through /dev/tty with termios.
#include "console.h"

#include "error_codes.h"
#include "unique_fd.h"

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace lumarc::platform {

Result<std::string> readSecretFromTerminal(const std::string& prompt)
{
    UniqueFd tty(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (!tty)
        return Error{win32::kInvalidHandle, "no terminal to ask for a PIN on"};
    termios saved{};
    const bool isTerminal = ::tcgetattr(tty.get(), &saved) == 0;
    if (isTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(tty.get(), TCSAFLUSH, &quiet);
    }
    (void)!::write(tty.get(), prompt.data(), prompt.size());
    std::string line;
    char c;
    ssize_t n;
    while ((n = ::read(tty.get(), &c, 1)) == 1 && c != '\n')
        line += c;
    const int readError = errno;
    if (isTerminal)
        ::tcsetattr(tty.get(), TCSAFLUSH, &saved);
    if (n < 0)
        return win32Error("read terminal", readError);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace lumarc::platform
