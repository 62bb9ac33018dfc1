// The administrator PIN dialog: shows PinLogic's unit and forwards OK.
#pragma once

#include "pin_logic.h"

#include <QDialog>

#include <memory>

namespace Ui {
class CPinDlg;
}

namespace lumarc::infotool {

class CPinDlg : public QDialog {
    Q_OBJECT
public:
    CPinDlg(PinLogic& logic, const Texts& texts, QWidget* parent = nullptr);
    ~CPinDlg() override;
    void accept() override;

private:
    PinLogic& m_logic;
    std::unique_ptr<Ui::CPinDlg> m_ui;
};

// The PIN check the pages run before a write: the dialog, modally.
class PinDialogCheck : public AdminCheck {
public:
    PinDialogCheck(UnitManagement& management, const shared::SettingsFile& settings,
                   MessageBoxes& boxes, const Texts& texts)
        : m_management(management), m_settings(settings), m_boxes(boxes), m_texts(texts)
    {
    }
    void setParent(QWidget* parent) { m_parent = parent; }
    bool run() override;

private:
    UnitManagement& m_management;
    const shared::SettingsFile& m_settings;
    MessageBoxes& m_boxes;
    const Texts& m_texts;
    QWidget* m_parent = nullptr;
};

} // namespace lumarc::infotool
