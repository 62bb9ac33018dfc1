// QuentySti: the still-image device server (libquentysti.so).
//
// An in-process COM server with one class, VexEmStiObj. Its object serves
// the scanner of the current Lumarc unit ([Common] Current of the shared
// settings file) as one still-image device: the manager face
// IVexEmStiMgr lists and describes the device and hands out the device face
// IVexEmStiDev of the same object, whose Escape carries one SCSI command to
// the scanner through the network SCSI transport (libdrovik32.so, loaded at
// run time as "DROVIK32.dll"). LockDevice and UnLockDevice post 0x8200 and
// 0x8201 to the event module's window "Kicklet" when it exists.
//
// Clients create the object through COM by its class id (after the library
// was registered with lumarc-regsvr), or with StiCreateInstanceP. Every
// object of a process shares one transport binding, made by the first
// object and kept while any object lives.
//
// Built-in defaults when the current unit's section lacks them:
//   IP       "127.0.0.2", a simulated unit on this machine (the transport's
//            own default), never a guess on the user's network;
//   Scanner  "ORBIX-4000", the model the simulated unit carries by default.
//
// Escape waits at most 90 seconds for the transport; tests (and only tests)
// shorten that with the environment variable LUMARC_ESCAPE_TIMEOUT_MS.
//
// Exports (by name; the library has no ordinals): DllCanUnloadNow,
// DllGetClassObject, DllRegisterServer, DllUnregisterServer,
// StiCreateInstanceP.
#pragma once

#include "platform/com.h"
#include "platform/guid.h"

#include <cstddef>
#include <cstdint>

// Identifiers.
inline constexpr lumarc::platform::Guid CLSID_VexEmStiObj = lumarc::platform::makeGuid(
    0xF5AF303F, 0x27D3, 0x4D25, {0x89, 0x94, 0xA5, 0x7A, 0xE0, 0xAB, 0x12, 0x8A});
inline constexpr lumarc::platform::Guid IID_IVexEmStiMgr = lumarc::platform::makeGuid(
    0x3E4AB7A0, 0x3554, 0x49EA, {0x9E, 0x7F, 0xB4, 0x1F, 0x9D, 0x4A, 0xF4, 0x97});
inline constexpr lumarc::platform::Guid IID_IVexEmStiDev = lumarc::platform::makeGuid(
    0x3FCE16C6, 0x1CD6, 0x4FA7, {0x9E, 0xF5, 0x29, 0x5F, 0x03, 0xB4, 0xEE, 0x3F});
inline constexpr lumarc::platform::Guid LIBID_VEXEMSTILib = lumarc::platform::makeGuid(
    0xBFB624CC, 0x6830, 0x4CA3, {0x81, 0xAA, 0xB7, 0x8D, 0x12, 0xD4, 0x00, 0xA8});
inline constexpr const char* kVexEmStiProgId = "VexEmSti.VexEmStiObj.1";
inline constexpr const char* kVexEmStiVersionIndependentProgId = "VexEmSti.VexEmStiObj";

// The still-image records, in the platform's published layouts (natural
// alignment; on 64-bit builds the pointers widen and the record grows).
constexpr size_t STI_MAX_INTERNAL_NAME_LENGTH = 128;

struct STI_DEV_CAPS {
    uint32_t dwGeneric;
};

struct STI_DEVICE_INFORMATIONW {
    uint32_t dwSize;     // the size of this record on this build
    uint32_t DeviceType; // high word: type (1 scanner), low word: subtype
    char16_t szDeviceInternalName[STI_MAX_INTERNAL_NAME_LENGTH];
    STI_DEV_CAPS DeviceCapabilities;
    uint32_t dwHardwareConfiguration;
    char16_t* pszVendorDescription;
    char16_t* pszDeviceDescription;
    char16_t* pszPortName;
    char16_t* pszPropProvider;
    char16_t* pszLocalName;
};
static_assert(offsetof(STI_DEVICE_INFORMATIONW, szDeviceInternalName) == 8);
static_assert(offsetof(STI_DEVICE_INFORMATIONW, DeviceCapabilities) == 264);
static_assert(offsetof(STI_DEVICE_INFORMATIONW, dwHardwareConfiguration) == 268);
static_assert(offsetof(STI_DEVICE_INFORMATIONW, pszVendorDescription) == 272);
static_assert(sizeof(void*) != 4 || sizeof(STI_DEVICE_INFORMATIONW) == 292);
static_assert(sizeof(void*) != 8 || sizeof(STI_DEVICE_INFORMATIONW) == 312);

