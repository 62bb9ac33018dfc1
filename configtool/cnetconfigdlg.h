// The Network Configuration dialog: shows NetworkConfigLogic's values and
// forwards Apply, Default and the two check boxes.
#pragma once

#include "network_config.h"

#include <QDialog>

#include <memory>

namespace Ui {
class CNetConfigDlg;
}

namespace lumarc::configtool {

class CNetConfigDlg : public QDialog, private NetworkConfigView {
    Q_OBJECT
public:
    CNetConfigDlg(NetworkConfigLogic& logic, const Texts& texts, QWidget* parent = nullptr);
    ~CNetConfigDlg() override;

    // Opens the dialog's logic (the unit is read) before exec().
    void open();

private:
    void focus(NetField field) override;
    void showValues();
    void showEditable();

    NetworkConfigLogic& m_logic;
    std::unique_ptr<Ui::CNetConfigDlg> m_ui;
    bool m_portModified = false;
};

} // namespace lumarc::configtool
