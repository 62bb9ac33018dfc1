// The unit list page's logic: the list rebuilt from the shared settings
// file, the refresh handshake with the event module, Add, Delete, Favorite,
// and the buttons that hand the highlighted unit to a dialog or to the
// scanner information tool.
//
//   idle --Refresh, opening, Add, Delete, Favorite--> busy
//   busy: controls disabled, progress window open, Refresh polled every
//         100 ms until it reads 1, the wait W runs out, or Cancel
//   busy --list rebuilt, progress closed--> idle
//
// Single-threaded: the refresh wait runs on the caller's thread and keeps
// the windows alive through the view's pause().
#pragma once

#include "maintenance_access.h"
#include "network_config.h"
#include "unit_list.h"
#include "unitdesk_session.h"
#include "user_registration.h"

#include <chrono>
#include <optional>
#include <string>

namespace lumarc::configtool {

// What the window does for the logic.
class UnitListView {
public:
    virtual ~UnitListView() = default;
    virtual void showList(const UnitList& list) = 0;
    virtual std::optional<size_t> highlightedRow() const = 0;
    virtual void setRowStatus(size_t row, const std::string& text) = 0;
    virtual void setRowName(size_t row, const std::string& name) = 0;
    // "Delete", "User Config.", "Admin.", "Scanner Info." and "Favorite".
    virtual void setSelectionButtonsEnabled(bool enabled) = 0;
    // Busy: every control of the window disabled, the view chooser hidden,
    // the wait pointer; idle: all enabled again.
    virtual void setBusy(bool busy) = 0;
    // The progress window: opened (or brought to the top) with its bar
    // running from 0 to maximum, moved, and closed.
    virtual void openProgress(int maximum) = 0;
    virtual void setProgress(int value) = 0;
    virtual void closeProgress() = 0;
    // Lets the windows work for up to interval; the progress window's Cancel
    // may end it sooner.
    virtual void pause(std::chrono::milliseconds interval) = 0;
};

// The dialogs the page opens, each modal.
struct AddChoice {
    bool byHostName = false;
    std::string hostName;
    std::array<uint8_t, 4> address{};
};

class UnitDialogs {
public:
    virtual ~UnitDialogs() = default;
    virtual std::optional<AddChoice> runAdd() = 0;
    // The Administrator PIN dialog: true when maintenance mode was entered.
    virtual bool runPin(PinLogic& logic) = 0;
    virtual void runUserRegistration(UserRegistrationLogic& logic) = 0;
    virtual void runNetworkConfiguration(NetworkConfigLogic& logic) = 0;
};

// Starts the scanner information tool and waits for it to be ready.
class ProgramStarter {
public:
    enum class Wait { Ready, TimedOut, Failed };
    virtual ~ProgramStarter() = default;
    // False when the program could not be started.
    virtual bool start() = 0;
    // Waits at most timeout for the program started last to take input (a
    // program that already ended counts as ready).
    virtual Wait waitUntilReady(std::chrono::milliseconds timeout) = 0;
};

class UnitListWindow {
public:
    UnitListWindow(shared::SettingsFile& settings, UnitManagement& management,
                   EventModuleLink& eventModule, shared::MessageBoxes& boxes, const Texts& texts,
                   UnitDialogs& dialogs, ProgramStarter& starter);

    // Opening: W read, the list rebuilt and shown (the refresh is the
    // caller's next step, once the window is on the screen).
    void open(UnitListView& view);
    uint32_t refreshWaitMs() const { return m_waitMs; }
    int progressMaximum() const { return static_cast<int>(m_waitMs / 100); }
    const UnitList& list() const { return m_list; }
    bool busy() const { return m_busy; }

    void refresh();
    // The progress window's Cancel.
    void cancelRefresh();
    // A click in the list.
    void selectionChanged();

    void add();
    void remove();
    void favorite();
    void userConfig();
    void admin();
    void scannerInfo();

    // The program is ending: a running refresh stops at its next step.
    void requestStop() { m_stop = true; }

private:
    void rebuild();
    void leaveBusy();
    // Select for the highlighted row; its address (column 1) or "".
    std::string handOver();
    void message(uint32_t id, shared::BoxIcon icon);

    shared::SettingsFile& m_settings;
    UnitListFile m_file;
    UnitManagement& m_management;
    EventModuleLink& m_eventModule;
    shared::MessageBoxes& m_boxes;
    const Texts& m_texts;
    UnitDialogs& m_dialogs;
    ProgramStarter& m_starter;
    UnitListView* m_view = nullptr;
    UnitList m_list;
    uint32_t m_waitMs = 20000;
    bool m_busy = false;
    bool m_stop = false;
};

constexpr std::chrono::milliseconds kProgramReadyWait{10000};
constexpr std::chrono::milliseconds kProgramRetryPause{100};
constexpr int kProgramWaitAttempts = 50; // failed waits tried again, 100 ms apart

} // namespace lumarc::configtool
