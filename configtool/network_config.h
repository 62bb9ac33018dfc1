// The Network Configuration dialog's logic: the unit's name, firmware,
// address settings (shown only) and Ethernet address; Apply changes the
// administrator PIN and then the unit name and trigger port, each when its
// check box is set.
//
// A PIN change and a configuration change in the same Apply: the
// configuration change is sent with the new PIN, the one the unit holds
// from then on.
#pragma once

#include "maintenance_access.h"
#include "trigger_port.h"
#include "unit_management.h"

#include <array>
#include <string>

namespace lumarc::configtool {

enum class NetField { Address, Name, TriggerPort, CurrentPin, NewPin, ConfirmPin };

class NetworkConfigView {
public:
    virtual ~NetworkConfigView() = default;
    virtual void focus(NetField field) = 0;
};

// What the user can type, handed over before Apply.
struct NetEdits {
    std::string name;
    std::string port; // the trigger port's text
    bool portModified = false;
    std::string newPin;
    std::string confirmPin;
};

class NetworkConfigLogic {
public:
    NetworkConfigLogic(UnitManagement& management, MessageBoxes& boxes, const Texts& texts,
                       std::string address, std::string unitName, std::string pin);

    // Opening: the three reads, each failure reported on its own.
    void open(NetworkConfigView& view);

    void setEdits(const NetEdits& edits);
    void apply();
    // "Default": the trigger port back to 10002, marked modified.
    void defaultPort();
    void setChangeConfig(bool on) { m_changeConfig = on; }
    void setChangePin(bool on) { m_changePin = on; }

    // What the dialog shows.
    const std::string& address() const { return m_address; }
    const std::string& name() const { return m_name; }
    const std::string& firmware() const { return m_firmware; }
    // Subnet mask, gateway, primary and secondary DNS: first octet most
    // significant.
    const std::array<uint32_t, 4>& addresses() const { return m_addresses; }
    const std::string& mac() const { return m_mac; }
    const PortField& port() const { return m_port; }
    const std::string& newPin() const { return m_newPin; }
    const std::string& confirmPin() const { return m_confirmPin; }
    bool changeConfig() const { return m_changeConfig; }
    bool changePin() const { return m_changePin; }
    // The PIN the unit holds: the one the maintenance access began with,
    // or the new one after a successful change.
    const std::string& currentPin() const { return m_pin; }

private:
    // A failed change: the shared messages, else the given one.
    void failed(uint32_t code, uint32_t message, bool withCode);

    UnitManagement& m_management;
    MessageBoxes& m_boxes;
    const Texts& m_texts;
    NetworkConfigView* m_view = nullptr;
    std::string m_address;
    std::string m_name;
    std::string m_firmware;
    std::array<uint32_t, 4> m_addresses{};
    std::string m_mac;
    PortField m_port;
    std::string m_newPin;
    std::string m_confirmPin;
    std::string m_pin;
    bool m_changeConfig = false;
    bool m_changePin = false;
};

// The Ethernet address as "%02x-%02x-%02x-%02x-%02x-%02x".
std::string macText(const uint8_t (&mac)[6]);

} // namespace lumarc::configtool
