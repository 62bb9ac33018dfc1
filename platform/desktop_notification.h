// Desktop notifications through the session bus's notification service, the
// way a resident program without windows tells the user something.
#pragma once

#include <string_view>

namespace lumarc::platform {

enum class NotificationUrgency { Low = 0, Normal = 1, Critical = 2 };

// Shows a notification when the user's session bus and a notification
// service on it exist; false (and no other effect) when either is missing.
// Waits at most about two seconds for the service's answer.
bool notifyDesktop(std::string_view appName, std::string_view summary, std::string_view body,
                   NotificationUrgency urgency);

} // namespace lumarc::platform
