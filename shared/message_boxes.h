// Message boxes as the programs' logic classes see them.
//
// The Qt programs show real message boxes; the command line prints the
// texts; tests record them and answer as a user would. A text may hold
// "\r\n" line ends as the numbered texts give them; whoever shows it
// decides how a line end looks.
#pragma once

#include <string>

namespace lumarc::shared {

enum class BoxIcon { Error, Warning, Information, Question };
enum class BoxButtons { Ok, OkCancel, YesNo };
enum class BoxAnswer { Ok, Cancel, Yes, No };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows text modally and returns the button pressed; a box that cannot
    // be shown (the program is ending) answers Cancel (No for YesNo).
    virtual BoxAnswer show(const std::string& text, const std::string& caption, BoxIcon icon,
                           BoxButtons buttons) = 0;
};

} // namespace lumarc::shared
