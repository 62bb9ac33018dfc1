// Starting and ending the configuration tool.
#include "unitdesk_session.h"

#include "platform/debug_output.h"
#include "platform/message_window.h"
#include "shared/settings_file.h"

namespace lumarc::configtool {

bool KickletWindow::exists()
{
    return platform::findWindow(shared::kEventModuleTitle) != 0;
}

bool KickletWindow::requestRefresh()
{
    const platform::WindowHandle window = platform::findWindow(shared::kEventModuleTitle);
    return window != 0 && platform::postMessage(window, shared::kRefreshRequest, 0, 0);
}

UnitdeskSession::UnitdeskSession(UnitManagement& management, EventModuleLink& eventModule,
                                 shared::MessageBoxes& boxes, const Texts& texts,
                                 std::function<bool()> activateFirst)
    : m_management(management), m_eventModule(eventModule), m_boxes(boxes), m_texts(texts),
      m_activateFirst(std::move(activateFirst))
{
}

UnitdeskSession::~UnitdeskSession()
{
    end();
}

UnitdeskSession::Start UnitdeskSession::fail(uint32_t message)
{
    m_boxes.show(m_texts(message), m_texts(sid::kProgramTitle), shared::BoxIcon::Error,
                 shared::BoxButtons::Ok);
    return Start::End;
}

UnitdeskSession::Start UnitdeskSession::start()
{
    auto mutex = platform::NamedMutex::create(kInstanceMutex);
    if (!mutex) {
        platform::debugOutput("(Unitdesk) " + mutex.error().text + "\n");
        return Start::End;
    }
    if (mutex->alreadyExisted()) {
        if (m_activateFirst && !m_activateFirst())
            platform::debugOutput("(Unitdesk) the running copy's window was not found\n");
        return Start::SecondCopy;
    }
    m_mutex.emplace(std::move(*mutex));

    if (m_management.startup() != 0)
        return fail(sid::kNetworkStartFailed);
    m_started = true;
    if (!m_eventModule.exists())
        return fail(sid::kEventModuleMissing);
    return Start::Run;
}

void UnitdeskSession::end()
{
    if (m_started) {
        m_started = false;
        m_management.cleanup();
    }
    m_mutex.reset();
}

} // namespace lumarc::configtool
