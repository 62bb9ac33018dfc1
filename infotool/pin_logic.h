// The administrator PIN dialog's logic: the unit it asks about, its name,
// and the proof of the PIN by entering and at once leaving maintenance
// mode.
#pragma once

#include "message_boxes.h"
#include "texts.h"
#include "unit_management.h"

#include "shared/settings_file.h"

#include <string>

namespace lumarc::infotool {

constexpr size_t kPinMaxLength = 6;
constexpr size_t kUnitNameMaxLength = 20;
constexpr size_t kAddressMaxLength = 256;
constexpr const char* kAdminName = "root";

class PinLogic {
public:
    PinLogic(UnitManagement& management, const shared::SettingsFile& settings,
             MessageBoxes& boxes, const Texts& texts);

    // Opening: reads the selected unit's address and asks the unit for its
    // name. False: the message was shown and the dialog closes with Cancel.
    bool open();
    const std::string& address() const { return m_address; }
    const std::string& unitName() const { return m_unitName; }

    // OK: true when the unit accepted the PIN (the dialog closes with OK);
    // otherwise the message was shown and the dialog stays open.
    bool ok(const std::string& pin);

    // What the PIN edit accepts: digits only, at most six.
    static bool acceptable(const std::string& pin);

private:
    void fail(uint32_t result, bool maintenance);

    UnitManagement& m_management;
    const shared::SettingsFile& m_settings;
    MessageBoxes& m_boxes;
    const Texts& m_texts;
    std::string m_address;
    std::string m_unitName;
};

} // namespace lumarc::infotool
