// The Network Configuration dialog's logic.
#include "network_config.h"

#include "user_registration.h"

#include <cstdio>
#include <cstring>

namespace lumarc::configtool {
namespace {

constexpr size_t kFirmwareMaxLength = 20;

} // namespace

std::string macText(const uint8_t (&mac)[6])
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x-%02x-%02x-%02x-%02x-%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

NetworkConfigLogic::NetworkConfigLogic(UnitManagement& management, MessageBoxes& boxes,
                                       const Texts& texts, std::string address,
                                       std::string unitName, std::string pin)
    : m_management(management), m_boxes(boxes), m_texts(texts), m_address(std::move(address)),
      m_name(cutUtf8(unitName, kUnitNameMaxLength)), m_pin(std::move(pin))
{
}

void NetworkConfigLogic::open(NetworkConfigView& view)
{
    m_view = &view;
    m_port.value = kDefaultTriggerPort;
    UnitNameRecord record{};
    if (const uint32_t code = m_management.getName(m_address, record); code == result::kOk) {
        m_name = cutUtf8(fieldText(record.name, sizeof record.name), kUnitNameMaxLength);
        m_port.value = record.triggerPort;
    } else {
        showCodeMessage(m_boxes, m_texts, sid::kGetConfigFailed, code);
    }
    std::array<char, kFirmwareInfoSize> firmware{};
    if (const uint32_t code = m_management.getFirmInfo(m_address, firmware); code == result::kOk)
        m_firmware = cutUtf8(fieldText(firmware.data(), firmware.size()), kFirmwareMaxLength);
    else
        showCodeMessage(m_boxes, m_texts, sid::kGetFirmwareFailed, code);
    NetInfoRecord info{};
    if (const uint32_t code = m_management.getNetInfo(m_address, info); code == result::kOk) {
        m_addresses = {info.subnetMask, info.gateway, info.primaryDns, info.secondaryDns};
        m_mac = macText(info.mac);
    } else {
        showCodeMessage(m_boxes, m_texts, sid::kGetNetInfoFailed, code);
    }
    m_port.show();
    m_port.modified = false;
}

void NetworkConfigLogic::setEdits(const NetEdits& edits)
{
    m_name = edits.name;
    m_port.text = edits.port;
    m_port.modified = m_port.modified || edits.portModified;
    m_newPin = edits.newPin;
    m_confirmPin = edits.confirmPin;
}

void NetworkConfigLogic::defaultPort()
{
    m_port.value = kDefaultTriggerPort;
    m_port.show();
    m_port.modified = true;
}

void NetworkConfigLogic::failed(uint32_t code, uint32_t message, bool withCode)
{
    if (const uint32_t shared = sharedResultMessage(code); shared != 0)
        showMessage(m_boxes, m_texts, shared, BoxIcon::Error);
    else if (withCode)
        showCodeMessage(m_boxes, m_texts, message, code);
    else
        showMessage(m_boxes, m_texts, message, BoxIcon::Error);
}

void NetworkConfigLogic::apply()
{
    if (const PortCheck check = m_port.take(); check != PortCheck::Ok) {
        const std::string text =
            insertTexts(m_texts(portCheckMessage(check)), {std::to_string(shared::kTrgPortMin),
                                                           std::to_string(shared::kTrgPortMax)});
        m_boxes.show(text, m_texts(sid::kProgramTitle), BoxIcon::Warning, BoxButtons::Ok);
        m_port.value = PortField::clamp(m_port.value);
        m_port.modified = true;
        m_port.show();
        m_view->focus(NetField::TriggerPort);
        return;
    }
    if (m_address.empty()) {
        m_view->focus(NetField::Address);
        return;
    }
    if (m_pin.empty()) {
        showMessage(m_boxes, m_texts, sid::kTypePinAgain, BoxIcon::Warning);
        m_view->focus(NetField::CurrentPin);
        return;
    }
    if (m_changePin) {
        if (m_newPin.empty() || m_confirmPin.empty() || m_newPin != m_confirmPin) {
            showMessage(m_boxes, m_texts, sid::kTypePinAgain, BoxIcon::Warning);
            m_view->focus(!m_newPin.empty() && m_confirmPin.empty() ? NetField::ConfirmPin
                                                                     : NetField::NewPin);
            return;
        }
        const uint32_t code = m_management.setAdmin(m_address, m_pin, m_newPin);
        if (code != result::kOk) {
            failed(code, sid::kPinChangeFailed, true);
            return;
        }
        m_pin = m_newPin;
        showMessage(m_boxes, m_texts, sid::kPinChanged, BoxIcon::Information);
    }
    if (m_changeConfig) {
        if (m_name.empty()) {
            m_view->focus(NetField::Name);
            return;
        }
        UnitNameRecord record{};
        record.triggerPort = m_port.value;
        // The unit's field holds 47 bytes: a longer name is cut between
        // characters, never inside one.
        const std::string name = cutUtf8(m_name, sizeof record.name - 1);
        std::memcpy(record.name, name.data(), name.size());
        // The PIN the unit holds now: the new one when this Apply changed it.
        const uint32_t code = m_management.setName(m_address, m_pin, record);
        if (code == result::kOk)
            showMessage(m_boxes, m_texts, sid::kConfigChanged, BoxIcon::Information);
        else
            failed(code, sid::kConfigChangeFailed, false);
    }
}

} // namespace lumarc::configtool
