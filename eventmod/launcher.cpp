// Admission, start and watch of the program configured for a button.
#include "launcher.h"

#include "shared/settings_file.h"

#include "platform/debug_output.h"

#include <algorithm>

namespace lumarc::eventmod {
namespace {

namespace key = shared::key;

constexpr std::chrono::milliseconds kIdleWait{3000};

} // namespace

void Launcher::makeCurrent(const ButtonPress& press)
{
    shared::SettingsFile file;
    const uint32_t total = file.total();
    const auto doc = file.profile().snapshot();
    for (uint32_t i = 1; i <= total; ++i) {
        if (platform::readStringFrom(doc, shared::unitSection(i), key::kIp, "") == press.unit) {
            (void)file.writeNumber(shared::section::kCommon, key::kCurrent, i);
            return;
        }
    }
    // A unit the list does not know yet joins it.
    const uint32_t index = total + 1;
    const platform::Profile::KeyValue values[] = {
        {key::kIp, press.unit}, {key::kScanner, press.scanner}, {key::kStatus, "1"}};
    (void)file.profile().writeStrings(shared::unitSection(index), values);
    (void)file.writeNumber(shared::section::kCommon, key::kTotal, index);
    (void)file.writeNumber(shared::section::kCommon, key::kCurrent, index);
}

bool Launcher::launch(const ButtonPress& press)
{
    if (m_services.transportBusy() || m_pending) {
        m_services.report(press.unit, Report::Busy);
        return false;
    }
    makeCurrent(press);
    m_services.prepareDataSources(press.scanner);
    const auto prefix = launchKeyPrefix(press.flags);
    if (!prefix)
        return false; // neither the Scan nor a Send-to button: nothing to say
    const auto command = buildLaunchCommand(readLaunchSettings(m_services.launchFile(), *prefix),
                                            press.user);
    if (!command) {
        m_services.report(press.unit, Report::NotStarted);
        return false;
    }
    auto started = m_services.start(*command);
    if (!started) {
        platform::debugOutput("Kicklet: starting " + command->argv[0] + ": " +
                              started.error().text + "\n");
        m_services.report(press.unit, Report::NotStarted);
        return false;
    }
    m_services.report(press.unit, Report::Started);
    m_pending = true;
    (void)started->waitForInputIdle(kIdleWait);
    m_children.push_back(std::move(*started));
    m_pendingUnit = press.unit;
    m_watchCount = 0;
    return true;
}

bool Launcher::tick()
{
    reapChildren();
    if (!m_pending)
        return false;
    if (m_watchCount > m_services.watchLimit) {
        m_services.report(m_pendingUnit, Report::NoScan);
        m_pending = false;
        return false;
    }
    if (m_services.transportBusy()) {
        m_pending = false;
        return false;
    }
    ++m_watchCount;
    return true;
}

void Launcher::reapChildren()
{
    std::erase_if(m_children, [](platform::Process& child) { return !child.running(); });
}

} // namespace lumarc::eventmod
