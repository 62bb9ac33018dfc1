/* Drovik32: the network SCSI transport (libdrovik32.so).
 *
 * Presents the scanner attached to one Lumarc unit as SCSI target 5 behind
 * one ASPI host adapter. Each execute request travels as one tunnel request
 * and one tunnel reply over one TCP connection to the unit's port 10001,
 * opened by the first support-info call and kept while the library is loaded.
 *
 * Requests run one at a time on a worker thread of the library; completion
 * is signalled by an eventfd (SRB_EVENT_NOTIFY: SRB_PostProc holds the
 * descriptor cast through intptr_t, and 1 is written to it), by a routine
 * (SRB_POSTING: called with the block's address on the worker thread), or
 * not at all (the caller polls SRB_Status). A request block belongs to its
 * caller and must stay valid until its completion.
 */
#ifndef LUMARC_SCSINET_ASPI_H
#define LUMARC_SCSINET_ASPI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* SRB_Cmd */
#define SC_HA_INQUIRY 0x00
#define SC_GET_DEV_TYPE 0x01
#define SC_EXEC_SCSI_CMD 0x02
#define SC_ABORT_SRB 0x03
#define SC_RESET_DEV 0x04
#define SC_SET_HA_PARMS 0x05
#define SC_GET_DISK_INFO 0x06

/* SRB_Status and the status byte of the support word */
#define SS_PENDING 0x00
#define SS_COMP 0x01
#define SS_ERR 0x04
#define SS_NO_DEVICE 0x82
#define SS_INVALID_SRB 0xE0
#define SS_FAILED_INIT 0xE4
#define SS_ASPI_IS_BUSY 0xE5
#define SS_BUFFER_TO_BIG 0xE6

/* SRB_Flags */
#define SRB_POSTING 0x01
#define SRB_DIR_IN 0x08
#define SRB_DIR_OUT 0x10
#define SRB_EVENT_NOTIFY 0x40

/* The scanner's target ID and the most data one request may carry. */
#define DROVIK_TARGET_ID 5
#define DROVIK_MAX_DATA 524504u

#pragma pack(push, 1)
typedef struct SRB_ExecSCSICmd {
    uint8_t SRB_Cmd, SRB_Status, SRB_HaId, SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target, SRB_Lun;
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;
    uint8_t* SRB_BufPointer;
    uint8_t SRB_SenseLen, SRB_CDBLen, SRB_HaStat, SRB_TargStat;
    void* SRB_PostProc; /* completion routine void(*)(SRB_ExecSCSICmd*), or an eventfd
                           descriptor (cast through intptr_t) with SRB_EVENT_NOTIFY */
    void* SRB_Rsvd2;
    uint8_t SRB_Rsvd3[16];
    uint8_t CDBByte[16];
    uint8_t SenseArea[24];
} SRB_ExecSCSICmd; /* 88 bytes on a 32-bit build, 100 on 64-bit */
#pragma pack(pop)

uint32_t GetASPI32SupportInfo(void);
uint32_t GetASPI32SupportInfo2(const char* unit);
uint32_t SendASPI32Command(void* srb);

#ifdef __cplusplus
} /* extern "C" */

static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(sizeof(void*) != 4 || sizeof(SRB_ExecSCSICmd) == 88);
static_assert(sizeof(void*) != 4 || offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24);
static_assert(sizeof(void*) != 4 || offsetof(SRB_ExecSCSICmd, CDBByte) == 48);
static_assert(sizeof(void*) != 4 || offsetof(SRB_ExecSCSICmd, SenseArea) == 64);
static_assert(sizeof(void*) != 8 || sizeof(SRB_ExecSCSICmd) == 100);
#endif

#endif /* LUMARC_SCSINET_ASPI_H */
