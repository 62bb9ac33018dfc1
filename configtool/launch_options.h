// The Launch Option and Advance pages: what each of the unit's ten buttons
// starts (keys of [Launch] in Lanyard.ini, saved as they are typed), and
// the PC's trigger port ([Common] TrgPort of Quenty.ini), checked when the
// Advance page is left and written when the window closes.
#pragma once

#include "trigger_port.h"

#include "platform/profile.h"
#include "shared/message_boxes.h"
#include "shared/settings_file.h"

#include <string>

namespace lumarc::configtool {

class Texts;

constexpr int kLaunchButtons = 10; // Scan, SendTo 1 to SendTo 9
constexpr size_t kLaunchFieldMaxLength = 255;

struct LaunchFields {
    std::string target;    // the program
    std::string argument;  // its options
    std::string startIn;   // its working folder
};

struct LaunchKeys {
    std::string target, argument, startIn;
};
// The three keys of a button: Scan_Apl/Opt/Wrk for 0 (and any index outside
// 1 to 9), Send<i>_Apl/Opt/Wrk for 1 to 9.
LaunchKeys launchKeys(int button);

class LaunchOptions {
public:
    explicit LaunchOptions(platform::Profile launchFile) : m_file(std::move(launchFile)) {}

    // Chooses a button and reads its three values.
    const LaunchFields& choose(int button);
    int button() const { return m_button; }
    const LaunchFields& fields() const { return m_fields; }
    // Every change of a text: the three values written to the chosen
    // button's keys (each write once more when it fails). An index outside
    // 0 to 9 writes nothing.
    void save(const LaunchFields& fields);

private:
    platform::Profile m_file;
    int m_button = 0;
    LaunchFields m_fields;
};

// The Advance page's trigger port and the window's closing step.
class TriggerPortPage {
public:
    TriggerPortPage(shared::SettingsFile& settings, shared::MessageBoxes& boxes,
                    const Texts& texts);

    // At opening: [Common] TrgPort (default 10002), remembered.
    void load();
    PortField& field() { return m_field; }
    uint32_t valueAtOpening() const { return m_atOpening; }

    // Any tab change: false when the field does not check (the messages
    // were shown, the tab strip goes back to Advance and the field shows
    // 2000, 60000 or, for a text that is no number, 10002).
    bool leave();
    // "Default": 10002, marked modified.
    void setDefault();
    // "OK" or the close box: false keeps the window open with a corrected
    // value; true when TrgPort was written and the window may close.
    bool close();

private:
    bool takeWithMessages(PortCheck& check);

    shared::SettingsFile& m_settings;
    shared::MessageBoxes& m_boxes;
    const Texts& m_texts;
    PortField m_field;
    uint32_t m_atOpening = kDefaultTriggerPort;
};

} // namespace lumarc::configtool
