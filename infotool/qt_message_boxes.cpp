// Showing message boxes with Qt.
#include "qt_message_boxes.h"

#include "platform/debug_output.h"

#include <QMessageBox>

#include <atomic>

namespace lumarc::infotool {
namespace {

std::atomic<bool> g_ending{false};

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
    platform::debugOutput("(Gaugery) message: " + caption + ": " + text + "\n");
    if (programEnding())
        return BoxAnswer::Cancel;
    QMessageBox box(icon == BoxIcon::Error     ? QMessageBox::Critical
                    : icon == BoxIcon::Warning ? QMessageBox::Warning
                                               : QMessageBox::Information,
                    QString::fromStdString(caption), QString::fromStdString(text),
                    buttons == BoxButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                    : QMessageBox::Ok,
                    m_parent);
    box.setObjectName("messageBox");
    return box.exec() == QMessageBox::Ok ? BoxAnswer::Ok : BoxAnswer::Cancel;
}

} // namespace lumarc::infotool
