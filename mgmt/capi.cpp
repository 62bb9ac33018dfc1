// The exported C functions: check the arguments, build the request, run the
// exchange, copy what the export promises, map the result. No exception
// leaves this file.
#include "zorvan.h"

#include "commands.h"
#include "diagnostics.h"
#include "discovery.h"
#include "echo.h"
#include "library_state.h"
#include "requests.h"

#include "platform/error_codes.h"
#include "platform/unit_address.h"
#include "shared/message_header.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>

namespace lumarc::mgmt {
namespace {

constexpr uint32_t kInvalidArgument = platform::win32::kInvalidParameter;
constexpr uint32_t kOutOfMemory = platform::win32::kNotEnoughMemory;
constexpr uint32_t kFailedExchange = 0x80000004u;
// Flash transfers are bounded so that length + 16 and the padding cannot
// overflow, and a wrong length cannot ask for gigabytes.
constexpr uint32_t kMaxFlashLength = 16u * 1024 * 1024;
constexpr uint32_t kMaxLanSpeedLength = 16u * 1024 * 1024;

template <class Body> uint32_t guarded(Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        debugLine("out of memory\n");
        return kOutOfMemory;
    } catch (...) {
        debugLine("unexpected failure\n");
        return kFailedExchange;
    }
}

void copyOut(void* out, std::span<const uint8_t> bytes)
{
    std::memcpy(out, bytes.data(), bytes.size());
}

// A command with no reply payload: build, run, log.
uint32_t simpleCommand(const char* unit, const std::vector<uint8_t>& request, size_t capacity,
                       uint32_t failureId = 0)
{
    const CommandOutcome outcome = runCommand(unit, request, capacity);
    if (failureId != 0)
        logCommandOutcome(failureId, outcome.result);
    return outcome.result;
}

std::vector<uint8_t> credentialsRequest(uint32_t code, size_t length, const char* name,
                                        const char* pin)
{
    auto request = makeRequest(code, length);
    putCredentials(payloadOf(request), name, pin);
    return request;
}

std::vector<uint8_t> wordRequest(uint32_t code, uint32_t word)
{
    auto request = makeRequest(code, 20);
    shared::writeLe32(request, 16, word);
    return request;
}

// The PC's own IPv4 address in dotted form, for a user entry without host.
// Fails with 0x80000001 or 0x80000002.
Result<std::string> ownAddressText()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        reportError("Error gethostname()\n", platform::wsaFromErrno(errno));
        return Error{ZORVAN_E_NO_HOSTNAME, "gethostname"};
    }
    auto address = platform::resolveUnitAddress(name);
    if (!address) {
        reportError("Error gethostbyname()\n", address.error().code);
        return Error{ZORVAN_E_HOSTNAME_UNRESOLVED, "own host name"};
    }
    const std::string text = platform::addressText(*address);
    debugLine("Ip address %s\n", text.c_str());
    return text;
}

uint32_t userEntry(const char* unit, uint32_t code, UserEntryFields fields, bool admin)
{
    const UnitTarget target = prepareUnit(unit);
    if (!target.address)
        return target.result;
    std::string host;
    if (fields.host == nullptr) {
        auto own = ownAddressText();
        if (!own)
            return own.error().code;
        host = *own;
        fields.host = host.c_str();
    }
    return runCommandAt(*target.address, userEntryRequest(code, fields, admin), 1024).result;
}

} // namespace
} // namespace lumarc::mgmt

using namespace lumarc;
using namespace lumarc::mgmt;

