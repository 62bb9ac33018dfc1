// The unit-list refresh on the shared settings file.
#include "unit_list_refresh.h"

#include "mgmt/zorvan.h"

#include "platform/debug_output.h"
#include "platform/unit_address.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>

namespace lumarc::eventmod {
namespace {

using shared::unitSection;
namespace key = shared::key;

constexpr std::string_view kMarkedForDeletion = "5";
constexpr size_t kModelLength = 15;

std::string macText(const uint8_t* mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x-%02x-%02x-%02x-%02x-%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string fieldText(const char* field, size_t size)
{
    return std::string(field, strnlen(field, size));
}

// Step 4 and 5: sections marked for deletion go; the others are marked not
// answering until the search or a query says otherwise.
void purge(shared::SettingsFile& file)
{
    const uint32_t oldTotal = file.total();
    uint32_t total = oldTotal;
    uint32_t current = file.current(shared::defaults::kCurrentInEventModule);
    bool removed = false;
    for (uint32_t i = 1; i <= total;) {
        const std::string status = file.profile().readString(unitSection(i), key::kStatus, "0");
        if (status != kMarkedForDeletion) {
            (void)file.write(unitSection(i), key::kStatus, "0");
            ++i;
            continue;
        }
        if (current > i)
            --current;
        else if (current == i)
            current = 1;
        (void)file.profile().eraseSection(unitSection(i));
        // Whole sections move, whatever their size: nothing is lost.
        for (uint32_t j = i; j < total; ++j)
            (void)file.moveUnit(j + 1, j);
        --total;
        removed = true;
    }
    if (!removed)
        return;
    (void)file.writeNumber(shared::section::kCommon, key::kTotal, total);
    (void)file.writeNumber(shared::section::kCommon, key::kCurrent, current);
    for (uint32_t j = total + 1; j <= oldTotal; ++j)
        (void)file.profile().eraseSection(unitSection(j));
}

// The section whose IP is exactly address (0 when none).
uint32_t sectionOf(const shared::SettingsFile& file, uint32_t total, const std::string& address)
{
    const auto doc = file.profile().snapshot();
    for (uint32_t i = 1; i <= total; ++i)
        if (platform::readStringFrom(doc, unitSection(i), key::kIp, "") == address)
            return i;
    return 0;
}

void recordFound(shared::SettingsFile& file, const FoundUnit& unit)
{
    uint32_t total = file.total();
    const uint32_t index = sectionOf(file, total, unit.address);
    if (index != 0) {
        const platform::Profile::KeyValue values[] = {
            {key::kNetBoxName, unit.name},
            {key::kMac, unit.mac},
            {key::kStatus, unit.busy ? "2" : "1"},
            {key::kAuto, "1"},
            {key::kScanner, unit.scanner},
        };
        (void)file.profile().writeStrings(unitSection(index), values);
        return;
    }
    ++total;
    (void)file.writeNumber(shared::section::kCommon, key::kTotal, total);
    const platform::Profile::KeyValue values[] = {
        {key::kIp, unit.address},    {key::kScanner, unit.scanner}, {key::kNetBoxName, unit.name},
        {key::kMac, unit.mac},       {key::kStatus, "1"},           {key::kAuto, "1"},
    };
    (void)file.profile().writeStrings(unitSection(total), values);
}

void queryHandEntered(shared::SettingsFile& file, UnitNetwork& network)
{
    const uint32_t total = file.total();
    for (uint32_t i = 1; i <= total; ++i) {
        const auto unit = file.unit(i, shared::defaults::kIpElsewhere);
        if (unit.autoFound != 0)
            continue;
        // A unit that does not answer keeps its section with nothing known.
        const auto answer = network.query(unit.ip);
        const QueriedUnit known = answer.value_or(QueriedUnit{});
        const platform::Profile::KeyValue values[] = {
            {key::kScanner, known.scanner},
            {key::kNetBoxName, known.name},
            {key::kMac, known.mac},
            {key::kStatus, answer ? "1" : "0"},
        };
        (void)file.profile().writeStrings(unitSection(i), values);
    }
}

} // namespace

std::string modelFromInquiry(const uint8_t* inquiry, size_t length)
{
    if (inquiry == nullptr || length <= 16)
        return {};
    std::string model(reinterpret_cast<const char*>(inquiry) + 16,
                      std::min(length - 16, kModelLength));
    model.resize(strnlen(model.c_str(), model.size()));
    while (!model.empty() && model.back() == ' ')
        model.pop_back();
    return model;
}

std::optional<std::vector<FoundUnit>> ZorvanNetwork::search()
{
    UnitNode* head = Zorvan_SearchBoxAll();
    if (head == nullptr)
        return std::nullopt;
    std::vector<FoundUnit> units;
    for (const UnitNode* n = head; n != nullptr && n->address != 0; n = n->next) {
        FoundUnit unit;
        unit.address = platform::addressText(htonl(n->address));
        unit.name = fieldText(n->name, sizeof n->name);
        unit.mac = macText(n->mac);
        unit.busy = n->busy != 0;
        // The product identification sits at offset 16 of the INQUIRY data.
        if (n->scannerPresent != 0)
            unit.scanner = modelFromInquiry(n->inquiry, sizeof n->inquiry);
        units.push_back(std::move(unit));
    }
    Zorvan_FreeSearchBoxAll(head);
    return units;
}

std::optional<QueriedUnit> ZorvanNetwork::query(const std::string& address)
{
    UnitNameRecord name{};
    NetInfoRecord net{};
    uint32_t scanner = 0, inquiryLength = 0, secondLength = 0;
    uint8_t inquiry[ZORVAN_INQUIRY_SIZE] = {};
    uint8_t second[ZORVAN_SECOND_BLOCK_SIZE] = {};
    if (Zorvan_GetName(address.c_str(), &name) != 0 ||
        Zorvan_GetNetInfo(address.c_str(), &net) != 0 ||
        Zorvan_GetScanInfo(address.c_str(), &scanner, &inquiryLength, &secondLength, inquiry,
                           second) != 0)
        return std::nullopt;
    QueriedUnit unit;
    unit.name = fieldText(name.name, sizeof name.name);
    unit.mac = macText(net.mac);
    unit.scanner = modelFromInquiry(inquiry, std::min<size_t>(inquiryLength, sizeof inquiry));
    return unit;
}

std::optional<std::string> refreshUnitList(shared::SettingsFile& file, UnitNetwork& network)
{
    (void)file.createIfMissing();
    purge(file);
    const uint32_t total = file.total();
    for (uint32_t i = 1; i <= total; ++i)
        (void)file.write(unitSection(i), key::kScanner, "");

    const auto found = network.search();
    if (!found) {
        platform::debugOutput("Kicklet: the broadcast search could not run\n");
        return std::nullopt;
    }
    for (const FoundUnit& unit : *found)
        recordFound(file, unit);
    (void)file.flush();

    queryHandEntered(file, network);
    if (file.total() == 0)
        (void)file.write(shared::section::kCommon, key::kCurrent, "1");
    (void)file.flush();

    const std::string current =
        file.profile().readString(shared::section::kCommon, key::kCurrent, "1");
    std::string model = file.profile().readString(current, key::kScanner, "");
    model.resize(std::min(model.size(), kModelLength));
    return model;
}

} // namespace lumarc::eventmod
