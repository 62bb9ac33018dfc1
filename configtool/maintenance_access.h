// The maintenance access around the User Registration and Network
// Configuration dialogs: the Administrator PIN dialog proves the PIN by
// putting the unit into maintenance mode, the follow-up dialog runs, and the
// unit leaves maintenance mode with the PIN the follow-up dialog ended with
// (a new one when the PIN was changed in it).
//
//   PinLogic::open()   GetName; a failure ends the access before it starts
//   PinLogic::ok(pin)  maintenance mode entered: the follow-up dialog runs
//   leave()            maintenance mode left, whatever happened inside
#pragma once

#include "texts.h"
#include "unit_management.h"

#include "shared/message_boxes.h"

#include <string>

namespace lumarc::configtool {

using shared::BoxAnswer;
using shared::BoxButtons;
using shared::BoxIcon;
using shared::MessageBoxes;

constexpr size_t kPinMaxLength = 6;
constexpr size_t kUnitNameMaxLength = 20;
constexpr size_t kAddressMaxLength = 256;

// Shows a plain message with the program title as caption.
BoxAnswer showMessage(MessageBoxes& boxes, const Texts& texts, uint32_t id, BoxIcon icon,
                      BoxButtons buttons = BoxButtons::Ok);
// Shows a result code put into a numbered format, with the error icon.
void showCodeMessage(MessageBoxes& boxes, const Texts& texts, uint32_t id, uint32_t code);

// The Administrator PIN dialog's logic.
class PinLogic {
public:
    PinLogic(UnitManagement& management, MessageBoxes& boxes, const Texts& texts,
             std::string address);

    // Opening: asks the unit for its name. False: the message was shown and
    // the dialog ends as cancelled.
    bool open();
    const std::string& address() const { return m_address; }
    const std::string& unitName() const { return m_unitName; }

    // OK: true when the unit entered maintenance mode with this PIN (the
    // dialog closes); otherwise the message was shown and it stays open.
    // False without a message when the address is empty.
    bool ok(const std::string& pin);
    const std::string& pin() const { return m_pin; }

    // What the PIN edit accepts: digits only, at most six.
    static bool acceptable(const std::string& pin);

private:
    UnitManagement& m_management;
    MessageBoxes& m_boxes;
    const Texts& m_texts;
    std::string m_address;
    std::string m_unitName;
    std::string m_pin;
};

// Leaves maintenance mode at the end of an access; the result is not
// examined.
void leaveMaintenance(UnitManagement& management, const std::string& address,
                      const std::string& pin);

// A fixed-width text field of a record as a string (up to its first NUL).
std::string fieldText(const char* field, size_t width);

} // namespace lumarc::configtool
