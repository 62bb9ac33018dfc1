// Mapping between errno and the Win32 / Windows Sockets codes.
#include "error_codes.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <utility>

namespace lumarc::platform {
namespace {

struct CodePair {
    int err;
    uint32_t code;
};

// errno -> Win32. The first row for an errno is the one used forwards; the
// first row for a code is the one used backwards.
constexpr std::array kWin32Table{
    CodePair{ENOENT, win32::kFileNotFound},
    CodePair{ENOTDIR, win32::kPathNotFound},
    CodePair{EMFILE, win32::kTooManyOpenFiles},
    CodePair{ENFILE, win32::kTooManyOpenFiles},
    CodePair{EACCES, win32::kAccessDenied},
    CodePair{EPERM, win32::kAccessDenied},
    CodePair{EBADF, win32::kInvalidHandle},
    CodePair{ENOMEM, win32::kNotEnoughMemory},
    CodePair{EROFS, win32::kWriteProtect},
    CodePair{ENOSYS, win32::kNotSupported},
    CodePair{ENOTSUP, win32::kNotSupported},
    CodePair{EEXIST, win32::kAlreadyExists},
    CodePair{EINVAL, win32::kInvalidParameter},
    CodePair{EPIPE, win32::kBrokenPipe},
    CodePair{ENOSPC, win32::kDiskFull},
    CodePair{EDQUOT, win32::kDiskFull},
    CodePair{ERANGE, win32::kInsufficientBuffer},
    CodePair{ENAMETOOLONG, win32::kFilenameTooLong},
    CodePair{EFBIG, win32::kFileTooLarge},
    CodePair{EBUSY, win32::kBusy},
    CodePair{ENOEXEC, win32::kBadExeFormat},
    CodePair{ETIMEDOUT, win32::kTimeout},
    CodePair{ECANCELED, win32::kOperationAborted},
    CodePair{EAGAIN, win32::kBusy},
    CodePair{EIO, win32::kInvalidData},
};

constexpr std::array kWsaTable{
    CodePair{EINTR, wsa::kInterrupted},
    CodePair{EBADF, wsa::kBadHandle},
    CodePair{EACCES, wsa::kAccess},
    CodePair{EPERM, wsa::kAccess},
    CodePair{EFAULT, wsa::kFault},
    CodePair{EINVAL, wsa::kInvalid},
    CodePair{EMFILE, wsa::kTooManyOpen},
    CodePair{ENFILE, wsa::kTooManyOpen},
    CodePair{EWOULDBLOCK, wsa::kWouldBlock},
    CodePair{EINPROGRESS, wsa::kInProgress},
    CodePair{EALREADY, wsa::kAlready},
    CodePair{ENOTSOCK, wsa::kNotSocket},
    CodePair{EDESTADDRREQ, 10039},
    CodePair{EMSGSIZE, wsa::kMessageSize},
    CodePair{EPROTOTYPE, 10041},
    CodePair{ENOPROTOOPT, 10042},
    CodePair{EPROTONOSUPPORT, 10043},
    CodePair{ESOCKTNOSUPPORT, 10044},
    CodePair{EOPNOTSUPP, 10045},
    CodePair{EPFNOSUPPORT, 10046},
    CodePair{EAFNOSUPPORT, 10047},
    CodePair{EADDRINUSE, wsa::kAddressInUse},
    CodePair{EADDRNOTAVAIL, wsa::kAddressNotAvailable},
    CodePair{ENETDOWN, wsa::kNetworkDown},
    CodePair{ENETUNREACH, wsa::kNetworkUnreachable},
    CodePair{ENETRESET, 10052},
    CodePair{ECONNABORTED, wsa::kConnectionAborted},
    CodePair{ECONNRESET, wsa::kConnectionReset},
    CodePair{EPIPE, wsa::kConnectionReset},
    CodePair{ENOBUFS, wsa::kNoBuffers},
    CodePair{ENOMEM, wsa::kNoBuffers},
    CodePair{EISCONN, 10056},
    CodePair{ENOTCONN, wsa::kNotConnected},
    CodePair{ESHUTDOWN, wsa::kShutdown},
    CodePair{ETOOMANYREFS, 10059},
    CodePair{ETIMEDOUT, wsa::kTimedOut},
    CodePair{ECONNREFUSED, wsa::kConnectionRefused},
    CodePair{ELOOP, 10062},
    CodePair{ENAMETOOLONG, 10063},
    CodePair{EHOSTDOWN, wsa::kHostDown},
    CodePair{EHOSTUNREACH, wsa::kHostUnreachable},
    CodePair{ENOTEMPTY, 10066},
    CodePair{EUSERS, 10068},
    CodePair{EDQUOT, 10069},
    CodePair{ESTALE, 10070},
    CodePair{EREMOTE, 10071},
};

template <size_t N>
uint32_t forward(const std::array<CodePair, N>& table, int err, uint32_t fallback)
{
    for (const auto& row : table)
        if (row.err == err)
            return row.code;
    return fallback;
}

template <size_t N> int backward(const std::array<CodePair, N>& table, uint32_t code)
{
    for (const auto& row : table)
        if (row.code == code)
            return row.err;
    return 0;
}

std::string strerrorText(int err)
{
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(err, buffer, sizeof buffer);
    return text;
}

} // namespace

uint32_t win32FromErrno(int err)
{
    if (err == 0)
        return win32::kSuccess;
    // Unknown errno values keep a recognisable Win32-looking code: access to
    // the raw value stays possible through the log text.
    return forward(kWin32Table, err, win32::kInvalidParameter);
}

uint32_t wsaFromErrno(int err)
{
    if (err == 0)
        return 0;
    return forward(kWsaTable, err, wsa::kInvalid);
}

int errnoFromCode(uint32_t code)
{
    if (code >= 10000 && code < 12000)
        return backward(kWsaTable, code);
    return backward(kWin32Table, code);
}

std::string systemMessage(uint32_t code)
{
    if (code == 0)
        return "Success";
    switch (code) {
    case wsa::kHostNotFound:
        return gai_strerror(EAI_NONAME);
    case wsa::kTryAgain:
        return gai_strerror(EAI_AGAIN);
    case wsa::kNoRecovery:
        return gai_strerror(EAI_FAIL);
    case wsa::kNoData:
        return gai_strerror(EAI_NODATA);
    case win32::kWaitTimeout:
        return strerrorText(ETIMEDOUT);
    case win32::kInvalidWindowHandle:
        return "Invalid window handle";
    case win32::kModNotFound:
        return "The specified module could not be found";
    case win32::kProcNotFound:
        return "The specified procedure could not be found";
    default:
        break;
    }
    if (const int err = errnoFromCode(code); err != 0)
        return strerrorText(err);
    return "Unknown error " + std::to_string(code);
}

Error win32Error(std::string_view what, int err)
{
    return Error{win32FromErrno(err), std::string(what) + ": " + strerrorText(err) +
                                          " (errno " + std::to_string(err) + ")"};
}

Error socketError(std::string_view what, int err)
{
    return Error{wsaFromErrno(err), std::string(what) + ": " + strerrorText(err) + " (errno " +
                                        std::to_string(err) + ")"};
}

} // namespace lumarc::platform
