// org.freedesktop.Notifications.Notify over sd-bus.
#include "desktop_notification.h"

#include "debug_output.h"

#include <cstdint>
#include <memory>
#include <string>
#include <systemd/sd-bus.h>

namespace lumarc::platform {
namespace {

constexpr uint64_t kCallTimeoutMicroseconds = 2'000'000;
constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageDeleter {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};

} // namespace

bool notifyDesktop(std::string_view appName, std::string_view summary, std::string_view body,
                   NotificationUrgency urgency)
{
    sd_bus* raw = nullptr;
    if (sd_bus_open_user(&raw) < 0)
        return false; // no session bus: nothing to tell
    std::unique_ptr<sd_bus, BusDeleter> bus(raw);
    sd_bus_message* rawCall = nullptr;
    if (sd_bus_message_new_method_call(bus.get(), &rawCall, kService, kPath, kService, "Notify") <
        0)
        return false;
    std::unique_ptr<sd_bus_message, MessageDeleter> call(rawCall);
    const std::string app(appName), title(summary), text(body);
    const uint8_t level = static_cast<uint8_t>(urgency);
    int r = sd_bus_message_append(call.get(), "susss", app.c_str(), 0u,
                                  urgency == NotificationUrgency::Critical ? "dialog-error"
                                                                           : "dialog-information",
                                  title.c_str(), text.c_str());
    if (r >= 0)
        r = sd_bus_message_append(call.get(), "as", 0);
    if (r >= 0)
        r = sd_bus_message_append(call.get(), "a{sv}", 1, "urgency", "y", level);
    if (r >= 0)
        r = sd_bus_message_append(call.get(), "i", -1);
    if (r < 0)
        return false;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    r = sd_bus_call(bus.get(), call.get(), kCallTimeoutMicroseconds, &error, &reply);
    if (r < 0)
        debugOutput(std::string("desktop notification: ") +
                    (error.message != nullptr ? error.message : "no answer") + "\n");
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return r >= 0;
}

} // namespace lumarc::platform
