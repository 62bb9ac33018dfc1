// The Launch Option and Advance pages.
#include "launch_options.h"

#include "texts.h"

#include "platform/debug_output.h"

namespace lumarc::configtool {
namespace {

constexpr std::string_view kLaunchSection = "Launch";
constexpr size_t kLaunchValueCapacity = 260;

std::string readCapped(const platform::Profile& file, const std::string& key)
{
    std::string value = file.readString(kLaunchSection, key, "");
    if (value.size() > kLaunchValueCapacity - 1)
        value.resize(kLaunchValueCapacity - 1);
    return value;
}

} // namespace

LaunchKeys launchKeys(int button)
{
    if (button < 1 || button > 9)
        return {"Scan_Apl", "Scan_Opt", "Scan_Wrk"};
    const std::string send = "Send" + std::to_string(button);
    return {send + "_Apl", send + "_Opt", send + "_Wrk"};
}

const LaunchFields& LaunchOptions::choose(int button)
{
    m_button = button;
    const LaunchKeys keys = launchKeys(button);
    m_fields = {readCapped(m_file, keys.target), readCapped(m_file, keys.argument),
                readCapped(m_file, keys.startIn)};
    return m_fields;
}

void LaunchOptions::save(const LaunchFields& fields)
{
    m_fields = fields;
    if (m_button < 0 || m_button >= kLaunchButtons)
        return;
    const LaunchKeys keys = launchKeys(m_button);
    // Writes that fail twice are not reported; the debug output keeps them.
    for (const auto& [key, value] : {std::pair{keys.target, fields.target},
                                     std::pair{keys.argument, fields.argument},
                                     std::pair{keys.startIn, fields.startIn}})
        if (!shared::writeWithRetry(m_file, kLaunchSection, key, value))
            platform::debugOutput("(Unitdesk) [Launch] " + key + " could not be written\n");
}

TriggerPortPage::TriggerPortPage(shared::SettingsFile& settings, shared::MessageBoxes& boxes,
                                 const Texts& texts)
    : m_settings(settings), m_boxes(boxes), m_texts(texts)
{
}

void TriggerPortPage::load()
{
    m_field.value = m_settings.trgPort();
    m_atOpening = m_field.value;
    m_field.show();
    m_field.modified = false;
}

bool TriggerPortPage::takeWithMessages(PortCheck& check)
{
    check = m_field.take();
    if (check == PortCheck::Ok)
        return true;
    m_boxes.show(insertTexts(m_texts(portCheckMessage(check)),
                             {std::to_string(shared::kTrgPortMin),
                              std::to_string(shared::kTrgPortMax)}),
                 m_texts(sid::kProgramTitle), shared::BoxIcon::Warning, shared::BoxButtons::Ok);
    return false;
}

bool TriggerPortPage::leave()
{
    PortCheck check = PortCheck::Ok;
    if (takeWithMessages(check))
        return true;
    m_field.value = check == PortCheck::OutOfRange ? PortField::clamp(m_field.value)
                                                   : kDefaultTriggerPort;
    m_field.modified = true;
    m_field.show();
    return false;
}

void TriggerPortPage::setDefault()
{
    m_field.value = kDefaultTriggerPort;
    m_field.show();
    m_field.modified = true;
}

bool TriggerPortPage::close()
{
    PortCheck check = PortCheck::Ok;
    if (!takeWithMessages(check)) {
        // The window stays, showing the value it would write: the one held
        // (the text was no number) or the nearest end of the range.
        m_field.value = PortField::clamp(m_field.value);
        m_field.modified = true;
        m_field.show();
        return false;
    }
    if (m_field.modified && m_field.value != m_atOpening)
        m_boxes.show(m_texts(sid::kTriggerPortRestart), m_texts(sid::kProgramTitle),
                     shared::BoxIcon::Warning, shared::BoxButtons::Ok);
    if (!m_settings.writeWithRetry(shared::section::kCommon, shared::key::kTrgPort,
                                   std::to_string(m_field.value)))
        platform::debugOutput("(Unitdesk) [Common] TrgPort could not be written\n");
    return true;
}

} // namespace lumarc::configtool
