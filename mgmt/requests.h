// Management requests as bytes: command codes, layouts and the field rules.
//
// Requests are built in zero-filled buffers, so every byte not named is 0.
// Text fields are fixed-width and NUL-terminated: text longer than its field
// is cut to the width minus one. No sockets here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lumarc::mgmt {

namespace code {
constexpr uint32_t kSendMsg = 0x02;
constexpr uint32_t kGetScanInfo = 0x05;
constexpr uint32_t kAplReport = 0x06;
constexpr uint32_t kGetFirmInfo = 0x10;
constexpr uint32_t kGetNetInfo = 0x20;
constexpr uint32_t kUserEntry = 0x100; // + mode 0, 1, 2
constexpr uint32_t kGetUserList = 0x103;
constexpr uint32_t kAdminUserModify = 0x104;
constexpr uint32_t kAdminUserDelete = 0x105;
constexpr uint32_t kGetAllUser = 0x110;
constexpr uint32_t kPutAllUser = 0x111;
constexpr uint32_t kSetAdmin = 0x120;
constexpr uint32_t kSetNetInfo = 0x130;
constexpr uint32_t kGetName = 0x140;
constexpr uint32_t kSetName = 0x141;
constexpr uint32_t kMaintenanceEnter = 0x150;
constexpr uint32_t kMaintenanceLeave = 0x151;
constexpr uint32_t kScannerInfoEnter = 0x160;
constexpr uint32_t kScannerInfoLeave = 0x161;
constexpr uint32_t kWriteFlash = 0x200;
constexpr uint32_t kReadFlash = 0x201;
constexpr uint32_t kLanSpeed = 0x10000;
constexpr uint32_t kGetFpImage = 0x10001;
constexpr uint32_t kGetFpSnsTest = 0x10002;
constexpr uint32_t kLcdTest = 0x10003;
constexpr uint32_t kLcdLightTest = 0x10004;
constexpr uint32_t kOpepaneTest = 0x10005;
constexpr uint32_t kFpStatus = 0x10006;
constexpr uint32_t kTestModeOn = 0x10007;
constexpr uint32_t kTestModeOff = 0x10008;
constexpr uint32_t kInitDevice = 0x10009;
constexpr uint32_t kDevinfo = 0x1000A;
} // namespace code

// Field widths and payload offsets (payload offset 0 = request offset 16).
constexpr size_t kNameField = 32;
constexpr size_t kPinField = 32;
constexpr size_t kHostField = 256;
constexpr size_t kUnitNameField = 48;
constexpr size_t kKeyField = 16;
constexpr size_t kPanelTextField = 64;
constexpr size_t kCredentialsSize = 64;
constexpr size_t kUserEntrySize = 384;
constexpr size_t kAdminUserEntrySize = 448;
constexpr size_t kUserDatabaseSend = 344080;

// A zero-filled request of length bytes with its header (length, PC magic,
// code, 0).
std::vector<uint8_t> makeRequest(uint32_t code, size_t length);

// The payload of a request (everything behind the header).
std::span<uint8_t> payloadOf(std::vector<uint8_t>& request);

// Copies text into a zero-filled field, at most width-1 bytes; null is "".
void putText(std::span<uint8_t> field, const char* text);

// Administrator name at payload 0, PIN at payload 32.
void putCredentials(std::span<uint8_t> payload, const char* name, const char* pin);

// The 16-byte database key: blanks, overwritten from the start by at most 16
// characters of the key text, no terminator.
void putDatabaseKey(std::span<uint8_t> field, const char* key);

// Bytes a data length is padded to in a flash write (a multiple of 4).
uint32_t flashPaddedLength(uint32_t length);

// Sets the checksum word at request offset 80 so that the little-endian
// words from there to the end of the request add up to 0 modulo 2^32.
void sealFlashRequest(std::span<uint8_t> request);

// The fields of a user entry.
struct UserEntryFields {
    const char* user = nullptr;
    const char* newPin = nullptr;
    const char* loginUser = nullptr;
    const char* loginPin = nullptr;
    const char* host = nullptr;
    const char* adminPin = nullptr; // administrator requests only
};

// A user request (400 bytes) or an administrator request (464 bytes, with
// "root" and the administrator PIN).
std::vector<uint8_t> userEntryRequest(uint32_t code, const UserEntryFields& fields, bool admin);

} // namespace lumarc::mgmt
