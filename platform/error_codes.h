// Error numbers at the boundaries where the Windows system reports them.
//
// Linux reports errno values; the interfaces we reproduce report Win32 codes
// (files, processes, handles) and Windows Sockets codes (sockets, name
// resolution). The mapping is made where the system call fails; logs keep
// the raw errno beside the mapped code.
#pragma once

#include "result.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace lumarc::platform {

// Win32 codes used across the project.
namespace win32 {
constexpr uint32_t kSuccess = 0;
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;
constexpr uint32_t kTooManyOpenFiles = 4;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidHandle = 6;
constexpr uint32_t kNotEnoughMemory = 8;
constexpr uint32_t kInvalidData = 13;
constexpr uint32_t kWriteProtect = 19;
constexpr uint32_t kNotSupported = 50;
constexpr uint32_t kFileExists = 80;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kBrokenPipe = 109;
constexpr uint32_t kDiskFull = 112;
constexpr uint32_t kInsufficientBuffer = 122;
constexpr uint32_t kInvalidName = 123;
constexpr uint32_t kModNotFound = 126;
constexpr uint32_t kProcNotFound = 127;
constexpr uint32_t kBusy = 170;
constexpr uint32_t kAlreadyExists = 183;
constexpr uint32_t kBadExeFormat = 193;
constexpr uint32_t kFilenameTooLong = 206;
constexpr uint32_t kFileTooLarge = 223;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kNoMoreItems = 259;
constexpr uint32_t kOperationAborted = 995;
constexpr uint32_t kIoPending = 997;
constexpr uint32_t kInvalidWindowHandle = 1400;
constexpr uint32_t kTimeout = 1460;
} // namespace win32

// Windows Sockets codes used across the project.
namespace wsa {
constexpr uint32_t kInterrupted = 10004;
constexpr uint32_t kBadHandle = 10009;
constexpr uint32_t kAccess = 10013;
constexpr uint32_t kFault = 10014;
constexpr uint32_t kInvalid = 10022;
constexpr uint32_t kTooManyOpen = 10024;
constexpr uint32_t kWouldBlock = 10035;
constexpr uint32_t kInProgress = 10036;
constexpr uint32_t kAlready = 10037;
constexpr uint32_t kNotSocket = 10038;
constexpr uint32_t kMessageSize = 10040;
constexpr uint32_t kAddressInUse = 10048;
constexpr uint32_t kAddressNotAvailable = 10049;
constexpr uint32_t kNetworkDown = 10050;
constexpr uint32_t kNetworkUnreachable = 10051;
constexpr uint32_t kConnectionAborted = 10053;
constexpr uint32_t kConnectionReset = 10054;
constexpr uint32_t kNoBuffers = 10055;
constexpr uint32_t kNotConnected = 10057;
constexpr uint32_t kShutdown = 10058;
constexpr uint32_t kTimedOut = 10060;
constexpr uint32_t kConnectionRefused = 10061;
constexpr uint32_t kHostDown = 10064;
constexpr uint32_t kHostUnreachable = 10065;
constexpr uint32_t kHostNotFound = 11001;
constexpr uint32_t kTryAgain = 11002;
constexpr uint32_t kNoRecovery = 11003;
constexpr uint32_t kNoData = 11004;
} // namespace wsa

// The Win32 code for an errno value of a file, process or memory call.
uint32_t win32FromErrno(int err);

// The Windows Sockets code for an errno value of a socket call.
uint32_t wsaFromErrno(int err);

// The errno value that a Win32 or Windows Sockets code stands for; 0 when
// the code has no counterpart.
int errnoFromCode(uint32_t code);

// The system's text for a Win32 or Windows Sockets code: the strerror text
// of the matching errno, the resolver's text for the name-resolution codes,
// and "Unknown error <code>" otherwise. Never empty.
std::string systemMessage(uint32_t code);

// An Error for a failed file or process call: Win32 code, and a log text
// "<what>: <strerror> (errno N)".
Error win32Error(std::string_view what, int err);

// An Error for a failed socket call: Windows Sockets code and log text.
Error socketError(std::string_view what, int err);

} // namespace lumarc::platform
