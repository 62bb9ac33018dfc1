// The unit list page's logic.
#include "unit_list_window.h"

#include "platform/debug_output.h"

namespace lumarc::configtool {
namespace {

namespace key = shared::key;
namespace section = shared::section;

} // namespace

UnitListWindow::UnitListWindow(shared::SettingsFile& settings, UnitManagement& management,
                               EventModuleLink& eventModule, shared::MessageBoxes& boxes,
                               const Texts& texts, UnitDialogs& dialogs, ProgramStarter& starter)
    : m_settings(settings), m_file(settings, texts), m_management(management),
      m_eventModule(eventModule), m_boxes(boxes), m_texts(texts), m_dialogs(dialogs),
      m_starter(starter)
{
}

void UnitListWindow::message(uint32_t id, shared::BoxIcon icon)
{
    showMessage(m_boxes, m_texts, id, icon);
}

void UnitListWindow::open(UnitListView& view)
{
    m_view = &view;
    m_waitMs = m_file.refreshWaitMs();
    rebuild();
}

void UnitListWindow::rebuild()
{
    m_list = m_file.rebuild();
    m_view->showList(m_list);
    m_view->setSelectionButtonsEnabled(false);
}

void UnitListWindow::leaveBusy()
{
    m_view->closeProgress();
    m_busy = false;
    m_view->setBusy(false);
}

void UnitListWindow::refresh()
{
    if (m_busy) {
        // A second request while one runs brings its progress window up.
        m_view->openProgress(progressMaximum());
        return;
    }
    m_busy = true;
    m_view->setBusy(true);
    m_view->openProgress(progressMaximum());
    if (!m_settings.write(section::kCommon, key::kRefresh, shared::kRefreshPending) ||
        !m_settings.flush())
        platform::debugOutput("(Unitdesk) [Common] Refresh = 0 could not be written\n");
    if (!m_eventModule.exists() || !m_eventModule.requestRefresh()) {
        message(sid::kEventModuleMissing, shared::BoxIcon::Error);
        leaveBusy();
        return;
    }

    const int limit = progressMaximum();
    int i = 0;
    m_view->pause(shared::kRefreshPollInterval);
    while (m_settings.refresh() != 1 && !m_stop) {
        if (i > limit) {
            message(sid::kRefreshTimeout, shared::BoxIcon::Warning);
            (void)m_settings.writeWithRetry(section::kCommon, key::kRefresh,
                                            shared::kRefreshDone);
            break;
        }
        m_view->setProgress(i);
        m_view->pause(shared::kRefreshPollInterval);
        ++i;
    }
    if (!m_settings.writeWithRetry(section::kCommon, key::kRefresh, shared::kRefreshDone))
        platform::debugOutput("(Unitdesk) [Common] Refresh = 1 could not be written\n");
    if (!m_stop)
        rebuild();
    leaveBusy();
    // The rebuilt list has no highlighted row.
    m_view->setSelectionButtonsEnabled(false);
}

void UnitListWindow::cancelRefresh()
{
    if (!m_settings.writeWithRetry(section::kCommon, key::kRefresh, shared::kRefreshDone) ||
        !m_settings.flush())
        platform::debugOutput("(Unitdesk) [Common] Refresh = 1 could not be written\n");
}

void UnitListWindow::selectionChanged()
{
    if (!m_busy)
        m_view->setSelectionButtonsEnabled(m_view->highlightedRow().has_value());
}

void UnitListWindow::add()
{
    const auto choice = m_dialogs.runAdd();
    if (!choice)
        return;
    // Nothing is checked: an empty host name or 0.0.0.0 is written as it is
    // and the rebuild's repair takes care of the latter.
    const std::string address = choice->byHostName ? choice->hostName
                                                   : dottedAddress(choice->address);
    if (!m_file.addUnit(address))
        platform::debugOutput("(Unitdesk) the unit " + address + " could not be added\n");
    refresh();
}

void UnitListWindow::remove()
{
    const auto row = m_view->highlightedRow();
    if (!row || *row >= m_list.rows.size())
        return;
    if (showMessage(m_boxes, m_texts, sid::kDeleteQuestion, shared::BoxIcon::Question,
                    shared::BoxButtons::YesNo) != shared::BoxAnswer::Yes)
        return;
    if (!m_file.markForDeletion(*row))
        platform::debugOutput("(Unitdesk) Status = 5 could not be written\n");
    m_list.rows[*row].status = m_texts(sid::kStatusDeleting);
    m_view->setRowStatus(*row, m_list.rows[*row].status);
    refresh();
}

void UnitListWindow::favorite()
{
    const auto row = m_view->highlightedRow();
    if (!row)
        return;
    if (!m_file.makeCurrent(*row))
        platform::debugOutput("(Unitdesk) [Common] Current could not be written\n");
    refresh();
}

std::string UnitListWindow::handOver()
{
    auto row = m_view->highlightedRow();
    if (row && *row >= m_list.rows.size())
        row.reset();
    if (!m_file.select(row))
        platform::debugOutput("(Unitdesk) [Common] Select could not be written\n");
    return row ? m_list.rows[*row].address : std::string();
}

void UnitListWindow::userConfig()
{
    const std::string address = handOver();
    PinLogic pin(m_management, m_boxes, m_texts, address);
    if (!pin.open() || !m_dialogs.runPin(pin))
        return;
    UserRegistrationLogic users(m_management, m_boxes, m_texts, pin.address(), pin.unitName(),
                                pin.pin());
    m_dialogs.runUserRegistration(users);
    leaveMaintenance(m_management, pin.address(), users.adminPin());
}

void UnitListWindow::admin()
{
    const auto row = m_view->highlightedRow();
    const std::string address = handOver();
    PinLogic pin(m_management, m_boxes, m_texts, address);
    if (!pin.open() || !m_dialogs.runPin(pin))
        return;
    NetworkConfigLogic network(m_management, m_boxes, m_texts, pin.address(), pin.unitName(),
                               pin.pin());
    m_dialogs.runNetworkConfiguration(network);
    // The maintenance mode ends with the PIN the unit holds now.
    leaveMaintenance(m_management, pin.address(), network.currentPin());
    if (row && *row < m_list.rows.size()) {
        m_list.rows[*row].name = network.name();
        m_view->setRowName(*row, network.name());
    }
}

void UnitListWindow::scannerInfo()
{
    (void)handOver();
    if (!m_starter.start()) {
        message(sid::kProgramStartFailed, shared::BoxIcon::Error);
        return;
    }
    for (int attempt = 0; attempt < kProgramWaitAttempts; ++attempt) {
        switch (m_starter.waitUntilReady(kProgramReadyWait)) {
        case ProgramStarter::Wait::Ready:
            return;
        case ProgramStarter::Wait::TimedOut:
            message(sid::kProgramStartTimeout, shared::BoxIcon::Warning);
            return;
        case ProgramStarter::Wait::Failed:
            m_view->pause(kProgramRetryPause);
            break;
        }
    }
}

} // namespace lumarc::configtool
