// The device link over COM and Escape.
#include "sti_device_link.h"

#include "platform/debug_output.h"
#include "platform/memory_block.h"
#include "platform/text_encoding.h"
#include "scsinet/aspi.h"

#include <cstring>

namespace lumarc::infotool {
namespace {

using namespace lumarc::platform;

constexpr uint32_t kDeviceModeStatusAndData = 3;
constexpr uint32_t kLockTimeoutMs = 2000;
constexpr int kMaxLocks = 2;
// The tool's execute blocks carry ten CDB bytes (32 bytes on a 32-bit build).
constexpr uint32_t kEscapeBlockSize = offsetof(VexEmEscapeBlock, cdb) + 10;
// The release escape: a 16-byte block of kind 5, sent at close when a lock
// is still counted.
constexpr uint32_t kReleaseKind = 5;

std::string narrow(const char16_t* text)
{
    return text != nullptr ? wideToAnsi(text) : std::string();
}

} // namespace

StiDeviceLink::StiDeviceLink(Creator creator) : m_creator(std::move(creator))
{
    if (!m_creator) {
        m_creator = [](IVexEmStiMgr** out) {
            return createInstance(CLSID_VexEmStiObj, nullptr, clsctx::kAll, IID_IVexEmStiMgr,
                                  reinterpret_cast<void**>(out));
        };
    }
}

StiDeviceLink::~StiDeviceLink()
{
    close();
}

bool StiDeviceLink::open()
{
    if (!m_instance) {
        const HRESULT created = m_creator(m_instance.put());
        if (created != S_OK || !m_instance) {
            debugOutput("(Gaugery) creating the still-image object failed: " +
                        hresultText(created) + "\n");
            m_instance.reset();
            return false;
        }
    }
    if (m_deviceList != nullptr) {
        lumarc_LocalFree(m_deviceList);
        m_deviceList = nullptr;
    }
    uint32_t count = 0;
    const HRESULT listed = m_instance->GetDeviceList(0, 0, &count, &m_deviceList);
    if (listed != S_OK || m_deviceList == nullptr || count == 0) {
        debugOutput("(Gaugery) the device list failed: " + hresultText(listed) + "\n");
        return false;
    }
    return true;
}

const STI_DEVICE_INFORMATIONW* StiDeviceLink::record() const
{
    return reinterpret_cast<const STI_DEVICE_INFORMATIONW*>(m_deviceList);
}

bool StiDeviceLink::createDevice()
{
    if (m_device)
        return true;
    if (!m_instance || record() == nullptr)
        return false;
    char16_t name[STI_MAX_INTERNAL_NAME_LENGTH];
    std::memcpy(name, record()->szDeviceInternalName, sizeof name);
    name[STI_MAX_INTERNAL_NAME_LENGTH - 1] = 0;
    const HRESULT opened =
        m_instance->CreateDevice(name, kDeviceModeStatusAndData, m_device.put(), nullptr);
    if (opened != S_OK) {
        m_device.reset();
        return false;
    }
    return true;
}

std::string StiDeviceLink::vendorDescription() const
{
    return record() != nullptr ? narrow(record()->pszVendorDescription) : std::string();
}

std::string StiDeviceLink::deviceDescription() const
{
    return record() != nullptr ? narrow(record()->pszDeviceDescription) : std::string();
}

std::string StiDeviceLink::localName() const
{
    return record() != nullptr ? narrow(record()->pszLocalName) : std::string();
}

ModelMatch StiDeviceLink::lookupModel() const
{
    return infotool::lookupModel(vendorDescription(), deviceDescription());
}

bool StiDeviceLink::lock()
{
    if (!m_device || m_lockCount >= kMaxLocks)
        return true;
    if (!succeeded(m_device->LockDevice(kLockTimeoutMs)))
        return false;
    ++m_lockCount;
    return true;
}

bool StiDeviceLink::unlock()
{
    if (!m_device || m_lockCount == 0)
        return true;
    if (!succeeded(m_device->UnLockDevice()))
        return false;
    --m_lockCount;
    return true;
}

bool StiDeviceLink::getStatus(STI_DEVICE_STATUS& status)
{
    if (!m_device)
        return false;
    (void)lock();
    const HRESULT result = m_device->GetStatus(reinterpret_cast<uint8_t*>(&status));
    (void)unlock();
    return succeeded(result);
}

bool StiDeviceLink::escape(uint32_t code, uint8_t* block, uint32_t blockSize, uint8_t* buffer,
                           uint32_t bufferSize, uint32_t* actual)
{
    if (!m_device)
        return false;
    (void)lock();
    const HRESULT result = m_device->Escape(code, block, blockSize, buffer, bufferSize, actual);
    (void)unlock();
    return succeeded(result);
}

void StiDeviceLink::close()
{
    if (m_lockCount != 0 && m_device) {
        uint32_t release[4] = {16, kReleaseKind, 0, 0};
        (void)m_device->Escape(0, reinterpret_cast<uint8_t*>(release), sizeof release, nullptr,
                               0, nullptr);
        m_lockCount = 0;
    }
    m_device.reset();
    if (m_deviceList != nullptr) {
        lumarc_LocalFree(m_deviceList);
        m_deviceList = nullptr;
    }
    m_instance.reset();
}

bool StiDeviceLink::execute(const ScsiCommand& command)
{
    VexEmEscapeResult result{};
    VexEmEscapeBlock block{};
    block.blockSize = kEscapeBlockSize;
    block.kind = VEXEM_ESCAPE_SCSI;
    block.cdbLength = command.cdbLength;
    block.dataLength = static_cast<uint32_t>(command.data.size());
    block.data = command.data.data();
    block.result = &result;
    std::memcpy(block.cdb, command.cdb.data(), command.cdb.size());
    uint32_t actual = 0;
    const bool escaped = escape(static_cast<uint32_t>(command.code),
                                reinterpret_cast<uint8_t*>(&block), kEscapeBlockSize,
                                command.escapeOut, command.escapeOutLength, &actual);
    if (!escaped)
        return false;
    if (result.status != SS_COMP) {
        char line[96];
        std::snprintf(line, sizeof line,
                      "(Gaugery) command %02X: status 0x%02X, SCSI status 0x%02X, sense key %u\n",
                      command.cdb[0], result.status, result.scsiStatus, result.sense[2] & 0x0F);
        debugOutput(line);
        return false;
    }
    return true;
}

bool StiDeviceLink::usable()
{
    STI_DEVICE_STATUS status{};
    status.dwSize = sizeof status;
    status.StatusMask = STI_DEVSTATUS_ONLINE_STATE;
    return getStatus(status) && (status.dwOnlineState & 1) != 0;
}

} // namespace lumarc::infotool
