/* Zorvan: the Lumarc unit management library (libzorvan.so).
 *
 * The only code that speaks the management protocol: every command of a
 * unit over one TCP connection per command to its port 10002, the ICMP echo,
 * and (with a notification window) the trigger-port listener.
 *
 * Call Zorvan_Startup once per process before any other export and
 * Zorvan_Cleanup at the end, from the same thread. Every unit-addressed
 * export blocks its caller for the whole exchange; exports may be called
 * from several threads at once.
 *
 * Results (uint32_t unless shown otherwise): 0 success; 1 the unit is
 * neither dotted IPv4 nor a resolvable host name (no traffic); 0x80000004
 * the exchange failed once connected (greeting refused 12 times, send or
 * receive error, transfer time-out, reply shorter than its header); a
 * Windows Sockets code when no connection could be made (10061 refused,
 * 10060 timed out, ...); any other value is the unit's status word.
 * Outputs are written only as each export describes.
 *
 * Ordinals of the Windows interface:
 *    3 Zorvan_WriteFlash        18 Zorvan_ReadFlash        44 Zorvan_OT_LcdLightTest
 *    4 Zorvan_SendMsg           30 Zorvan_SearchBox        45 Zorvan_OT_OpepaneTest
 *    5 Zorvan_SetAdmin          31 Zorvan_SearchBoxAll     46 Zorvan_OT_FpStatus
 *    6 Zorvan_GetScanInfo       32 Zorvan_FreeSearchBoxAll 47 Zorvan_MaintenanceMode
 *    7 Zorvan_GetNetInfo        40 Zorvan_OT_LanSpeed      48 Zorvan_EchoRequests
 *    8 Zorvan_SetNetInfo        41 Zorvan_OT_GetFpImage    49 Zorvan_OT_InitDevice
 *    9 Zorvan_GetFirmInfo       42 Zorvan_OT_GetFpSnsTest  50 Zorvan_OT_Devinfo
 *   10 Zorvan_GetName           43 Zorvan_OT_LcdTest       51 Zorvan_ScannerInfoMode
 *   11 Zorvan_SetName                                      52 Zorvan_Apl_Report
 *   12 Zorvan_GetUserList       15 Zorvan_UserEntry
 *   13 Zorvan_GetAllUser        16 Zorvan_AdminUserEntry
 *   14 Zorvan_PutAllUser        17 Zorvan_OT_SetTestMode
 */
#ifndef LUMARC_MGMT_ZORVAN_H
#define LUMARC_MGMT_ZORVAN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uintptr_t ZorvanWindow; /* a platform message window handle, 0 = none */

#pragma pack(push, 1)
typedef struct UnitNameRecord {
    uint32_t triggerPort; /* passed through unchanged */
    char name[48];
} UnitNameRecord; /* 52 */

typedef struct NetInfoRecord {
    uint32_t address; /* network byte order (first octet in the first byte) */
    uint32_t subnetMask, gateway, primaryDns, secondaryDns; /* number form: first octet most
                                                                significant */
    uint8_t mac[6];
    uint8_t unused1[2];
    char addressText[16]; /* dotted text written by the library */
    uint8_t unused2[240];
} NetInfoRecord; /* 284 */

typedef struct ButtonEvent {
    uint32_t address; /* network byte order */
    uint8_t zero[8];
    uint32_t flags;
    char scannerModel[16];
    char userName[32];
} ButtonEvent; /* 64 */
#pragma pack(pop)

typedef struct UnitNode { /* natural alignment; 1068 bytes on a 32-bit build */
    struct UnitNode* next; /* in place of the reply's magic */
    uint32_t address;      /* number form, first octet most significant; 0 ends the list */
    uint8_t mac[6];
    uint8_t unused1[2];
    char name[44];
    uint8_t busy;
    uint8_t unused2[3];
    uint32_t scannerPresent;
    uint8_t inquiry[1000];
} UnitNode;

/* Fixed buffer sizes of the exports. */
#define ZORVAN_FIRMINFO_SIZE 32
#define ZORVAN_INQUIRY_SIZE 256
#define ZORVAN_SECOND_BLOCK_SIZE 1764
#define ZORVAN_USERLIST_SIZE 9216
#define ZORVAN_USER_RECORD_SIZE 288
#define ZORVAN_USER_SLOTS 32
#define ZORVAN_USERDB_BUFFER_SIZE 344320
#define ZORVAN_USERDB_SEND_SIZE 344080
#define ZORVAN_LCD_VALUES 256
#define ZORVAN_FP_IMAGE_SIZE 76800
#define ZORVAN_FP_SNSTEST_SIZE 921648
#define ZORVAN_DEVINFO_SIZE 12

/* Result codes of the library. */
#define ZORVAN_OK 0u
#define ZORVAN_UNRESOLVABLE 1u
#define ZORVAN_E_DISCOVERY_RECEIVE 0x80000000u
#define ZORVAN_E_NO_HOSTNAME 0x80000001u
#define ZORVAN_E_HOSTNAME_UNRESOLVED 0x80000002u
#define ZORVAN_E_EXCHANGE 0x80000004u
#define ZORVAN_E_BROADCAST_OPTION 0x80000005u
#define ZORVAN_E_DISCOVERY_SEND 0x80000006u
#define ZORVAN_E_EVENT_OBJECT 0x80000007u
#define ZORVAN_E_DISCOVERY_WAIT 0x08000007u
#define ZORVAN_E_EVENT_SELECT 0x80000008u
#define ZORVAN_NO_UNIT_ANSWERED 0x40000001u

