// The Offset dialog: shows OffsetLogic's values and forwards the unit
// choices, the magnification slider and OK.
#pragma once

#include "offset_logic.h"
#include "spin_edit.h"

#include <QDialog>

#include <memory>

namespace Ui {
class COffsetDlg;
}

namespace lumarc::infotool {

class COffsetDlg : public QDialog {
    Q_OBJECT
public:
    COffsetDlg(OffsetLogic& logic, ScannerCommands& commands, EepromImage& pageImage,
               MessageBoxes& boxes, AdminCheck& admin, const Texts& texts,
               QWidget* parent = nullptr);
    ~COffsetDlg() override;

    void accept() override;

private:
    void showUnit();
    void showMagnification();

    OffsetLogic& m_logic;
    ScannerCommands& m_commands;
    EepromImage& m_pageImage;
    MessageBoxes& m_boxes;
    AdminCheck& m_admin;
    std::unique_ptr<Ui::COffsetDlg> m_ui;
    bool m_showing = false;
};

} // namespace lumarc::infotool
