// The sti subcommands of lumarc.
#include "sti_command.h"

#include "cli.h"
#include "lumarc_command.h"

#include "platform/com.h"
#include "platform/memory_block.h"
#include "platform/text_encoding.h"
#include "scsinet/aspi.h"
#include "stidev/quentysti.h"

#include <cstdio>
#include <cstring>
#include <ostream>

namespace lumarc::tools {
namespace {

using namespace platform;

constexpr uint32_t kDeviceModeStatusAndData = 3;
constexpr uint32_t kLockTimeoutMs = 2000;
constexpr uint32_t kInquiryLength = 96;
constexpr uint8_t kInquiryCdb[] = {0x12, 0x00, 0x00, 0x00, kInquiryLength, 0x00};
// The scanner information tool's execute blocks carry ten CDB bytes.
constexpr uint32_t kToolBlockSize = offsetof(VexEmEscapeBlock, cdb) + 10;

std::string hex(uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string wide(const char16_t* text)
{
    return text != nullptr ? wideToAnsi(text) : std::string();
}

std::string statusName(uint32_t status)
{
    switch (status) {
    case 0x01:
        return "completed";
    case 0x04:
        return "SCSI error";
    case VEXEM_STATUS_BUSY:
        return "scanner busy";
    case 0x82:
        return "no such device";
    case 0xE0:
        return "invalid request";
    case 0xE4:
        return "no answer in time";
    case 0xE5:
        return "transport failure";
    case 0xE6:
        return "data too long";
    case VEXEM_STATUS_NOT_ISSUED:
        return "not issued";
    default:
        return "unknown";
    }
}

// A field of the INQUIRY data, trailing blanks and NULs removed.
std::string inquiryField(const uint8_t* data, size_t at, size_t width)
{
    std::string text(reinterpret_cast<const char*>(data) + at, width);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}


// A failed call, said with its result code and what it means.
int failed(std::ostream& err, const std::string& what, HRESULT result)
{
    err << "lumarc: " << what << " failed: " << hex(static_cast<uint32_t>(result), 8) << " ("
        << hresultText(result) << ")\n";
    if (result == REGDB_E_CLASSNOTREG)
        err << "(register the server first: lumarc-regsvr libquentysti.so)\n";
    else if (result == E_FAIL)
        err << "(the transport did not start for the current unit; LUMARC_DEBUG=1 says why)\n";
    return kLumarcFailed;
}

void printRecord(const STI_DEVICE_INFORMATIONW& record, bool json, std::ostream& out)
{
    const std::string internal = wideToAnsi(std::u16string_view(
        record.szDeviceInternalName,
        std::char_traits<char16_t>::length(record.szDeviceInternalName)));
    if (json) {
        out << "{\"count\":1,\"devices\":[{\"internalName\":" << jsonString(internal)
            << ",\"deviceType\":" << record.DeviceType
            << ",\"capabilities\":" << record.DeviceCapabilities.dwGeneric
            << ",\"hardwareConfiguration\":" << record.dwHardwareConfiguration
            << ",\"vendor\":" << jsonString(wide(record.pszVendorDescription))
            << ",\"description\":" << jsonString(wide(record.pszDeviceDescription))
            << ",\"port\":" << jsonString(wide(record.pszPortName))
            << ",\"propertyProvider\":" << jsonString(wide(record.pszPropProvider))
            << ",\"localName\":" << jsonString(wide(record.pszLocalName)) << "}]}\n";
        return;
    }
    out << "Device 1 of 1\n"
        << "  Internal name:      " << internal << "\n"
        << "  Type:               " << hex(record.DeviceType, 8) << " (scanner)\n"
        << "  Capabilities:       " << hex(record.DeviceCapabilities.dwGeneric, 8) << "\n"
        << "  Hardware:           " << record.dwHardwareConfiguration
        << (record.dwHardwareConfiguration == 4 ? " (USB)" : "") << "\n"
        << "  Vendor:             " << wide(record.pszVendorDescription) << "\n"
        << "  Description:        " << wide(record.pszDeviceDescription) << "\n"
        << "  Port:               " << wide(record.pszPortName) << "\n"
        << "  Property provider:  " << wide(record.pszPropProvider) << "\n"
        << "  Local name:         " << wide(record.pszLocalName) << "\n";
}

int inquiry(IVexEmStiMgr& manager, const STI_DEVICE_INFORMATIONW& record, bool json,
            std::ostream& out, std::ostream& err)
{
    ComPtr<IVexEmStiDev> device;
    char16_t name[STI_MAX_INTERNAL_NAME_LENGTH];
    std::memcpy(name, record.szDeviceInternalName, sizeof name);
    if (const HRESULT opened = manager.CreateDevice(name, kDeviceModeStatusAndData, device.put(),
                                                    nullptr);
        opened != S_OK)
        return failed(err, "opening the device", opened);

    uint8_t reply[kInquiryLength] = {};
    VexEmEscapeResult result{};
    VexEmEscapeBlock block{};
    block.blockSize = kToolBlockSize;
    block.kind = VEXEM_ESCAPE_SCSI;
    block.cdbLength = sizeof kInquiryCdb;
    block.dataLength = kInquiryLength;
    block.data = reply;
    block.result = &result;
    std::memcpy(block.cdb, kInquiryCdb, sizeof kInquiryCdb);
    uint32_t actual = 0;
    (void)device->LockDevice(kLockTimeoutMs);
    const HRESULT escaped = device->Escape(VEXEM_ESCAPE_DATA_IN, reinterpret_cast<uint8_t*>(&block),
                                           kToolBlockSize, reply, kInquiryLength, &actual);
    (void)device->UnLockDevice();
    if (!succeeded(escaped))
        return failed(err, "the INQUIRY escape", escaped);

    const bool good = result.status == SS_COMP;
    std::string sense, senseJson;
    for (const uint8_t byte : result.sense) {
        char two[4];
        std::snprintf(two, sizeof two, sense.empty() ? "%02X" : " %02X", byte);
        senseJson += (sense.empty() ? "" : ",") + std::to_string(byte);
        sense += two;
    }
    const std::string vendor = good ? inquiryField(reply, 8, 8) : "";
    const std::string product = good ? inquiryField(reply, 16, 16) : "";
    const std::string revision = good ? inquiryField(reply, 32, 4) : "";
    if (json) {
        out << "{\"vendor\":" << jsonString(vendor) << ",\"product\":" << jsonString(product)
            << ",\"revision\":" << jsonString(revision) << ",\"status\":" << result.status
            << ",\"scsiStatus\":" << result.scsiStatus
            << ",\"hostAdapterStatus\":" << result.hostAdapterStatus << ",\"sense\":["
            << senseJson << "]}\n";
    } else {
        out << "INQUIRY of " << wide(record.pszDeviceDescription) << " through Escape\n"
            << "  Vendor:             " << vendor << "\n"
            << "  Product:            " << product << "\n"
            << "  Revision:           " << revision << "\n"
            << "  Escape status:      " << hex(result.status, 2) << " (" << statusName(result.status)
            << ")\n"
            << "  SCSI status:        " << hex(result.scsiStatus, 2) << "\n"
            << "  Host adapter:       " << hex(result.hostAdapterStatus, 2) << "\n"
            << "  Sense:              " << sense << "\n";
    }
    return good ? kLumarcOk : kLumarcFailed;
}

} // namespace

int runSti(const std::vector<std::string>& words, bool json, std::ostream& out, std::ostream& err)
{
    if (words.size() != 2 || (words[1] != "list" && words[1] != "inquiry")) {
        err << "lumarc: sti takes list or inquiry\n(lumarc --help shows the usage)\n";
        return kLumarcUsage;
    }
    ComScope com;
    ComPtr<IVexEmStiMgr> manager;
    if (const HRESULT created = createInstance(CLSID_VexEmStiObj, nullptr, clsctx::kAll,
                                               IID_IVexEmStiMgr, manager.putVoid());
        created != S_OK)
        return failed(err, "creating the still-image device object", created);

    uint32_t count = 0;
    uint8_t* records = nullptr;
    if (const HRESULT listed = manager->GetDeviceList(0, 0, &count, &records); listed != S_OK)
        return failed(err, "reading the device list", listed);
    const auto& record = *reinterpret_cast<const STI_DEVICE_INFORMATIONW*>(records);
    int code = kLumarcOk;
    if (words[1] == "list")
        printRecord(record, json, out);
    else
        code = inquiry(*manager.get(), record, json, out, err);
    lumarc_LocalFree(records); // the caller frees the record
    return code;
}

} // namespace lumarc::tools