/* Unit status words the tools interpret. */
#define ZORVAN_STATUS_TABLE_FULL 0x80u
#define ZORVAN_STATUS_NAME_TAKEN 0x81u
#define ZORVAN_STATUS_WRONG_PIN 0x84u
#define ZORVAN_STATUS_IN_MAINTENANCE 0x400u
#define ZORVAN_STATUS_TIMEOUT 0x500u
#define ZORVAN_STATUS_BUSY 0x800u

int32_t Zorvan_Startup(ZorvanWindow window, uint32_t message);
int32_t Zorvan_Cleanup(void);

uint32_t Zorvan_SendMsg(const char* unit, uint32_t unused, const char* text, uint32_t length);
uint32_t Zorvan_SetAdmin(const char* unit, const char* adminName, const char* pin,
                         const char* newAdminName, const char* newPin);
uint32_t Zorvan_GetScanInfo(const char* unit, uint32_t* scanner, uint32_t* inquiryLength,
                            uint32_t* secondLength, uint8_t* inquiry /*256*/,
                            uint8_t* second /*1764*/);
uint32_t Zorvan_GetNetInfo(const char* unit, NetInfoRecord* out);
uint32_t Zorvan_SetNetInfo(const char* unit, const char* adminName, const char* pin,
                           const uint32_t* words /*5*/);
uint32_t Zorvan_GetFirmInfo(const char* unit, char* out /*32*/, uint32_t unused);
uint32_t Zorvan_GetName(const char* unit, UnitNameRecord* out);
uint32_t Zorvan_SetName(const char* unit, const char* adminName, const char* pin,
                        const UnitNameRecord* in);
uint32_t Zorvan_GetUserList(const char* unit, const char* adminName, const char* pin,
                            uint8_t* out /*9216*/);
uint32_t Zorvan_GetAllUser(const char* unit, const char* adminName, const char* pin,
                           const char* key, uint8_t* out /*344320*/, uint32_t unused);
uint32_t Zorvan_PutAllUser(const char* unit, const char* adminName, const char* pin,
                           const char* key, const uint8_t* block /*344320*/, uint32_t unused);
uint32_t Zorvan_UserEntry(const char* unit, const char* user, const char* pin, const char* newPin,
                          const char* host /*may be NULL*/, uint32_t mode);
uint32_t Zorvan_AdminUserEntry(const char* unit, const char* user, const char* pin,
                               const char* host /*may be NULL*/, const char* unused,
                               const char* adminPin, uint32_t mode);
uint32_t Zorvan_OT_SetTestMode(const char* unit, uint32_t flag);
uint32_t Zorvan_ReadFlash(const char* unit, const char* adminName, const char* pin,
                          uint32_t target, uint32_t length, uint8_t* out);
uint32_t Zorvan_WriteFlash(const char* unit, const char* adminName, const char* pin,
                           uint32_t target, uint32_t length, const uint8_t* data);
uint32_t Zorvan_SearchBox(uint32_t* address /*network byte order*/);
UnitNode* Zorvan_SearchBoxAll(void);
void Zorvan_FreeSearchBoxAll(UnitNode* head);
uint32_t Zorvan_OT_LanSpeed(const char* unit, uint32_t length, const uint8_t* data,
                            int32_t* milliseconds);
uint32_t Zorvan_OT_GetFpImage(const char* unit, uint8_t* out /*76800*/);
uint32_t Zorvan_OT_GetFpSnsTest(const char* unit, uint8_t* out /*921648*/);
uint32_t Zorvan_OT_LcdTest(const char* unit, const uint32_t* values /*256*/);
uint32_t Zorvan_OT_LcdLightTest(const char* unit, uint32_t value);
uint32_t Zorvan_OT_OpepaneTest(const char* unit, uint32_t key, uint8_t* out /*1*/);
uint32_t Zorvan_OT_FpStatus(const char* unit);
uint32_t Zorvan_MaintenanceMode(const char* unit, const char* adminName, const char* pin,
                                uint32_t flag);
uint32_t Zorvan_EchoRequests(const char* unit, int32_t* timeoutInOutTime /*may be NULL*/);
uint32_t Zorvan_OT_InitDevice(const char* unit, const char* adminName, const char* pin);
uint32_t Zorvan_OT_Devinfo(const char* unit, const char* adminName, const char* pin,
                           const uint8_t* data /*12*/);
uint32_t Zorvan_ScannerInfoMode(const char* unit, uint32_t flag);
uint32_t Zorvan_Apl_Report(const char* unit, uint32_t code);

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(UnitNameRecord) == 52);
static_assert(offsetof(UnitNameRecord, name) == 4);
static_assert(sizeof(NetInfoRecord) == 284);
static_assert(offsetof(NetInfoRecord, subnetMask) == 4);
static_assert(offsetof(NetInfoRecord, secondaryDns) == 16);
static_assert(offsetof(NetInfoRecord, mac) == 20);
static_assert(offsetof(NetInfoRecord, addressText) == 28);
static_assert(offsetof(NetInfoRecord, unused2) == 44);
static_assert(sizeof(ButtonEvent) == 64);
static_assert(offsetof(ButtonEvent, flags) == 12);
static_assert(offsetof(ButtonEvent, scannerModel) == 16);
static_assert(offsetof(ButtonEvent, userName) == 32);
static_assert(sizeof(void*) != 4 || sizeof(UnitNode) == 1068);
static_assert(sizeof(void*) != 4 || offsetof(UnitNode, name) == 16);
static_assert(sizeof(void*) != 4 || offsetof(UnitNode, inquiry) == 68);
#endif

#endif /* LUMARC_MGMT_ZORVAN_H */