// The head of a status record: GetStatus reads StatusMask and may write
// dwOnlineState; the scanner information tool passes 24 bytes.
struct STI_DEVICE_STATUS {
    uint32_t dwSize;
    uint32_t StatusMask;
    uint32_t dwOnlineState;
    uint32_t dwHardwareStatusCode;
    uint32_t dwVendorStatusCode;
    uint32_t dwPollingInterval;
};
static_assert(sizeof(STI_DEVICE_STATUS) == 24);

constexpr uint32_t STI_DEVSTATUS_ONLINE_STATE = 0x1;
constexpr uint32_t STI_ONLINESTATE_OPERATIONAL = 0x1;

// The escape block of Escape and the result record it points at, packed as
// the caller lays them out. Only the CDB's first cdbLength bytes are read.
#pragma pack(push, 1)
struct VexEmEscapeResult {
    uint32_t status;            // final ASPI status; 5 for SCSI BUSY; 0xFF: not issued
    uint16_t scsiStatus;        // SRB_TargStat
    uint16_t hostAdapterStatus; // SRB_HaStat; 0x0B after Escape's own time-out
    uint8_t sense[18];
};
struct VexEmEscapeBlock {
    uint32_t blockSize; // not read
    uint32_t kind;      // VEXEM_ESCAPE_SCSI; any other kind does nothing
    uint16_t cdbLength; // 1 to 16
    uint32_t dataLength;        // data-out length, escape code 2 only
    uint8_t* data;              // data-out buffer, escape code 2 only
    VexEmEscapeResult* result;  // written for kind VEXEM_ESCAPE_SCSI
    uint8_t cdb[16];
};
#pragma pack(pop)
static_assert(sizeof(VexEmEscapeResult) == 26);
static_assert(offsetof(VexEmEscapeResult, scsiStatus) == 4);
static_assert(offsetof(VexEmEscapeResult, hostAdapterStatus) == 6);
static_assert(offsetof(VexEmEscapeResult, sense) == 8);
static_assert(offsetof(VexEmEscapeBlock, kind) == 4);
static_assert(offsetof(VexEmEscapeBlock, cdbLength) == 8);
static_assert(offsetof(VexEmEscapeBlock, dataLength) == 10);
static_assert(offsetof(VexEmEscapeBlock, data) == 14);
static_assert(sizeof(void*) != 4 || offsetof(VexEmEscapeBlock, result) == 18);
static_assert(sizeof(void*) != 4 || offsetof(VexEmEscapeBlock, cdb) == 22);
static_assert(sizeof(void*) != 8 || offsetof(VexEmEscapeBlock, cdb) == 30);

constexpr uint32_t VEXEM_ESCAPE_SCSI = 2;        // the block's kind
constexpr uint32_t VEXEM_ESCAPE_DATA_IN = 1;     // escape code: data from the scanner
constexpr uint32_t VEXEM_ESCAPE_DATA_OUT = 2;    // escape code: data to the scanner
constexpr uint32_t VEXEM_STATUS_BUSY = 5;        // result status for SCSI status BUSY
constexpr uint32_t VEXEM_STATUS_NOT_ISSUED = 0xFF;

class IVexEmStiDev;

