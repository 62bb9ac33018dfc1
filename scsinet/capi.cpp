// The three ASPI exports, and the library's load and unload.
#include "aspi.h"

#include "aspi_library.h"

extern "C" {

uint32_t GetASPI32SupportInfo(void)
{
    try {
        return lumarc::scsinet::supportInfo(nullptr);
    } catch (...) {
        return 0xE400;
    }
}

uint32_t GetASPI32SupportInfo2(const char* unit)
{
    try {
        return lumarc::scsinet::supportInfo(unit != nullptr ? unit : "");
    } catch (...) {
        return 0xE400;
    }
}

uint32_t SendASPI32Command(void* srb)
{
    try {
        return lumarc::scsinet::sendCommand(static_cast<SRB_ExecSCSICmd*>(srb));
    } catch (...) {
        return SS_ASPI_IS_BUSY;
    }
}

} // extern "C"
