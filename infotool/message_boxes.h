// Message boxes and the administrator check, as the logic classes see them.
//
// The Qt program shows real message boxes and the PIN dialog; the command
// line prints the texts; tests record them and answer as a user would.
#pragma once

#include <string>

namespace lumarc::infotool {

enum class BoxIcon { Error, Warning, Information };
enum class BoxButtons { Ok, OkCancel };
enum class BoxAnswer { Ok, Cancel };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows text modally and returns the button pressed; a box that cannot
    // be shown (the program is ending) answers Cancel.
    virtual BoxAnswer show(const std::string& text, const std::string& caption, BoxIcon icon,
                           BoxButtons buttons) = 0;
};

// The administrator PIN dialog that guards every EEPROM write.
class AdminCheck {
public:
    virtual ~AdminCheck() = default;
    // True only when the unit accepted the administrator PIN.
    virtual bool run() = 0;
};

} // namespace lumarc::infotool