// The manager face: the class's default interface. Every method returns an
// HRESULT; null output pointers give E_POINTER.
class IVexEmStiMgr : public lumarc::platform::IUnknown {
public:
    using HRESULT = lumarc::platform::HRESULT;
    virtual HRESULT Initialize(uint8_t* instance, uint32_t version) = 0;                   // 3
    // *count := 1, *records := a new device record, freed with lumarc_LocalFree.
    virtual HRESULT GetDeviceList(uint32_t type, uint32_t flags, uint32_t* count,
                                  uint8_t** records) = 0;                                    // 4
    // *record := a new device record, whatever the name.
    virtual HRESULT GetDeviceInfo(char16_t* name, uint8_t** record) = 0;                    // 5
    // *device := this object's device face, with one reference added.
    virtual HRESULT CreateDevice(char16_t* name, uint32_t mode, IVexEmStiDev** device,
                                 lumarc::platform::IUnknown* outer) = 0;                    // 6
    virtual HRESULT GetDeviceValue(char16_t* name, char16_t* valueName, uint32_t* type,
                                   uint8_t* data, uint32_t* size) = 0;                      // 7
    virtual HRESULT SetDeviceValue(char16_t* name, char16_t* valueName, uint32_t type,
                                   uint8_t* data, uint32_t size) = 0;                       // 8
    virtual HRESULT GetSTILaunchInformation(char16_t* name, uint32_t* eventCode,
                                            char16_t* eventName) = 0;                       // 9
    virtual HRESULT RegisterLaunchApplication(char16_t* application, char16_t* commandLine) = 0;
    virtual HRESULT UnregisterLaunchApplication(char16_t* application) = 0;                 // 11
    virtual HRESULT EnableHwNotifications(char16_t* name, int32_t enable) = 0;              // 12
    virtual HRESULT GetHwNotificationState(char16_t* name, int32_t* enabled) = 0;           // 13
    virtual HRESULT LaunchApplicationForDevice(char16_t* name, char16_t* application,
                                               uint8_t* notification) = 0;                  // 14
    virtual HRESULT SetupDeviceParameters(uint8_t* record) = 0;                             // 15
    virtual HRESULT WriteToErrorLog(uint32_t messageType, char16_t* message) = 0;           // 16

protected:
    ~IVexEmStiMgr() = default;
};

// The device face.
class IVexEmStiDev : public lumarc::platform::IUnknown {
public:
    using HRESULT = lumarc::platform::HRESULT;
    virtual HRESULT Initialize(uint8_t* instance, char16_t* name, uint32_t version,
                               uint32_t mode) = 0;                                          // 3
    virtual HRESULT GetCapabilities(uint8_t* capabilities) = 0;                             // 4
    // With StatusMask exactly STI_DEVSTATUS_ONLINE_STATE: dwOnlineState := operational.
    virtual HRESULT GetStatus(uint8_t* status) = 0;                                         // 5
    virtual HRESULT DeviceReset() = 0;                                                      // 6
    virtual HRESULT Diagnostic(uint8_t* result) = 0;                                        // 7
    // One SCSI command (a VexEmEscapeBlock of kind VEXEM_ESCAPE_SCSI); the
    // outcome goes to the block's result record. Blocks for at most the
    // escape time-out. S_OK, or E_POINTER for a null block or result pointer.
    virtual HRESULT Escape(uint32_t code, uint8_t* block, uint32_t blockSize, uint8_t* out,
                           uint32_t outSize, uint32_t* actual) = 0;                         // 8
    virtual HRESULT GetLastError(uint32_t* error) = 0;                                      // 9
    // Post 0x8200 / 0x8201 to the window "Kicklet" when it exists; never wait.
    virtual HRESULT LockDevice(uint32_t timeout) = 0;                                       // 10
    virtual HRESULT UnLockDevice() = 0;                                                     // 11
    virtual HRESULT RawReadData(uint8_t* buffer, uint32_t* size, uint8_t* overlapped) = 0;  // 12
    virtual HRESULT RawWriteData(uint8_t* buffer, uint32_t size, uint8_t* overlapped) = 0;  // 13
    virtual HRESULT RawWriteCommand(uint8_t* buffer, uint32_t size, uint8_t* overlapped) = 0;
    virtual HRESULT Subscribe(uint8_t* request) = 0;                                        // 15
    virtual HRESULT GetLastNotificationData(uint8_t* notification) = 0;                     // 16
    virtual HRESULT UnSubscribe() = 0;                                                      // 17
    virtual HRESULT GetLastErrorInfo(uint8_t* info) = 0;                                    // 18

protected:
    ~IVexEmStiDev() = default;
};

extern "C" {
// The standard exports of an in-process server.
lumarc::platform::HRESULT DllGetClassObject(const lumarc::platform::Guid* clsid,
                                            const lumarc::platform::Guid* iid, void** out);
lumarc::platform::HRESULT DllCanUnloadNow(void);
lumarc::platform::HRESULT DllRegisterServer(void);
lumarc::platform::HRESULT DllUnregisterServer(void);

// Creates the class through COM (any server context, no outer object) for
// IVexEmStiMgr; instance, version and outer are ignored. The calling thread
// must have initialised COM.
lumarc::platform::HRESULT StiCreateInstanceP(void* instance, uint32_t version,
                                             IVexEmStiMgr** out,
                                             lumarc::platform::IUnknown* outer);
}
