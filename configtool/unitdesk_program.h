// The configuration tool as a Qt program: the session's start, the unit
// list window with its pages and dialogs, and the end.
//
// run() does all three; tests call start(), drive the window and call
// finish(). One per process, on the Qt main thread.
#pragma once

#include "cunitdeskdlg.h"
#include "gaugery_starter.h"
#include "launch_options.h"
#include "unit_list_window.h"
#include "unitdesk_session.h"

#include "shared/settings_file.h"

#include <memory>

namespace lumarc::qtcommon {
class MessageBridge;
}

namespace lumarc::configtool {

// The dialogs of the unit list page, modal over the window.
class QtUnitDialogs : public UnitDialogs {
public:
    QtUnitDialogs(shared::MessageBoxes& boxes, const Texts& texts) : m_boxes(boxes), m_texts(texts)
    {
    }
    void setParent(QWidget* parent) { m_parent = parent; }
    std::optional<AddChoice> runAdd() override;
    bool runPin(PinLogic& logic) override;
    void runUserRegistration(UserRegistrationLogic& logic) override;
    void runNetworkConfiguration(NetworkConfigLogic& logic) override;

private:
    shared::MessageBoxes& m_boxes;
    const Texts& m_texts;
    QWidget* m_parent = nullptr;
};

class UnitdeskProgram {
public:
    UnitdeskProgram(UnitManagement& management, EventModuleLink& eventModule,
                    shared::MessageBoxes& boxes, const Texts& texts,
                    std::unique_ptr<ProgramStarter> starter = {});
    ~UnitdeskProgram();

    // Start-up, the window shown modally, the end; the exit status.
    int run();

    // The steps of run(): start builds the window when the session runs
    // (the window is opened but not shown; show() then starts the refresh).
    UnitdeskSession::Start start();
    CUnitdeskDlg* window() const { return m_dialog.get(); }
    UnitListWindow* unitList() const { return m_window.get(); }
    void finish();

    // From the signal handling: close every dialog, end.
    void requestStop();
    // From a second copy: the window to the front.
    void activate();
    int activations() const { return m_activations; }

private:
    shared::MessageBoxes& m_boxes;
    const Texts& m_texts;
    UnitdeskSession m_session;
    shared::SettingsFile m_settings;
    std::unique_ptr<ProgramStarter> m_starter;
    std::unique_ptr<QtUnitDialogs> m_dialogs;
    std::unique_ptr<UnitListWindow> m_window;
    std::unique_ptr<LaunchOptions> m_launch;
    std::unique_ptr<TriggerPortPage> m_triggerPort;
    std::unique_ptr<CUnitdeskDlg> m_dialog;
    std::unique_ptr<qtcommon::MessageBridge> m_instanceWindow;
    int m_activations = 0;
};

} // namespace lumarc::configtool
