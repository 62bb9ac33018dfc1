// The program around the sheet.
#include "gaugery_program.h"

#include "coffsetdlg.h"
#include "offset_logic.h"
#include "qtcommon/qt_message_boxes.h"

#include <QApplication>

namespace lumarc::infotool {

GaugeryProgram::GaugeryProgram(UnitManagement& management, MessageBoxes& boxes,
                               const Texts& texts, StiDeviceLink::Creator creator)
    : m_management(management), m_boxes(boxes), m_texts(texts),
      m_session(management, boxes, texts, std::move(creator))
{
}

GaugeryProgram::~GaugeryProgram()
{
    finish();
}

ToolSession::Start GaugeryProgram::start()
{
    const ToolSession::Start started = m_session.start();
    if (started != ToolSession::Start::Run)
        return started;
    m_admin = std::make_unique<PinDialogCheck>(m_management, m_session.settings(), m_boxes,
                                               m_texts);
    m_commands = std::make_unique<ScannerCommands>(m_session.link(),
                                                   m_session.identity().modelClass());
    m_deviceSet = std::make_unique<DeviceSetLogic>(*m_commands, m_session.identity(), m_data,
                                                   m_texts, m_boxes, *m_admin);
    m_deviceInfo = std::make_unique<DeviceInfoLogic>(*m_commands, m_session.identity(), m_data,
                                                     *m_deviceSet, m_texts, m_boxes);
    auto* infoPage = new CDevInfoDlg(*m_deviceInfo, m_texts);
    auto* setPage = new CDevSetDlg(*m_deviceSet);
    infoPage->setObjectName("CDevInfoDlg");
    setPage->setObjectName("CDevSetDlg");
    m_sheet = std::make_unique<GaugerySheet>(QString::fromStdString(m_session.caption()),
                                             infoPage, setPage, m_texts);
    m_admin->setParent(m_sheet.get());
    if (auto* qtBoxes = dynamic_cast<qtcommon::QtMessageBoxes*>(&m_boxes))
        qtBoxes->setParent(m_sheet.get());
    setPage->setOffsetHandler([this] { openOffset(); });
    return started;
}

void GaugeryProgram::openOffset()
{
    if (!m_deviceSet || !m_deviceSet->eepromRead() || qtcommon::programEnding())
        return;
    OffsetLogic logic(m_session.identity(), m_data, m_deviceSet->image(), m_texts);
    COffsetDlg dialog(logic, *m_commands, m_deviceSet->image(), m_boxes, *m_admin, m_texts,
                      m_sheet.get());
    dialog.setObjectName("COffsetDlg");
    dialog.exec();
}

void GaugeryProgram::finish()
{
    if (auto* qtBoxes = dynamic_cast<qtcommon::QtMessageBoxes*>(&m_boxes))
        qtBoxes->setParent(nullptr);
    m_sheet.reset();
    m_deviceInfo.reset();
    m_deviceSet.reset();
    m_commands.reset();
    m_admin.reset();
    m_session.end();
}

int GaugeryProgram::run()
{
    if (start() == ToolSession::Start::Run && !m_session.stopRequested())
        m_sheet->exec();
    finish();
    return 0;
}

void GaugeryProgram::requestStop()
{
    qtcommon::setProgramEnding(true);
    m_session.requestStop();
    // Every open dialog ends; the innermost first.
    const auto widgets = QApplication::topLevelWidgets();
    for (auto it = widgets.rbegin(); it != widgets.rend(); ++it)
        if (auto* dialog = qobject_cast<QDialog*>(*it); dialog != nullptr && dialog->isVisible())
            dialog->reject();
    QCoreApplication::exit(0);
}

} // namespace lumarc::infotool
