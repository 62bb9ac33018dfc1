// Starting and ending the scanner information tool.
#include "tool_session.h"

#include "platform/debug_output.h"

namespace lumarc::infotool {

std::string formatText(const std::string& format, std::initializer_list<std::string> texts)
{
    std::string out;
    auto next = texts.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
            if (next != texts.end())
                out += *next++;
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

ToolSession::ToolSession(UnitManagement& management, MessageBoxes& boxes, const Texts& texts,
                         StiDeviceLink::Creator creator)
    : m_management(management), m_boxes(boxes), m_texts(texts), m_creator(std::move(creator))
{
}

ToolSession::~ToolSession()
{
    end();
}

ToolSession::Start ToolSession::fail(uint32_t messageId)
{
    if (!m_stop)
        m_boxes.show(m_texts(messageId), m_texts(sid::kProgramTitle), BoxIcon::Error,
                     BoxButtons::Ok);
    return Start::End;
}

ToolSession::Start ToolSession::start()
{
    auto mutex = platform::NamedMutex::create(kInstanceMutex);
    if (!mutex) {
        platform::debugOutput("(Gaugery) " + mutex.error().text + "\n");
        return Start::End;
    }
    if (mutex->alreadyExisted())
        return Start::SecondCopy;
    m_mutex.emplace(std::move(*mutex));

    if (m_management.startup() != 0)
        return fail(sid::kNetworkStartFailed);
    m_started = true;
    if (m_stop)
        return Start::End;

    const uint32_t select = m_settings.select();
    if (select != 0) {
        const shared::UnitRecord unit = m_settings.unit(select, shared::defaults::kIpElsewhere);
        m_scanner = unit.scanner.substr(0, kScannerNameLength);
        m_address = unit.ip.substr(0, kUnitAddressLength);
    }
    if (select == 0 || m_scanner.empty() || m_address.empty())
        return fail(sid::kScannerNotFound);

    if (const uint32_t entered = m_management.scannerInfoMode(m_address, 1); entered != 0)
        return fail(modeResultMessage(entered, false));
    m_modeEntered = true;
    if (m_stop)
        return Start::End;

    // The still-image device serves the current unit: make it the selected one.
    const uint32_t current = m_settings.current(shared::defaults::kCurrentInEventModule);
    if (current != 0 && current != select) {
        if (!m_settings.writeNumber(shared::section::kCommon, shared::key::kCurrent, select) ||
            !m_settings.flush())
            platform::debugOutput("(Gaugery) [Common] Current could not be written\n");
    }

    m_link = std::make_unique<StiDeviceLink>(m_creator);
    if (!m_link->open())
        return fail(sid::kNotRegistered);
    (void)m_link->createDevice();
    m_identity = identify(m_link->vendorDescription(), m_link->deviceDescription(),
                          m_link->localName());
    return m_stop ? Start::End : Start::Run;
}

void ToolSession::end()
{
    if (m_modeEntered) {
        m_modeEntered = false;
        if (const uint32_t left = m_management.scannerInfoMode(m_address, 0); left != 0)
            fail(modeResultMessage(left, false));
    }
    if (m_started) {
        m_started = false;
        m_management.cleanup();
    }
    m_mutex.reset();
    if (m_link) {
        m_link->close();
        m_link.reset();
    }
}

std::string ToolSession::caption() const
{
    return formatText(m_texts(sid::kSheetCaption), {m_scanner, m_address});
}

} // namespace lumarc::infotool
