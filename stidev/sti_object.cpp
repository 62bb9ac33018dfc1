// The still-image object's faces.
#include "sti_object.h"

#include "escape.h"
#include "server_module.h"

#include "platform/memory_block.h"
#include "platform/message_window.h"
#include "platform/text_encoding.h"
#include "shared/settings_file.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace lumarc::stidev {
namespace {

using namespace platform;

// The imaging-device class key, one backslash, instance 0000.
constexpr char16_t kInternalName[] = u"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000";
constexpr uint32_t kScannerType = 0x00010001; // type 1 (scanner), subtype 1
// Notifications 0x01, polling needed 0x02, WIA 0x10, subset 0x20.
constexpr uint32_t kGenericCapabilities = 0x33;
constexpr uint32_t kHardwareUsb = 4;
constexpr const char* kVendor = "VELORIN";
constexpr const char* kDescriptionSuffix = " on NET";
constexpr const char* kPortName = "\\\\.\\Usbscan0";

enum Text : size_t { kVendorText, kDescriptionText, kPortText, kProviderText, kLocalText };

void putText(StringArea& area, Text index, std::string_view text)
{
    const std::u16string wide = ansiToWide(text);
    const size_t length = std::min(wide.size(), StringArea::kCharacters - 1);
    std::copy_n(wide.begin(), length, area.texts[index]);
    area.texts[index][length] = u'\0';
}

} // namespace

void fillStringArea(StringArea& area, std::string_view scannerModel)
{
    const std::string description = std::string(scannerModel) + kDescriptionSuffix;
    putText(area, kVendorText, kVendor);
    putText(area, kDescriptionText, description);
    putText(area, kPortText, kPortName);
    putText(area, kProviderText, "");
    putText(area, kLocalText, description);
}

void fillDeviceRecord(STI_DEVICE_INFORMATIONW& record, StringArea& area)
{
    record.dwSize = sizeof record;
    record.DeviceType = kScannerType;
    std::copy(std::begin(kInternalName), std::end(kInternalName), record.szDeviceInternalName);
    record.DeviceCapabilities.dwGeneric = kGenericCapabilities;
    record.dwHardwareConfiguration = kHardwareUsb;
    record.pszVendorDescription = area.texts[kVendorText];
    record.pszDeviceDescription = area.texts[kDescriptionText];
    record.pszPortName = area.texts[kPortText];
    record.pszPropProvider = area.texts[kProviderText];
    record.pszLocalName = area.texts[kLocalText];
}

HRESULT StiObject::create(IUnknown* outer, const Guid& iid, void** out)
{
    auto binding = BindingReference::acquire();
    if (!binding)
        return E_FAIL;
    auto* object = new (std::nothrow) StiObject(outer, std::move(*binding));
    if (object == nullptr)
        return E_OUTOFMEMORY;
    // The query adds the caller's reference; dropping the one the object
    // was born with destroys it again when the query failed.
    const HRESULT result = object->m_inner.QueryInterface(iid, out);
    object->m_inner.Release();
    return result;
}

StiObject::StiObject(IUnknown* outer, BindingReference binding)
    : m_inner(*this), m_controlling(outer != nullptr ? outer : &m_inner),
      m_aggregated(outer != nullptr), m_binding(std::move(binding))
{
    lockModule();
}

StiObject::~StiObject()
{
    unlockModule();
}

HRESULT StiObject::Inner::QueryInterface(const Guid& iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    if (iid == IID_IUnknown) {
        *out = m_object.m_aggregated ? static_cast<IUnknown*>(this)
                                     : static_cast<IVexEmStiMgr*>(&m_object);
    } else if (iid == IID_IVexEmStiMgr) {
        *out = static_cast<IVexEmStiMgr*>(&m_object);
    } else if (iid == IID_IVexEmStiDev) {
        *out = static_cast<IVexEmStiDev*>(&m_object);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*out)->AddRef();
    return S_OK;
}

uint32_t StiObject::Inner::AddRef()
{
    return m_references.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t StiObject::Inner::Release()
{
    const uint32_t left = m_references.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        delete &m_object;
    return left;
}

HRESULT StiObject::QueryInterface(const Guid& iid, void** out)
{
    return m_controlling->QueryInterface(iid, out);
}

uint32_t StiObject::AddRef()
{
    return m_controlling->AddRef();
}

uint32_t StiObject::Release()
{
    return m_controlling->Release();
}

STI_DEVICE_INFORMATIONW* StiObject::newDeviceRecord()
{
    if (!m_strings) {
        m_strings.reset(new (std::nothrow) StringArea);
        if (!m_strings)
            return nullptr;
        fillStringArea(*m_strings, m_binding->scannerModel());
    }
    auto* record = static_cast<STI_DEVICE_INFORMATIONW*>(
        lumarc_LocalAlloc(static_cast<uint32_t>(BlockFlags::ZeroInit), sizeof(STI_DEVICE_INFORMATIONW)));
    if (record != nullptr)
        fillDeviceRecord(*record, *m_strings);
    return record;
}

HRESULT StiObject::GetDeviceList(uint32_t, uint32_t, uint32_t* count, uint8_t** records)
{
    if (count == nullptr || records == nullptr)
        return E_POINTER;
    *count = 1;
    *records = reinterpret_cast<uint8_t*>(newDeviceRecord());
    return *records != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT StiObject::GetDeviceInfo(char16_t*, uint8_t** record)
{
    if (record == nullptr)
        return E_POINTER;
    *record = reinterpret_cast<uint8_t*>(newDeviceRecord());
    return *record != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT StiObject::CreateDevice(char16_t*, uint32_t, IVexEmStiDev** device, IUnknown*)
{
    if (device == nullptr)
        return E_POINTER;
    AddRef();
    *device = this;
    return S_OK;
}

HRESULT StiObject::GetStatus(uint8_t* status)
{
    if (status == nullptr)
        return E_POINTER;
    // Only the fields named are touched: callers pass shorter records.
    uint32_t mask = 0;
    std::memcpy(&mask, status + offsetof(STI_DEVICE_STATUS, StatusMask), sizeof mask);
    if (mask == STI_DEVSTATUS_ONLINE_STATE) {
        const uint32_t online = STI_ONLINESTATE_OPERATIONAL;
        std::memcpy(status + offsetof(STI_DEVICE_STATUS, dwOnlineState), &online, sizeof online);
    }
    return S_OK;
}

HRESULT StiObject::Escape(uint32_t code, uint8_t* block, uint32_t, uint8_t* out, uint32_t outSize,
                          uint32_t*)
{
    return runEscape(*m_binding, code, block, out, outSize);
}

// The event module may start or stop at any time, so its window is looked
// for at each call; when it is missing nothing is posted, and the call
// succeeds all the same.
HRESULT StiObject::LockDevice(uint32_t)
{
    (void)postMessageToTitle(shared::kEventModuleTitle, shared::kScannerChannelTaken);
    return S_OK;
}

HRESULT StiObject::UnLockDevice()
{
    (void)postMessageToTitle(shared::kEventModuleTitle, shared::kScannerChannelFree);
    return S_OK;
}

} // namespace lumarc::stidev
