// The still-image object: one object with the manager face IVexEmStiMgr and
// the device face IVexEmStiDev, serving the scanner of the current unit.
//
// Its identity: QueryInterface answers IUnknown and IVexEmStiMgr with the
// manager face, IVexEmStiDev with the device face. Created as the inner
// object of an aggregate, its faces pass IUnknown calls to the outer object,
// and the caller gets its own (non-delegating) IUnknown. Each live object
// holds a module lock and a reference to the transport binding. The object
// takes no locks of its own; the methods that change nothing may be called
// from any thread, Escape blocks its caller for at most the escape time-out.
#pragma once

#include "quentysti.h"
#include "transport_binding.h"

#include <atomic>
#include <memory>

namespace lumarc::stidev {

// The five texts every device record points into: vendor description,
// device description, port name, property provider, local name. Written
// once, when the object's first record is made, and never changed, so that
// records handed out earlier stay valid and unchanged while the object
// lives.
struct StringArea {
    static constexpr size_t kTexts = 5;
    static constexpr size_t kCharacters = 128; // 127 and the terminating zero
    char16_t texts[kTexts][kCharacters] = {};
};

// Fills the area's texts for a scanner model (at most 127 characters each).
void fillStringArea(StringArea& area, std::string_view scannerModel);

// Fills a zero-filled record with the device's description, its text
// pointers into area.
void fillDeviceRecord(STI_DEVICE_INFORMATIONW& record, StringArea& area);

class StiObject final : public IVexEmStiMgr, public IVexEmStiDev {
public:
    using HRESULT = platform::HRESULT;

    // Makes an object, binds the transport and queries it for iid: the
    // class factory's CreateInstance after its checks. E_FAIL when the
    // transport cannot be bound; E_OUTOFMEMORY; or the query's failure.
    static HRESULT create(platform::IUnknown* outer, const platform::Guid& iid, void** out);

    // IUnknown of both faces: passed to the controlling object.
    HRESULT QueryInterface(const platform::Guid& iid, void** out) override;
    uint32_t AddRef() override;
    uint32_t Release() override;

    // IVexEmStiMgr
    HRESULT Initialize(uint8_t*, uint32_t) override { return platform::S_OK; }
    HRESULT GetDeviceList(uint32_t type, uint32_t flags, uint32_t* count,
                          uint8_t** records) override;
    HRESULT GetDeviceInfo(char16_t* name, uint8_t** record) override;
    HRESULT CreateDevice(char16_t* name, uint32_t mode, IVexEmStiDev** device,
                         platform::IUnknown* outer) override;
    HRESULT GetDeviceValue(char16_t*, char16_t*, uint32_t*, uint8_t*, uint32_t*) override
    {
        return platform::S_OK;
    }
    HRESULT SetDeviceValue(char16_t*, char16_t*, uint32_t, uint8_t*, uint32_t) override
    {
        return platform::S_OK;
    }
    HRESULT GetSTILaunchInformation(char16_t*, uint32_t*, char16_t*) override
    {
        return platform::S_OK;
    }
    HRESULT RegisterLaunchApplication(char16_t*, char16_t*) override { return platform::S_OK; }
    HRESULT UnregisterLaunchApplication(char16_t*) override { return platform::S_OK; }
    HRESULT EnableHwNotifications(char16_t*, int32_t) override { return platform::S_OK; }
    HRESULT GetHwNotificationState(char16_t*, int32_t*) override { return platform::S_OK; }
    HRESULT LaunchApplicationForDevice(char16_t*, char16_t*, uint8_t*) override
    {
        return platform::S_OK;
    }
    HRESULT SetupDeviceParameters(uint8_t*) override { return platform::S_OK; }
    HRESULT WriteToErrorLog(uint32_t, char16_t*) override { return platform::S_OK; }

    // IVexEmStiDev
    HRESULT Initialize(uint8_t*, char16_t*, uint32_t, uint32_t) override { return platform::S_OK; }
    HRESULT GetCapabilities(uint8_t*) override { return platform::S_OK; }
    HRESULT GetStatus(uint8_t* status) override;
    HRESULT DeviceReset() override { return platform::S_OK; }
    HRESULT Diagnostic(uint8_t*) override { return platform::S_OK; }
    HRESULT Escape(uint32_t code, uint8_t* block, uint32_t blockSize, uint8_t* out,
                   uint32_t outSize, uint32_t* actual) override;
    HRESULT GetLastError(uint32_t*) override { return platform::S_OK; }
    HRESULT LockDevice(uint32_t timeout) override;
    HRESULT UnLockDevice() override;
    HRESULT RawReadData(uint8_t*, uint32_t*, uint8_t*) override { return platform::S_OK; }
    HRESULT RawWriteData(uint8_t*, uint32_t, uint8_t*) override { return platform::S_OK; }
    HRESULT RawWriteCommand(uint8_t*, uint32_t, uint8_t*) override { return platform::S_OK; }
    HRESULT Subscribe(uint8_t*) override { return platform::S_OK; }
    HRESULT GetLastNotificationData(uint8_t*) override { return platform::S_OK; }
    HRESULT UnSubscribe() override { return platform::S_OK; }
    HRESULT GetLastErrorInfo(uint8_t*) override { return platform::S_OK; }

private:
    // The object's own IUnknown: the real reference count and interface
    // table. It is the controlling unknown unless the object is aggregated.
    class Inner final : public platform::IUnknown {
    public:
        explicit Inner(StiObject& object) : m_object(object) {}
        HRESULT QueryInterface(const platform::Guid& iid, void** out) override;
        uint32_t AddRef() override;
        uint32_t Release() override;

    private:
        StiObject& m_object;
        std::atomic<uint32_t> m_references{1};
    };

    StiObject(platform::IUnknown* outer, BindingReference binding);
    ~StiObject();

    // A new record in local memory, or null when out of memory.
    STI_DEVICE_INFORMATIONW* newDeviceRecord();

    Inner m_inner;
    platform::IUnknown* m_controlling; // the outer object, or m_inner
    bool m_aggregated;
    BindingReference m_binding;
    std::unique_ptr<StringArea> m_strings; // made by the first record
};

} // namespace lumarc::stidev
