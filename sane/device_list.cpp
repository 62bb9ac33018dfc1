// Collecting the units and describing their scanners.
#include "device_list.h"

#include "debug_log.h"

#include "mgmt/zorvan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace lumarc::sane {
namespace {

// The scanner model in a search reply: 15 characters at offset 16 of the
// INQUIRY data, trailing blanks removed.
constexpr size_t kModelOffset = 16;
constexpr size_t kModelLength = 15;

void addOnce(std::vector<UnitEntry>& units, UnitEntry entry)
{
    const auto same = [&](const UnitEntry& u) { return u.address == entry.address; };
    if (auto found = std::find_if(units.begin(), units.end(), same); found != units.end()) {
        if (found->model.empty())
            found->model = std::move(entry.model);
        return;
    }
    units.push_back(std::move(entry));
}

} // namespace

std::vector<UnitEntry> collectUnits(const BackendConfig& config,
                                    const shared::SettingsFile& settings,
                                    const std::vector<UnitEntry>& discovered)
{
    std::vector<UnitEntry> units;
    for (const std::string& address : config.units)
        addOnce(units, {address, ""});
    if (config.settingsUnits) {
        const uint32_t total = std::min(settings.total(), kMaxSettingsUnits);
        for (uint32_t index = 1; index <= total; ++index) {
            const shared::UnitRecord unit = settings.unit(index, shared::defaults::kIpElsewhere);
            if (unit.status == static_cast<uint32_t>(shared::UnitStatus::MarkedForDeletion) ||
                unit.ip == shared::defaults::kIpInConfigTool || !isUnitName(unit.ip))
                continue;
            addOnce(units, {unit.ip, unit.scanner});
        }
    }
    for (const UnitEntry& unit : discovered)
        addOnce(units, unit);
    return units;
}

std::vector<UnitEntry> searchUnits()
{
    std::vector<UnitEntry> found;
    if (Zorvan_Startup(0, 0) != 0) {
        debugLine(debug::kWarning, "search: the management library did not start");
        return found;
    }
    UnitNode* head = Zorvan_SearchBoxAll();
    for (const UnitNode* node = head; node != nullptr && node->address != 0; node = node->next) {
        char address[16];
        std::snprintf(address, sizeof address, "%u.%u.%u.%u", node->address >> 24,
                      (node->address >> 16) & 0xFF, (node->address >> 8) & 0xFF,
                      node->address & 0xFF);
        std::string model;
        if (node->scannerPresent != 0) {
            const char* text = reinterpret_cast<const char*>(node->inquiry + kModelOffset);
            model.assign(text, strnlen(text, kModelLength));
            model.erase(model.find_last_not_of(' ') + 1);
        }
        debugLine(debug::kInfo, "search: unit %s answered%s%s", address,
                  model.empty() ? "" : ", scanner ", model.c_str());
        found.push_back({address, model});
    }
    Zorvan_FreeSearchBoxAll(head);
    Zorvan_Cleanup();
    return found;
}

DeviceFacts factsOf(const shared::ScannerIdentity& identity,
                    const std::optional<shared::Capabilities>& capabilities)
{
    DeviceFacts facts{identity.vendor, identity.product, "scanner"};
    if (capabilities && capabilities->flatbed)
        facts.type = "flatbed scanner";
    else if (capabilities && capabilities->feeder)
        facts.type = "sheetfed scanner";
    if (facts.vendor.empty())
        facts.vendor = "Lumarc";
    if (facts.model.empty())
        facts.model = "scanner";
    return facts;
}

DeviceFacts fallbackFacts(const UnitEntry& unit)
{
    return {"Lumarc", unit.model.empty() ? "scanner" : unit.model, "scanner"};
}

} // namespace lumarc::sane
