// The SANE 1.0 entry points. The SANE dll loader finds them by the backend's
// name (sane_lumarc_init, ...); lumarc.map exports exactly these.
//
// The transport serves one unit per process, so a process has at most one
// unit open at a time, and the device list asks a scanner for its identity
// only while none is open (otherwise it shows what it learnt before).
#include "backend.h"

#include "config.h"
#include "debug_log.h"
#include "device.h"
#include "device_list.h"

#include "shared/settings_file.h"

#include <algorithm>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace lumarc::sane {
namespace {

constexpr SANE_Int kBuild = 1;

struct ListedDevice {
    std::string name;
    DeviceFacts facts;
    SANE_Device device{};
};

// What the frontend was given last: valid until the next listing or exit.
std::vector<std::unique_ptr<ListedDevice>> g_listed;
std::vector<const SANE_Device*> g_list;
// What each scanner said about itself, for listings while a unit is open.
std::map<std::string, DeviceFacts> g_facts;
std::vector<std::unique_ptr<Device>> g_open;

Device* deviceOf(SANE_Handle handle)
{
    for (const auto& device : g_open)
        if (device.get() == handle)
            return device.get();
    return nullptr;
}

// Runs an entry point's body; a failed allocation is the status SANE has for it.
template <typename Body> SANE_Status guarded(const char* entry, Body&& body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        debugLine(debug::kError, "%s: out of memory", entry);
        return SANE_STATUS_NO_MEM;
    } catch (const std::exception& e) {
        debugLine(debug::kError, "%s: %s", entry, e.what());
        return SANE_STATUS_IO_ERROR;
    }
}

// nullopt: the unit cannot be reached now and is left out of the list.
std::optional<DeviceFacts> probe(const UnitEntry& unit)
{
    if (!g_open.empty()) {
        const auto known = g_facts.find(unit.address);
        return known != g_facts.end() ? known->second : fallbackFacts(unit);
    }
    auto connection = shared::ScannerConnection::open(unit.address);
    if (!connection) {
        if (connection.error().code == shared::scan_error::kBusy)
            return fallbackFacts(unit); // there, only taken
        debugLine(debug::kWarning, "%s left out: %s", unit.address.c_str(),
                  connection.error().text.c_str());
        return std::nullopt;
    }
    auto identity = shared::readIdentity((*connection)->channel());
    if (!identity) {
        debugLine(debug::kWarning, "%s left out: %s", unit.address.c_str(),
                  identity.error().text.c_str());
        return std::nullopt;
    }
    DeviceFacts facts = factsOf(*identity, shared::readCapabilities((*connection)->channel()));
    g_facts[unit.address] = facts;
    return facts;
}

std::vector<UnitEntry> configuredUnits()
{
    const BackendConfig config = loadConfig();
    return collectUnits(config, shared::SettingsFile(),
                        config.discover ? searchUnits() : std::vector<UnitEntry>{});
}

// "lumarc:192.0.2.7" reaches a backend as "192.0.2.7"; a frontend that
// calls the backend directly may still give the prefix.
std::string unitOf(SANE_String_Const name)
{
    std::string unit = name;
    if (unit.starts_with("lumarc:"))
        unit.erase(0, 7);
    return unit;
}

void closeAll()
{
    g_open.clear();
    g_list.clear();
    g_listed.clear();
    g_facts.clear();
}

} // namespace
} // namespace lumarc::sane

using namespace lumarc::sane;

