// The Administrator PIN dialog's logic and the end of a maintenance access.
#include "maintenance_access.h"

#include "user_registration.h"

#include <algorithm>
#include <cstring>

namespace lumarc::configtool {

BoxAnswer showMessage(MessageBoxes& boxes, const Texts& texts, uint32_t id, BoxIcon icon,
                      BoxButtons buttons)
{
    return boxes.show(texts(id), texts(sid::kProgramTitle), icon, buttons);
}

void showCodeMessage(MessageBoxes& boxes, const Texts& texts, uint32_t id, uint32_t code)
{
    boxes.show(insertCode(texts(id), code), texts(sid::kProgramTitle), BoxIcon::Error,
               BoxButtons::Ok);
}

std::string fieldText(const char* field, size_t width)
{
    return std::string(field, strnlen(field, width));
}

PinLogic::PinLogic(UnitManagement& management, MessageBoxes& boxes, const Texts& texts,
                   std::string address)
    : m_management(management), m_boxes(boxes), m_texts(texts), m_address(std::move(address))
{
    if (m_address.size() > kAddressMaxLength)
        m_address.resize(kAddressMaxLength);
}

bool PinLogic::open()
{
    m_unitName.clear();
    UnitNameRecord record{};
    if (m_management.getName(m_address, record) != result::kOk) {
        showMessage(m_boxes, m_texts, sid::kCannotCommunicate, BoxIcon::Error);
        return false;
    }
    m_unitName = fieldText(record.name, sizeof record.name);
    m_unitName = cutUtf8(m_unitName, kUnitNameMaxLength);
    return true;
}

bool PinLogic::ok(const std::string& pin)
{
    if (m_address.empty())
        return false;
    const uint32_t entered = m_management.maintenanceMode(m_address, pin, 1);
    if (entered != result::kOk) {
        showMessage(m_boxes, m_texts, maintenanceEntryMessage(entered), BoxIcon::Error);
        return false;
    }
    m_pin = pin;
    return true;
}

bool PinLogic::acceptable(const std::string& pin)
{
    return pin.size() <= kPinMaxLength &&
           std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void leaveMaintenance(UnitManagement& management, const std::string& address,
                      const std::string& pin)
{
    (void)management.maintenanceMode(address, pin, 0);
}

} // namespace lumarc::configtool
