// The tool's property sheet: the caption "%s - %s", the Device Info and
// Device Set pages, OK and Cancel (no Apply, no Help). Each page is set up
// when it is first shown; OK runs the Device Set page's apply.
#pragma once

#include "cdevinfodlg.h"
#include "cdevsetdlg.h"

#include <QDialog>

class QDialogButtonBox;
class QTabWidget;

namespace lumarc::infotool {

class GaugerySheet : public QDialog {
    Q_OBJECT
public:
    GaugerySheet(const QString& caption, CDevInfoDlg* deviceInfo, CDevSetDlg* deviceSet,
                 const Texts& texts, QWidget* parent = nullptr);

    QTabWidget* pages() const { return m_pages; }
    CDevInfoDlg* deviceInfo() const { return m_deviceInfo; }
    CDevSetDlg* deviceSet() const { return m_deviceSet; }
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    CDevInfoDlg* m_deviceInfo;
    CDevSetDlg* m_deviceSet;
    QTabWidget* m_pages;
    QDialogButtonBox* m_buttons;
};

} // namespace lumarc::infotool
