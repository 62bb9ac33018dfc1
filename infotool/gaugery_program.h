// The scanner information tool as a Qt program: the session's start, the
// sheet with its pages and dialogs, and the end.
//
// run() does all three; tests call start(), drive the sheet and call
// finish(). One per process, on the Qt main thread.
#pragma once

#include "cpindlg.h"
#include "device_info_logic.h"
#include "device_set_logic.h"
#include "gaugery_sheet.h"
#include "tool_session.h"

#include <memory>
#include <optional>

namespace lumarc::infotool {

class GaugeryProgram {
public:
    GaugeryProgram(UnitManagement& management, MessageBoxes& boxes, const Texts& texts,
                   StiDeviceLink::Creator creator = {});
    ~GaugeryProgram();

    // Start-up, the sheet shown modally, the end; the exit status.
    int run();

    // The steps of run(): start builds the sheet when the session runs.
    ToolSession::Start start();
    GaugerySheet* sheet() const { return m_sheet.get(); }
    void finish();

    // From the signal handling: close every dialog, end.
    void requestStop();

    ToolSession& session() { return m_session; }
    DeviceSetLogic* deviceSet() const { return m_deviceSet.get(); }
    DeviceInfoLogic* deviceInfo() const { return m_deviceInfo.get(); }
    // Opens the Offset dialog modally (the Device Set page's "&Offset").
    void openOffset();

private:
    UnitManagement& m_management;
    MessageBoxes& m_boxes;
    const Texts& m_texts;
    ToolSession m_session;
    std::unique_ptr<PinDialogCheck> m_admin;
    std::unique_ptr<ScannerCommands> m_commands;
    ScannerData m_data;
    std::unique_ptr<DeviceSetLogic> m_deviceSet;
    std::unique_ptr<DeviceInfoLogic> m_deviceInfo;
    std::unique_ptr<GaugerySheet> m_sheet;
};

} // namespace lumarc::infotool