extern "C" {

int32_t Zorvan_Startup(ZorvanWindow window, uint32_t message)
{
    try {
        return startLibrary(window, message);
    } catch (...) {
        return -1;
    }
}

int32_t Zorvan_Cleanup(void)
{
    return cleanupLibrary();
}

uint32_t Zorvan_SendMsg(const char* unit, uint32_t, const char* text, uint32_t length)
{
    return guarded([&] {
        auto request = makeRequest(code::kSendMsg, 84);
        if (text != nullptr)
            std::memcpy(request.data() + 20, text, std::min<uint32_t>(length, kPanelTextField));
        return simpleCommand(unit, request, 1024);
    });
}

uint32_t Zorvan_SetAdmin(const char* unit, const char* adminName, const char* pin,
                         const char* newAdminName, const char* newPin)
{
    return guarded([&] {
        auto request = credentialsRequest(code::kSetAdmin, 144, adminName, pin);
        putCredentials(payloadOf(request).subspan(kCredentialsSize), newAdminName, newPin);
        return simpleCommand(unit, request, 2048);
    });
}

uint32_t Zorvan_GetScanInfo(const char* unit, uint32_t* scanner, uint32_t* inquiryLength,
                            uint32_t* secondLength, uint8_t* inquiry, uint8_t* second)
{
    if (inquiry == nullptr || second == nullptr)
        return kInvalidArgument;
    return guarded([&] {
        const CommandOutcome outcome =
            runCommand(unit, makeRequest(code::kGetScanInfo, 16), 2048);
        if (outcome.result != 0) {
            if (outcome.result != ZORVAN_UNRESOLVABLE)
                inquiry[0] = 0;
            return outcome.result;
        }
        const auto words = outcome.payload(0, 12);
        // The lengths reported are the lengths copied, so a caller never
        // reads past its own buffers.
        const uint32_t first = std::min<uint32_t>(shared::readLe32(words, 4), ZORVAN_INQUIRY_SIZE);
        const uint32_t other =
            std::min<uint32_t>(shared::readLe32(words, 8), ZORVAN_SECOND_BLOCK_SIZE);
        if (scanner != nullptr)
            *scanner = shared::readLe32(words, 0);
        if (inquiryLength != nullptr)
            *inquiryLength = first;
        if (secondLength != nullptr)
            *secondLength = other;
        copyOut(inquiry, outcome.payload(12, first));
        copyOut(second, outcome.payload(268, other));
        return 0u;
    });
}

uint32_t Zorvan_GetNetInfo(const char* unit, NetInfoRecord* out)
{
    if (out == nullptr)
        return kInvalidArgument;
    return guarded([&] {
        const CommandOutcome outcome = runCommand(unit, makeRequest(code::kGetNetInfo, 16), 1024);
        if (outcome.result != 0) {
            if (outcome.result != ZORVAN_UNRESOLVABLE)
                out->address = 0;
            return outcome.result;
        }
        copyOut(out, outcome.payload(0, sizeof(NetInfoRecord)));
        if (out->address != 0) {
            const auto* octet = reinterpret_cast<const uint8_t*>(&out->address);
            std::snprintf(out->addressText, sizeof out->addressText, "%d.%d.%d.%d", octet[0],
                          octet[1], octet[2], octet[3]);
        }
        return 0u;
    });
}

uint32_t Zorvan_SetNetInfo(const char* unit, const char* adminName, const char* pin,
                           const uint32_t* words)
{
    if (words == nullptr)
        return kInvalidArgument;
    return guarded([&] {
        auto request = credentialsRequest(code::kSetNetInfo, 100, adminName, pin);
        for (size_t i = 0; i < 5; ++i)
            shared::writeLe32(request, 16 + 64 + 4 * i, words[i]);
        return simpleCommand(unit, request, 1024);
    });
}

uint32_t Zorvan_GetFirmInfo(const char* unit, char* out, uint32_t)
{
    if (out == nullptr)
        return kInvalidArgument;
    return guarded([&] {
        const CommandOutcome outcome =
            runCommand(unit, makeRequest(code::kGetFirmInfo, 16), 1024);
        if (outcome.result != 0) {
            if (outcome.result != ZORVAN_UNRESOLVABLE)
                out[0] = '\0';
            return outcome.result;
        }
        copyOut(out, outcome.payload(0, ZORVAN_FIRMINFO_SIZE));
        return 0u;
    });
}

uint32_t Zorvan_GetName(const char* unit, UnitNameRecord* out)
{
    if (out == nullptr)
        return kInvalidArgument;
    return guarded([&] {
        const CommandOutcome outcome = runCommand(unit, makeRequest(code::kGetName, 16), 1024);
        if (outcome.result == 0)
            copyOut(out, outcome.payload(0, sizeof(UnitNameRecord)));
        return outcome.result;
    });
}

uint32_t Zorvan_SetName(const char* unit, const char* adminName, const char* pin,
                        const UnitNameRecord* in)
{
    if (in == nullptr)
        return kInvalidArgument;
    return guarded([&] {
        auto request = credentialsRequest(code::kSetName, 132, adminName, pin);
        shared::writeLe32(request, 16 + 64, in->triggerPort);
        // The caller's name need not be terminated within its 48 bytes.
        char name[sizeof in->name + 1] = {};
        std::memcpy(name, in->name, sizeof in->name);
        putText(payloadOf(request).subspan(68, kUnitNameField), name);
        return simpleCommand(unit, request, 1024, event::kSetName);
    });
}

uint32_t Zorvan_GetUserList(const char* unit, const char* adminName, const char* pin,
                            uint8_t* out)
{
    if (out == nullptr)
        return kInvalidArgument;
    return guarded([&] {
        const CommandOutcome outcome =
            runCommand(unit, credentialsRequest(code::kGetUserList, 80, adminName, pin), 10240);
        logCommandOutcome(event::kGetUserList, outcome.result);
        if (outcome.result == 0)
            copyOut(out, outcome.payload(0, ZORVAN_USERLIST_SIZE));
        return outcome.result;
    });
}

uint32_t Zorvan_GetAllUser(const char* unit, const char* adminName, const char* pin,
                           const char* key, uint8_t* out, uint32_t)
{
    if (out == nullptr)
        return kInvalidArgument;
    return guarded([&] {
        auto request = credentialsRequest(code::kGetAllUser, 96, adminName, pin);
        putDatabaseKey(payloadOf(request).subspan(64, kKeyField), key);
        const CommandOutcome outcome = runCommand(unit, request, ZORVAN_USERDB_BUFFER_SIZE);
        logCommandOutcome(event::kGetAllUser, outcome.result);
        if (outcome.result == 0)
            copyOut(out,
                    outcome.payload(0, ZORVAN_USERDB_BUFFER_SIZE - shared::kHeaderSize));
        return outcome.result;
    });
}

uint32_t Zorvan_PutAllUser(const char* unit, const char* adminName, const char* pin,
                           const char* key, const uint8_t* block, uint32_t)
{
    if (block == nullptr)
        return kInvalidArgument;
    return guarded([&] {
        auto request = credentialsRequest(code::kPutAllUser, 16 + 80 + kUserDatabaseSend,
                                          adminName, pin);
        putDatabaseKey(payloadOf(request).subspan(64, kKeyField), key);
        std::memcpy(request.data() + 16 + 80, block, kUserDatabaseSend);
        const uint32_t result = simpleCommand(unit, request, 2048);
        logCommandOutcome(event::kPutAllUser, result);
        return result;
    });
}

uint32_t Zorvan_UserEntry(const char* unit, const char* user, const char* pin, const char* newPin,
                          const char* host, uint32_t mode)
{
    return guarded([&] {
        UserEntryFields fields;
        fields.host = host;
        switch (mode) {
        case 0:
            fields = {user, pin, user, pin, host, nullptr};
            break;
        case 1:
            fields = {user, newPin, user, pin, host, nullptr};
            break;
        case 2:
            fields = {user, newPin, user, newPin, host, nullptr};
            break;
        default:
            // Any other mode travels as the code, with the four fields empty.
            return userEntry(unit, mode, fields, false);
        }
        return userEntry(unit, code::kUserEntry + mode, fields, false);
    });
}

uint32_t Zorvan_AdminUserEntry(const char* unit, const char* user, const char* pin,
                               const char* host, const char*, const char* adminPin, uint32_t mode)
{
    return guarded([&] {
        UserEntryFields fields;
        fields.host = host;
        fields.adminPin = adminPin;
        if (mode == 1)
            return userEntry(unit, code::kAdminUserModify,
                             {user, nullptr, user, pin, host, adminPin}, true);
        if (mode == 2)
            return userEntry(unit, code::kAdminUserDelete,
                             {user, nullptr, user, nullptr, host, adminPin}, true);
        return userEntry(unit, mode, fields, true);
    });
}

uint32_t Zorvan_OT_SetTestMode(const char* unit, uint32_t flag)
{
    return guarded([&] {
        return simpleCommand(unit,
                             makeRequest(flag != 0 ? code::kTestModeOn : code::kTestModeOff, 16),
                             1024, event::kSetTestMode);
    });
}

uint32_t Zorvan_ReadFlash(const char* unit, const char* adminName, const char* pin,
                          uint32_t target, uint32_t length, uint8_t* out)
{
    if ((out == nullptr && length != 0) || length > kMaxFlashLength)
        return kInvalidArgument;
    return guarded([&] {
        const UnitTarget unitTarget = prepareUnit(unit);
        if (!unitTarget.address) {
            if (unitTarget.result == ZORVAN_UNRESOLVABLE)
                logFailure(event::kReadFlash, category::kUnresolvable, 2);
            return unitTarget.result;
        }
        auto request = credentialsRequest(code::kReadFlash, 92, adminName, pin);
        shared::writeLe32(request, 84, target);
        shared::writeLe32(request, 88, length);
        const CommandOutcome outcome = runCommandAt(*unitTarget.address, request, length + 16u);
        if (outcome.result == 0 && length != 0)
            copyOut(out, outcome.payload(0, length));
        return outcome.result;
    });
}

uint32_t Zorvan_WriteFlash(const char* unit, const char* adminName, const char* pin,
                           uint32_t target, uint32_t length, const uint8_t* data)
{
    if ((data == nullptr && length != 0) || length > kMaxFlashLength)
        return kInvalidArgument;
    return guarded([&] {
        const uint32_t padded = flashPaddedLength(length);
        auto request = credentialsRequest(code::kWriteFlash, 92 + padded, adminName, pin);
        shared::writeLe32(request, 84, target);
        shared::writeLe32(request, 88, padded);
        if (length != 0)
            std::memcpy(request.data() + 92, data, length);
        sealFlashRequest(request);
        return simpleCommand(unit, request, 1024);
    });
}

uint32_t Zorvan_SearchBox(uint32_t* address)
{
    if (!libraryStarted())
        return reportError("Error socket()\n", kNotStarted);
    return guarded([&] { return searchBox(address); });
}

UnitNode* Zorvan_SearchBoxAll(void)
{
    if (!libraryStarted()) {
        reportError("Error socket()\n", kNotStarted);
        return nullptr;
    }
    try {
        return searchBoxAll();
    } catch (...) {
        return nullptr;
    }
}

void Zorvan_FreeSearchBoxAll(UnitNode* head)
{
    freeSearchBoxAll(head);
}

uint32_t Zorvan_OT_LanSpeed(const char* unit, uint32_t length, const uint8_t* data,
                            int32_t* milliseconds)
{
    if ((data == nullptr && length != 0) || length > kMaxLanSpeedLength)
        return kInvalidArgument;
    return guarded([&] {
        auto request = makeRequest(code::kLanSpeed, length + 16u);
        if (length != 0)
            std::memcpy(request.data() + 16, data, length);
        const CommandOutcome outcome = runCommand(unit, request, length + 16u);
        if (outcome.exchange.kind == ExchangeResult::Kind::Reply && milliseconds != nullptr)
            *milliseconds =
                static_cast<int32_t>(outcome.exchange.replyTick - outcome.exchange.sendTick);
        return outcome.result;
    });
}

uint32_t Zorvan_OT_GetFpImage(const char* unit, uint8_t* out)
{
    if (out == nullptr)
        return kInvalidArgument;
    return guarded([&] {
        const CommandOutcome outcome =
            runCommand(unit, makeRequest(code::kGetFpImage, 16), 77824);
        if (outcome.result == 0)
            copyOut(out, outcome.payload(0, ZORVAN_FP_IMAGE_SIZE));
        return outcome.result;
    });
}

uint32_t Zorvan_OT_GetFpSnsTest(const char* unit, uint8_t* out)
{
    if (out == nullptr)
        return kInvalidArgument;
    return guarded([&] {
        const CommandOutcome outcome =
            runCommand(unit, makeRequest(code::kGetFpSnsTest, 16), 922672);
        if (outcome.result == 0)
            copyOut(out, outcome.payload(0, ZORVAN_FP_SNSTEST_SIZE));
        return outcome.result;
    });
}

uint32_t Zorvan_OT_LcdTest(const char* unit, const uint32_t* values)
{
    if (values == nullptr)
        return kInvalidArgument;
    return guarded([&] {
        auto request = makeRequest(code::kLcdTest, 16 + 4 * ZORVAN_LCD_VALUES);
        for (size_t i = 0; i < ZORVAN_LCD_VALUES; ++i)
            shared::writeLe32(request, 16 + 4 * i, values[i]);
        return simpleCommand(unit, request, 1024);
    });
}

uint32_t Zorvan_OT_LcdLightTest(const char* unit, uint32_t value)
{
    return guarded([&] { return simpleCommand(unit, wordRequest(code::kLcdLightTest, value), 1024); });
}

uint32_t Zorvan_OT_OpepaneTest(const char* unit, uint32_t key, uint8_t* out)
{
    return guarded([&] {
        const CommandOutcome outcome =
            runCommand(unit, wordRequest(code::kOpepaneTest, key & 0xFFu), 1024);
        if (outcome.result == 0 && out != nullptr)
            *out = outcome.payload(0, 1)[0];
        return outcome.result;
    });
}

uint32_t Zorvan_OT_FpStatus(const char* unit)
{
    return guarded([&] { return simpleCommand(unit, makeRequest(code::kFpStatus, 16), 1024); });
}

uint32_t Zorvan_MaintenanceMode(const char* unit, const char* adminName, const char* pin,
                                uint32_t flag)
{
    return guarded([&] {
        const uint32_t code = flag != 0 ? code::kMaintenanceEnter : code::kMaintenanceLeave;
        return simpleCommand(unit, credentialsRequest(code, 80, adminName, pin), 1024,
                             event::kMaintenanceMode);
    });
}

uint32_t Zorvan_EchoRequests(const char* unit, int32_t* timeoutInOutTime)
{
    return guarded([&] { return echoUnit(unit, timeoutInOutTime); });
}

uint32_t Zorvan_OT_InitDevice(const char* unit, const char* adminName, const char* pin)
{
    return guarded([&] {
        return simpleCommand(unit, credentialsRequest(code::kInitDevice, 80, adminName, pin),
                             1024);
    });
}

uint32_t Zorvan_OT_Devinfo(const char* unit, const char* adminName, const char* pin,
                           const uint8_t* data)
{
    if (data == nullptr)
        return kInvalidArgument;
    return guarded([&] {
        auto request = credentialsRequest(code::kDevinfo, 92, adminName, pin);
        std::memcpy(request.data() + 16 + 64, data, ZORVAN_DEVINFO_SIZE);
        return simpleCommand(unit, request, 1024);
    });
}

uint32_t Zorvan_ScannerInfoMode(const char* unit, uint32_t flag)
{
    return guarded([&] {
        const uint32_t code = flag != 0 ? code::kScannerInfoEnter : code::kScannerInfoLeave;
        return simpleCommand(unit, makeRequest(code, 16), 1024, event::kScannerInfoMode);
    });
}

uint32_t Zorvan_Apl_Report(const char* unit, uint32_t code)
{
    return guarded([&] {
        return simpleCommand(unit, wordRequest(code::kAplReport, code), 1024, event::kAplReport);
    });
}

} // extern "C"
