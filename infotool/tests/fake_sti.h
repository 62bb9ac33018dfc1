// A still-image object whose two faces record what a client does with them.
#pragma once

#include "platform/memory_block.h"
#include "platform/text_encoding.h"
#include "stidev/quentysti.h"

#include <cstring>
#include <string>
#include <vector>

namespace lumarc::infotool::testing {

// A still-image object that records what the link does with it.
class FakeSti : public IVexEmStiMgr, public IVexEmStiDev {
public:
    virtual ~FakeSti() = default;
    using HRESULT = platform::HRESULT;
    HRESULT QueryInterface(const platform::Guid&, void** out) override
    {
        *out = nullptr;
        return platform::E_NOINTERFACE;
    }
    uint32_t AddRef() override { return ++refs; }
    uint32_t Release() override
    {
        log.push_back("release");
        return --refs;
    }
    HRESULT Initialize(uint8_t*, uint32_t) override { return 0; }
    HRESULT GetDeviceList(uint32_t, uint32_t, uint32_t* count, uint8_t** records) override
    {
        *count = 1;
        auto* record = static_cast<STI_DEVICE_INFORMATIONW*>(
            lumarc_LocalAlloc(0x40, sizeof(STI_DEVICE_INFORMATIONW) + 3 * 256));
        auto* strings = reinterpret_cast<char16_t*>(record + 1);
        const auto put = [&](char16_t* at, const std::string& text) {
            const std::u16string wide = platform::ansiToWide(text);
            std::copy(wide.begin(), wide.end(), at);
            return at;
        };
        record->pszVendorDescription = put(strings, "VELORIN");
        record->pszDeviceDescription = put(strings + 128, description);
        record->pszLocalName = put(strings + 256, description);
        put(record->szDeviceInternalName, "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000");
        *records = reinterpret_cast<uint8_t*>(record);
        return listResult;
    }
    HRESULT GetDeviceInfo(char16_t*, uint8_t**) override { return 0; }
    HRESULT CreateDevice(char16_t* name, uint32_t mode, IVexEmStiDev** device,
                         platform::IUnknown*) override
    {
        createdName = platform::wideToAnsi(name);
        createdMode = mode;
        ++refs;
        *device = this;
        return 0;
    }
    HRESULT GetDeviceValue(char16_t*, char16_t*, uint32_t*, uint8_t*, uint32_t*) override
    {
        return 0;
    }
    HRESULT SetDeviceValue(char16_t*, char16_t*, uint32_t, uint8_t*, uint32_t) override { return 0; }
    HRESULT GetSTILaunchInformation(char16_t*, uint32_t*, char16_t*) override { return 0; }
    HRESULT RegisterLaunchApplication(char16_t*, char16_t*) override { return 0; }
    HRESULT UnregisterLaunchApplication(char16_t*) override { return 0; }
    HRESULT EnableHwNotifications(char16_t*, int32_t) override { return 0; }
    HRESULT GetHwNotificationState(char16_t*, int32_t*) override { return 0; }
    HRESULT LaunchApplicationForDevice(char16_t*, char16_t*, uint8_t*) override { return 0; }
    HRESULT SetupDeviceParameters(uint8_t*) override { return 0; }
    HRESULT WriteToErrorLog(uint32_t, char16_t*) override { return 0; }
    HRESULT Initialize(uint8_t*, char16_t*, uint32_t, uint32_t) override { return 0; }
    HRESULT GetCapabilities(uint8_t*) override { return 0; }
    HRESULT GetStatus(uint8_t* status) override
    {
        log.push_back("status");
        auto* s = reinterpret_cast<STI_DEVICE_STATUS*>(status);
        statusMask = s->StatusMask;
        if (online)
            s->dwOnlineState = 1;
        return 0;
    }
    HRESULT DeviceReset() override { return 0; }
    HRESULT Diagnostic(uint8_t*) override { return 0; }
    HRESULT Escape(uint32_t code, uint8_t* block, uint32_t blockSize, uint8_t* out,
                   uint32_t outSize, uint32_t*) override
    {
        log.push_back("escape " + std::to_string(code));
        escapes.push_back({code, std::vector<uint8_t>(block, block + blockSize), out, outSize});
        if (code != 0) {
            auto* b = reinterpret_cast<VexEmEscapeBlock*>(block);
            b->result->status = resultStatus;
        }
        return 0;
    }
    HRESULT GetLastError(uint32_t*) override { return 0; }
    HRESULT LockDevice(uint32_t timeout) override
    {
        log.push_back("lock " + std::to_string(timeout));
        return 0;
    }
    HRESULT UnLockDevice() override
    {
        log.push_back("unlock");
        return unlockResult;
    }
    HRESULT RawReadData(uint8_t*, uint32_t*, uint8_t*) override { return 0; }
    HRESULT RawWriteData(uint8_t*, uint32_t, uint8_t*) override { return 0; }
    HRESULT RawWriteCommand(uint8_t*, uint32_t, uint8_t*) override { return 0; }
    HRESULT Subscribe(uint8_t*) override { return 0; }
    HRESULT GetLastNotificationData(uint8_t*) override { return 0; }
    HRESULT UnSubscribe() override { return 0; }
    HRESULT GetLastErrorInfo(uint8_t*) override { return 0; }

    struct EscapeCall {
        uint32_t code;
        std::vector<uint8_t> block;
        uint8_t* out;
        uint32_t outSize;
    };
    std::vector<std::string> log;
    std::vector<EscapeCall> escapes;
    std::string createdName;
    uint32_t createdMode = 0;
    uint32_t statusMask = 0;
    uint32_t resultStatus = 1;
    HRESULT listResult = 0;
    HRESULT unlockResult = 0;
    bool online = true;
    std::string description = "NOVIA-1810 on NET";
    int refs = 0;
};


} // namespace lumarc::infotool::testing
