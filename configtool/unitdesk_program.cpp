// The program around the unit list window.
#include "unitdesk_program.h"

#include "cnetconfigdlg.h"
#include "cuserdlg.h"
#include "small_dialogs.h"

#include "platform/debug_output.h"
#include "qtcommon/message_bridge.h"
#include "qtcommon/qt_message_boxes.h"

#include <QApplication>

namespace lumarc::configtool {

std::optional<AddChoice> QtUnitDialogs::runAdd()
{
    if (qtcommon::programEnding())
        return std::nullopt;
    CAddDlg dialog(m_texts, m_parent);
    dialog.setObjectName("CAddDlg");
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.choice();
}

bool QtUnitDialogs::runPin(PinLogic& logic)
{
    if (qtcommon::programEnding())
        return false;
    CPinDlg dialog(logic, m_texts, m_parent);
    dialog.setObjectName("CPinDlg");
    return dialog.exec() == QDialog::Accepted;
}

void QtUnitDialogs::runUserRegistration(UserRegistrationLogic& logic)
{
    if (qtcommon::programEnding())
        return;
    CUserDlg dialog(logic, m_boxes, m_texts, m_parent);
    dialog.setObjectName("CUserDlg");
    dialog.open();
    dialog.exec();
}

void QtUnitDialogs::runNetworkConfiguration(NetworkConfigLogic& logic)
{
    if (qtcommon::programEnding())
        return;
    CNetConfigDlg dialog(logic, m_texts, m_parent);
    dialog.setObjectName("CNetConfigDlg");
    dialog.open();
    dialog.exec();
}

UnitdeskProgram::UnitdeskProgram(UnitManagement& management, EventModuleLink& eventModule,
                                 shared::MessageBoxes& boxes, const Texts& texts,
                                 std::unique_ptr<ProgramStarter> starter)
    : m_boxes(boxes), m_texts(texts),
      m_session(management, eventModule, boxes, texts,
                [&texts] { return qtcommon::activateFirstCopy(texts(sid::kWindowTitle)); }),
      m_starter(starter ? std::move(starter) : std::make_unique<GaugeryStarter>())
{
    m_dialogs = std::make_unique<QtUnitDialogs>(boxes, texts);
    m_window = std::make_unique<UnitListWindow>(m_settings, management, eventModule, boxes, texts,
                                                *m_dialogs, *m_starter);
}

UnitdeskProgram::~UnitdeskProgram()
{
    finish();
}

UnitdeskSession::Start UnitdeskProgram::start()
{
    const UnitdeskSession::Start started = m_session.start();
    if (started != UnitdeskSession::Start::Run)
        return started;
    // A second copy finds this window by the title and asks for the front.
    m_instanceWindow = qtcommon::MessageBridge::start(
        m_texts(sid::kWindowTitle), false, [this](uint32_t message, uintptr_t) {
            if (message == qtcommon::kActivateMessage)
                activate();
        });
    if (!m_instanceWindow)
        platform::debugOutput("(Unitdesk) the window a second copy looks for was not made\n");
    m_launch = std::make_unique<LaunchOptions>(platform::Profile(shared::launchFilePath()));
    m_triggerPort = std::make_unique<TriggerPortPage>(m_settings, m_boxes, m_texts);
    m_dialog = std::make_unique<CUnitdeskDlg>(
        *m_window, *m_launch, *m_triggerPort, m_texts, VersionFolders::ofThisProgram(),
        m_settings.showViewMode() != 0);
    m_dialog->setObjectName("CUnitdeskDlg");
    m_dialogs->setParent(m_dialog.get());
    if (auto* qtBoxes = dynamic_cast<qtcommon::QtMessageBoxes*>(&m_boxes))
        qtBoxes->setParent(m_dialog.get());
    m_dialog->open();
    m_dialog->startRefreshWhenShown();
    return started;
}

void UnitdeskProgram::finish()
{
    if (auto* qtBoxes = dynamic_cast<qtcommon::QtMessageBoxes*>(&m_boxes))
        qtBoxes->setParent(nullptr);
    if (m_dialogs)
        m_dialogs->setParent(nullptr);
    m_instanceWindow.reset();
    m_dialog.reset();
    m_session.end();
}

int UnitdeskProgram::run()
{
    const UnitdeskSession::Start started = start();
    if (started == UnitdeskSession::Start::Run && !qtcommon::programEnding())
        m_dialog->exec();
    finish();
    // A start that could not go on (no event module, no library) is a
    // failure for whoever started the tool; a second copy did its job.
    return started == UnitdeskSession::Start::End ? 1 : 0;
}

void UnitdeskProgram::activate()
{
    ++m_activations;
    if (!m_dialog)
        return;
    m_dialog->showNormal();
    m_dialog->raise();
    m_dialog->activateWindow();
}

void UnitdeskProgram::requestStop()
{
    qtcommon::setProgramEnding(true);
    m_window->requestStop();
    // Every open dialog ends, the innermost first.
    const auto widgets = QApplication::topLevelWidgets();
    for (auto it = widgets.rbegin(); it != widgets.rend(); ++it)
        if (auto* dialog = qobject_cast<QDialog*>(*it); dialog != nullptr && dialog->isVisible())
            dialog->done(QDialog::Rejected);
    QCoreApplication::exit(0);
}

} // namespace lumarc::configtool
