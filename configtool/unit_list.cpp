// The unit list from the shared settings file.
#include "unit_list.h"

#include "platform/debug_output.h"

namespace lumarc::configtool {
namespace {

namespace key = shared::key;
namespace section = shared::section;

std::string capped(std::string value)
{
    if (value.size() > kValueCapacity - 1)
        value.resize(kValueCapacity - 1);
    return value;
}

} // namespace

std::string dottedAddress(const std::array<uint8_t, 4>& fields)
{
    return std::to_string(fields[0]) + "." + std::to_string(fields[1]) + "." +
           std::to_string(fields[2]) + "." + std::to_string(fields[3]);
}

void UnitListFile::repairCurrent(uint32_t total)
{
    // Select and Current both name the last unit (or none in an empty list).
    const std::string last = std::to_string(total);
    if (!m_file.writeWithRetry(section::kCommon, key::kSelect, last) ||
        !m_file.writeWithRetry(section::kCommon, key::kCurrent, last))
        platform::debugOutput("(Unitdesk) [Common] Select/Current could not be repaired\n");
}

UnitListFile::Pass UnitListFile::rebuildPass()
{
    Pass pass;
    const platform::IniDocument doc = m_file.profile().snapshot();
    const uint32_t total =
        std::min(platform::readIntFrom(doc, section::kCommon, key::kTotal, shared::defaults::kTotal),
                 kMaxListedUnits);
    const uint32_t current = platform::readIntFrom(doc, section::kCommon, key::kCurrent,
                                                   shared::defaults::kCurrentInUnitList);
    pass.list.rows.reserve(total);
    for (uint32_t n = 1; n <= total; ++n) {
        const std::string name = shared::unitSection(n);
        UnitRow row;
        row.name = capped(platform::readStringFrom(doc, name, key::kNetBoxName, ""));
        row.address = capped(
            platform::readStringFrom(doc, name, key::kIp, shared::defaults::kIpInConfigTool));
        if (row.address == shared::defaults::kIpInConfigTool) {
            repairCurrent(total);
            if (!m_file.write(name, key::kIp, ""))
                platform::debugOutput("(Unitdesk) [" + name + "] IP could not be repaired\n");
            (void)m_file.flush();
            pass.list.rows.push_back(std::move(row));
            return pass;
        }
        row.scanner = capped(platform::readStringFrom(doc, name, key::kScanner, kNoScanner));
        if (row.scanner.empty())
            row.scanner = kNoScanner;
        const uint32_t status =
            platform::readIntFrom(doc, name, key::kStatus, shared::defaults::kStatus);
        bool active = false;
        switch (static_cast<shared::UnitStatus>(status)) {
        case shared::UnitStatus::Active:
            row.status = m_texts(sid::kStatusActive);
            active = true;
            break;
        case shared::UnitStatus::Busy:
            row.status = m_texts(sid::kStatusBusy);
            active = true;
            break;
        case shared::UnitStatus::MarkedForDeletion:
            row.status = m_texts(sid::kStatusDeleting);
            break;
        default:
            row.status = m_texts(sid::kStatusInactive);
            break;
        }
        if (n == current)
            row.icon = active ? UnitIcon::CurrentActive : UnitIcon::CurrentInactive;
        else
            row.icon = active ? UnitIcon::Active : UnitIcon::Inactive;
        pass.list.rows.push_back(std::move(row));
    }
    if (total > 0) {
        if (current < 1 || current > total) {
            repairCurrent(total);
            (void)m_file.flush();
            return pass;
        }
        pass.list.rows[current - 1].favorite = true;
        pass.list.favoriteRow = current - 1;
    }
    pass.complete = true;
    return pass;
}

UnitList UnitListFile::rebuild()
{
    const uint32_t total = std::min(m_file.total(), kMaxListedUnits);
    const int limit = static_cast<int>(total) + 2;
    Pass pass;
    for (m_passes = 1;; ++m_passes) {
        pass = rebuildPass();
        if (pass.complete)
            break;
        if (m_passes >= limit) {
            platform::debugOutput("(Unitdesk) the unit list could not be repaired in " +
                                  std::to_string(m_passes) + " passes\n");
            break;
        }
    }
    return std::move(pass.list);
}

Status UnitListFile::addUnit(const std::string& address)
{
    const uint32_t total = m_file.total() + 1;
    const std::string name = shared::unitSection(total);
    if (auto written = m_file.writeNumber(section::kCommon, key::kTotal, total); !written)
        return written;
    if (auto written = m_file.write(name, key::kIp, address); !written)
        return written;
    if (auto written = m_file.write(name, key::kAuto, "0"); !written)
        return written;
    return m_file.flush();
}

Status UnitListFile::markForDeletion(size_t row)
{
    return m_file.writeWithRetry(shared::unitSection(static_cast<uint32_t>(row + 1)), key::kStatus,
                                 "5");
}

Status UnitListFile::makeCurrent(size_t row)
{
    return m_file.writeWithRetry(section::kCommon, key::kCurrent, std::to_string(row + 1));
}

Status UnitListFile::select(std::optional<size_t> row)
{
    const std::string value = row ? std::to_string(*row + 1)
                                  : m_file.profile().readString(section::kCommon, key::kCurrent, "0");
    if (auto written = m_file.writeWithRetry(section::kCommon, key::kSelect, value); !written)
        return written;
    return m_file.flush();
}

uint32_t UnitListFile::refreshWaitMs() const
{
    return static_cast<uint32_t>(
        shared::refreshWaitLimit(m_file.searchBoxSeconds(), m_file.monIfSeconds()).count());
}

} // namespace lumarc::configtool
