// A trigger-port field: the text in a digit-only edit, the value it last
// gave, and whether it was modified. Taking the field checks the text the
// way the dialogs check an unsigned field with a range, and the callers
// clamp what a failed check leaves.
#pragma once

#include "shared/settings_file.h"

#include <cstdint>
#include <string>

namespace lumarc::configtool {

constexpr uint32_t kDefaultTriggerPort = 10002;

enum class PortCheck {
    Ok,
    NotANumber, // "Please enter a positive integer."; the value stays as it was
    OutOfRange, // "Please enter an integer between 2000 and 60000."; the value was taken
};

struct PortField {
    std::string text;
    uint32_t value = kDefaultTriggerPort;
    bool modified = false;

    // Reads the text into value; the message of a failed check is the
    // caller's to show first.
    PortCheck take();
    // Shows value as the text.
    void show() { text = std::to_string(value); }
    // The value put back into 2000..60000 (an in-range value stays).
    static uint32_t clamp(uint32_t value);
};

// The message id of a failed check (0 for Ok).
uint32_t portCheckMessage(PortCheck check);

} // namespace lumarc::configtool
