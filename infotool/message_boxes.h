// Message boxes and the administrator check, as the logic classes see them.
//
// The message-box interface is the one both Qt programs share
// (shared/message_boxes.h); the PIN check is this tool's own.
#pragma once

#include "shared/message_boxes.h"

namespace lumarc::infotool {

using shared::BoxAnswer;
using shared::BoxButtons;
using shared::BoxIcon;
using shared::MessageBoxes;

// The administrator PIN dialog that guards every EEPROM write.
class AdminCheck {
public:
    virtual ~AdminCheck() = default;
    // True only when the unit accepted the administrator PIN.
    virtual bool run() = 0;
};

} // namespace lumarc::infotool
