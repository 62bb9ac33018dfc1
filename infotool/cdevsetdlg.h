// The Device Set page: shows DeviceSetLogic's controls and forwards the
// clear buttons, the slider, the lamp-timer edit and the Offset button.
#pragma once

#include "device_set_logic.h"

#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class CDevSetDlg;
}

namespace lumarc::infotool {

class CDevSetDlg : public QWidget {
    Q_OBJECT
public:
    CDevSetDlg(DeviceSetLogic& logic, QWidget* parent = nullptr);
    ~CDevSetDlg() override;

    // Page initialisation (once, when the page is first shown).
    void initialise();
    bool initialised() const { return m_initialised; }
    // Copies the logic's control states into the widgets.
    void sync();
    // The sheet's OK; true lets the sheet close.
    bool apply();
    // What the Offset button opens (the program sets it).
    void setOffsetHandler(std::function<void()> handler) { m_offset = std::move(handler); }
    QWidget* widgetOf(SetControl control) const;

private:
    DeviceSetLogic& m_logic;
    std::unique_ptr<Ui::CDevSetDlg> m_ui;
    std::function<void()> m_offset;
    bool m_initialised = false;
    bool m_syncing = false;
};

} // namespace lumarc::infotool
