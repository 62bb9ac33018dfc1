// The Device Info page: shows DeviceInfoLogic's rows in a two-column list
// and forwards left-button presses on it.
#pragma once

#include "device_info_logic.h"

#include <QWidget>

#include <memory>

namespace Ui {
class CDevInfoDlg;
}

namespace lumarc::infotool {

class CDevInfoDlg : public QWidget {
    Q_OBJECT
public:
    CDevInfoDlg(DeviceInfoLogic& logic, const Texts& texts, QWidget* parent = nullptr);
    ~CDevInfoDlg() override;

    // Page initialisation (once): fills the list when the scanner answered.
    void initialise();
    bool initialised() const { return m_initialised; }
    // Redraws the list from the logic's rows.
    void showRows();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    DeviceInfoLogic& m_logic;
    const Texts& m_texts;
    std::unique_ptr<Ui::CDevInfoDlg> m_ui;
    bool m_initialised = false;
};

} // namespace lumarc::infotool
