// StiDeviceLink: the scanner of the selected unit through the still-image
// device server's own object, created by class id through COM.
//
// open creates VexEmStiObj and takes its device list, createDevice opens
// the list's first device, and every command after that is one Escape on
// the device face, bracketed by LockDevice and UnLockDevice. A command
// counts as done only when the escape result record reports SS_COMP: the
// server's Escape answers S_OK whatever became of the command.
//
// One per process, used on the thread that initialised COM; every call
// blocks until the server answers (at most its 90-second escape limit).
#pragma once

#include "model_table.h"
#include "scanner_commands.h"

#include "platform/com.h"
#include "stidev/quentysti.h"

#include <functional>
#include <string>

namespace lumarc::infotool {

class StiDeviceLink : public ScannerChannel {
public:
    // Creates the manager face; by default through COM by class id.
    using Creator = std::function<lumarc::platform::HRESULT(IVexEmStiMgr** out)>;

    explicit StiDeviceLink(Creator creator = {});
    ~StiDeviceLink() override; // close()
    StiDeviceLink(const StiDeviceLink&) = delete;
    StiDeviceLink& operator=(const StiDeviceLink&) = delete;

    // Creates the object (once) and takes its device list; true only when
    // both returned exactly S_OK.
    bool open();
    // Opens the first device of the list (mode 3); true when one is open.
    bool createDevice();
    // The model of the first device, from its vendor and device description.
    ModelMatch lookupModel() const;

    bool lock();
    bool unlock();
    // lock, GetStatus, unlock; true when a device exists and GetStatus
    // succeeded.
    bool getStatus(STI_DEVICE_STATUS& status);
    // lock, Escape, unlock; true when a device exists and Escape succeeded
    // (the lock's own result is not looked at).
    bool escape(uint32_t code, uint8_t* block, uint32_t blockSize, uint8_t* buffer,
                uint32_t bufferSize, uint32_t* actual);
    // Sends the release escape when a lock is still counted, then releases
    // the device, the device list and the object.
    void close();

    // The first device record's texts ("" before open).
    std::string vendorDescription() const;
    std::string deviceDescription() const;
    std::string localName() const;
    int lockCount() const { return m_lockCount; }
    bool hasDevice() const { return static_cast<bool>(m_device); }

    // ScannerChannel.
    bool execute(const ScsiCommand& command) override;
    // GetStatus of the online state: usable when it succeeded and bit 0 of
    // the online state is set.
    bool usable() override;

private:
    const STI_DEVICE_INFORMATIONW* record() const;

    Creator m_creator;
    lumarc::platform::ComPtr<IVexEmStiMgr> m_instance;
    lumarc::platform::ComPtr<IVexEmStiDev> m_device;
    uint8_t* m_deviceList = nullptr; // from GetDeviceList, freed with lumarc_LocalFree
    int m_lockCount = 0;
};

} // namespace lumarc::infotool
