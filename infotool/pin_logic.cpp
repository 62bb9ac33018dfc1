// The administrator PIN dialog's logic.
#include "pin_logic.h"

#include <algorithm>
#include <cstring>

namespace lumarc::infotool {

PinLogic::PinLogic(UnitManagement& management, const shared::SettingsFile& settings,
                   MessageBoxes& boxes, const Texts& texts)
    : m_management(management), m_settings(settings), m_boxes(boxes), m_texts(texts)
{
}

void PinLogic::fail(uint32_t result, bool maintenance)
{
    m_boxes.show(m_texts(modeResultMessage(result, maintenance)), m_texts(sid::kProgramTitle),
                 BoxIcon::Error, BoxButtons::Ok);
}

bool PinLogic::open()
{
    const uint32_t select = m_settings.select();
    m_address = m_settings.unit(select, shared::defaults::kIpInConfigTool).ip;
    if (m_address.size() > kAddressMaxLength)
        m_address.resize(kAddressMaxLength);
    m_unitName.clear();
    if (m_address.empty()) {
        m_boxes.show(m_texts(sid::kCannotCommunicate), m_texts(sid::kProgramTitle),
                     BoxIcon::Error, BoxButtons::Ok);
        return false;
    }
    UnitNameRecord record{};
    if (const uint32_t result = m_management.getName(m_address, record); result != 0) {
        m_boxes.show(m_texts(sid::kCannotCommunicate), m_texts(sid::kProgramTitle),
                     BoxIcon::Error, BoxButtons::Ok);
        return false;
    }
    m_unitName.assign(record.name, strnlen(record.name, sizeof record.name));
    if (m_unitName.size() > kUnitNameMaxLength)
        m_unitName.resize(kUnitNameMaxLength);
    return true;
}

bool PinLogic::ok(const std::string& pin)
{
    const uint32_t entered = m_management.maintenanceMode(m_address, kAdminName, pin, 1);
    if (entered != 0) {
        fail(entered, true);
        return false;
    }
    // The unit goes back to its normal mode at once: entering only proved
    // the PIN.
    (void)m_management.maintenanceMode(m_address, kAdminName, pin, 0);
    return true;
}

bool PinLogic::acceptable(const std::string& pin)
{
    return pin.size() <= kPinMaxLength &&
           std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace lumarc::infotool
