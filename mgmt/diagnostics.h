// The library's two diagnostic channels: tagged debug-output lines and
// event-log entries of the source "Zorvan".
#pragma once

#include <cstdint>
#include <string_view>

namespace lumarc::mgmt {

// Formats printf-style into a 2048-byte buffer and writes "(Quillet) <text>".
void debugLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The error routine: writes "(Quillet) <context> : <system text of code>\n"
// and returns code, which the exports use as their result.
uint32_t reportError(std::string_view context, uint32_t code);

// Event-log level from [EventLog] Level of "EZMsgCfg.ini" in the Windows
// directory (default 0): 0 nothing, 1-6 failures, 7 and above successes too.
void loadEventLogLevel();
uint32_t eventLogLevel();

// A failure entry (error type, no strings) when the level is at least
// minimumLevel (1 for all but one entry).
void logFailure(uint32_t eventId, uint16_t category, uint32_t minimumLevel = 1);

// A success entry (information type, ID 0x4000001E, "No Information") at
// level 7 and above.
void logSuccess(uint16_t category);

// The usual pair for a command: category 20000 on success, 20001 with the
// command's failure ID otherwise.
void logCommandOutcome(uint32_t failureId, uint32_t result);

namespace event {
constexpr uint32_t kSuccess = 0x4000001E;
constexpr uint32_t kStartup = 0xC0000002;
constexpr uint32_t kEcho = 0xC0000001;
constexpr uint32_t kSetName = 0xC000000A;
constexpr uint32_t kGetUserList = 0xC000000B;
constexpr uint32_t kGetAllUser = 0xC000000C;
constexpr uint32_t kPutAllUser = 0xC000000D;
constexpr uint32_t kMaintenanceMode = 0xC000001B;
constexpr uint32_t kSetTestMode = 0xC000001C;
constexpr uint32_t kReadFlash = 0xC000001E;
constexpr uint32_t kScannerInfoMode = 0xC000001F;
constexpr uint32_t kAplReport = 0xC0000020;
constexpr uint32_t kExchange = 200;
constexpr uint32_t kTransfer = 400;
} // namespace event

namespace category {
constexpr uint16_t kSocketFailed = 4001;
constexpr uint16_t kSendFailed = 1001;
constexpr uint16_t kWaitFailed = 7001;
constexpr uint16_t kWaitTimedOut = 7002;
constexpr uint16_t kReceiveFailed = 6001;
constexpr uint16_t kCloseFailed = 8001;
constexpr uint16_t kExchangeSendFailed = 15001;
constexpr uint16_t kConnectExhausted = 16001;
constexpr uint16_t kExchangeFailed = 17001;
constexpr uint16_t kTransferFailed = 19001;
constexpr uint16_t kCommandDone = 20000;
constexpr uint16_t kCommandFailed = 20001;
constexpr uint16_t kUnresolvable = 40001;
} // namespace category

} // namespace lumarc::mgmt