extern "C" {

SANE_Status sane_lumarc_init(SANE_Int* version_code, SANE_Auth_Callback /*authorize*/)
{
    readDebugLevel();
    debugLine(debug::kInfo, "init");
    if (version_code != nullptr)
        *version_code = SANE_VERSION_CODE(SANE_CURRENT_MAJOR, 0, kBuild);
    return SANE_STATUS_GOOD;
}

void sane_lumarc_exit(void)
{
    debugLine(debug::kInfo, "exit");
    closeAll();
}

// The units are the backend's own devices, reached through their own
// link rather than through another SANE daemon, so local_only keeps them:
// sharing them through saned is how other PCs reach them.
SANE_Status sane_lumarc_get_devices(const SANE_Device*** device_list, SANE_Bool /*local_only*/)
{
    if (device_list == nullptr)
        return SANE_STATUS_INVAL;
    return guarded("get_devices", [&] {
        std::vector<std::unique_ptr<ListedDevice>> listed;
        for (const UnitEntry& unit : configuredUnits()) {
            auto facts = probe(unit);
            if (!facts)
                continue;
            auto entry = std::make_unique<ListedDevice>();
            entry->name = unit.address;
            entry->facts = std::move(*facts);
            entry->device = {entry->name.c_str(), entry->facts.vendor.c_str(),
                             entry->facts.model.c_str(), entry->facts.type.c_str()};
            debugLine(debug::kInfo, "device %s: %s %s", entry->name.c_str(),
                      entry->facts.vendor.c_str(), entry->facts.model.c_str());
            listed.push_back(std::move(entry));
        }
        g_listed = std::move(listed);
        g_list.clear();
        for (const auto& entry : g_listed)
            g_list.push_back(&entry->device);
        g_list.push_back(nullptr);
        *device_list = g_list.data();
        return SANE_STATUS_GOOD;
    });
}

SANE_Status sane_lumarc_open(SANE_String_Const name, SANE_Handle* handle)
{
    if (name == nullptr || handle == nullptr)
        return SANE_STATUS_INVAL;
    return guarded("open", [&] {
        std::string unit = unitOf(name);
        if (unit.empty()) { // the first device
            const auto units = configuredUnits();
            if (units.empty())
                return SANE_STATUS_INVAL;
            unit = units.front().address;
        }
        if (!isUnitName(unit)) {
            debugLine(debug::kError, "open: '%s' names no unit", unit.c_str());
            return SANE_STATUS_INVAL;
        }
        if (!g_open.empty()) {
            debugLine(debug::kError, "open %s: %s is open; one unit at a time", unit.c_str(),
                      g_open.front()->address().c_str());
            return SANE_STATUS_DEVICE_BUSY;
        }
        auto device = Device::open(unit);
        if (!device) {
            debugLine(debug::kError, "open %s: %s", unit.c_str(), device.error().text.c_str());
            return statusOf(device.error());
        }
        g_facts[unit] = (*device)->facts();
        *handle = device->get();
        g_open.push_back(std::move(*device));
        return SANE_STATUS_GOOD;
    });
}

void sane_lumarc_close(SANE_Handle handle)
{
    const auto found = std::find_if(g_open.begin(), g_open.end(),
                                    [&](const auto& device) { return device.get() == handle; });
    if (found == g_open.end())
        return;
    debugLine(debug::kInfo, "close %s", (*found)->address().c_str());
    g_open.erase(found);
}

const SANE_Option_Descriptor* sane_lumarc_get_option_descriptor(SANE_Handle handle,
                                                                SANE_Int option)
{
    Device* device = deviceOf(handle);
    return device != nullptr ? device->descriptor(option) : nullptr;
}

SANE_Status sane_lumarc_control_option(SANE_Handle handle, SANE_Int option, SANE_Action action,
                                       void* value, SANE_Int* info)
{
    Device* device = deviceOf(handle);
    if (device == nullptr)
        return SANE_STATUS_INVAL;
    return guarded("control_option",
                   [&] { return device->control(option, action, value, info); });
}

SANE_Status sane_lumarc_get_parameters(SANE_Handle handle, SANE_Parameters* params)
{
    Device* device = deviceOf(handle);
    if (device == nullptr || params == nullptr)
        return SANE_STATUS_INVAL;
    return device->parameters(*params);
}

SANE_Status sane_lumarc_start(SANE_Handle handle)
{
    Device* device = deviceOf(handle);
    if (device == nullptr)
        return SANE_STATUS_INVAL;
    return guarded("start", [&] { return device->start(); });
}

SANE_Status sane_lumarc_read(SANE_Handle handle, SANE_Byte* data, SANE_Int max_length,
                             SANE_Int* length)
{
    Device* device = deviceOf(handle);
    if (device == nullptr || data == nullptr || length == nullptr)
        return SANE_STATUS_INVAL;
    return guarded("read", [&] { return device->read(data, max_length, length); });
}

// Called from signal handlers: no look-up, no lock, no allocation.
void sane_lumarc_cancel(SANE_Handle handle)
{
    if (handle != nullptr)
        static_cast<Device*>(handle)->cancel();
}

SANE_Status sane_lumarc_set_io_mode(SANE_Handle handle, SANE_Bool non_blocking)
{
    Device* device = deviceOf(handle);
    return device != nullptr ? device->setIoMode(non_blocking) : SANE_STATUS_INVAL;
}

SANE_Status sane_lumarc_get_select_fd(SANE_Handle handle, SANE_Int* fd)
{
    Device* device = deviceOf(handle);
    if (device == nullptr || fd == nullptr)
        return SANE_STATUS_INVAL;
    return device->selectFd(fd);
}

SANE_String_Const sane_lumarc_strstatus(SANE_Status status)
{
    return statusText(status);
}

} // extern "C"
