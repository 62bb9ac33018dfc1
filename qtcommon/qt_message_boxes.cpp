// Showing message boxes with Qt.
#include "qt_message_boxes.h"

#include "platform/debug_output.h"

#include <QMessageBox>

#include <atomic>

namespace lumarc::qtcommon {
namespace {

using shared::BoxAnswer;
using shared::BoxButtons;
using shared::BoxIcon;

std::atomic<bool> g_ending{false};

QMessageBox::Icon iconOf(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::Error:
        return QMessageBox::Critical;
    case BoxIcon::Warning:
        return QMessageBox::Warning;
    case BoxIcon::Question:
        return QMessageBox::Question;
    case BoxIcon::Information:
        break;
    }
    return QMessageBox::Information;
}

QMessageBox::StandardButtons buttonsOf(BoxButtons buttons)
{
    switch (buttons) {
    case BoxButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case BoxButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case BoxButtons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

} // namespace

void setProgramEnding(bool ending)
{
    g_ending = ending;
}

bool programEnding()
{
    return g_ending;
}

BoxAnswer QtMessageBoxes::show(const std::string& text, const std::string& caption, BoxIcon icon,
                               BoxButtons buttons)
{
    platform::debugOutput("(" + m_tag + ") message: " + caption + ": " + text + "\n");
    if (programEnding())
        return buttons == BoxButtons::YesNo ? BoxAnswer::No : BoxAnswer::Cancel;
    // The numbered texts end lines the Windows way; a label wants one line
    // feed per line.
    QString shown = QString::fromStdString(text);
    shown.replace("\r\n", "\n");
    QMessageBox box(iconOf(icon), QString::fromStdString(caption), shown, buttonsOf(buttons),
                    m_parent);
    box.setObjectName("messageBox");
    switch (box.exec()) {
    case QMessageBox::Ok:
        return BoxAnswer::Ok;
    case QMessageBox::Yes:
        return BoxAnswer::Yes;
    case QMessageBox::No:
        return BoxAnswer::No;
    default:
        return buttons == BoxButtons::YesNo ? BoxAnswer::No : BoxAnswer::Cancel;
    }
}

} // namespace lumarc::qtcommon
