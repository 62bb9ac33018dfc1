// The event module: the resident program's hidden window "Kicklet" and
// everything that reaches it.
//
//   0x8001  button event from the management library's listener
//   0x8100  refresh the unit list, then [Common] Refresh = "1"
//   0x8200  the scanner channel is taken: panel text "0"; no launch pending
//   0x8201  the scanner channel is free: panel text "1"
//   0x004A  data copy from another program: a scanner error report
//   timer   the launch watch, once a second while a launch is pending
//   signal  SIGTERM, SIGINT, SIGHUP end the program; SIGCHLD reaps
//
// Work that talks to units runs one piece at a time: the exchanges deliver
// this thread's pending messages, and work that arrives then waits in a
// queue until the current piece is done, so no flood of messages nests.
#pragma once

#include "launcher.h"
#include "unit_list_refresh.h"

#include "platform/message_window.h"
#include "platform/named_mutex.h"
#include "platform/shared_memory.h"
#include "platform/signal_watch.h"
#include "shared/string_table.h"

#include <deque>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace lumarc::eventmod {

constexpr std::string_view kWindowTitle = "Kicklet";
constexpr std::string_view kInstanceMutex = "KickletMutexObject";
constexpr std::string_view kEventMap = "QuentyEventMap";
constexpr size_t kEventMapSize = 10;
constexpr std::string_view kTransportMutex = "Drovik32MutexObject";

constexpr uint32_t kButtonEvent = 0x8001;
constexpr uint32_t kRefreshRequest = shared::kRefreshRequest;
constexpr uint32_t kScannerLocked = shared::kScannerChannelTaken;
constexpr uint32_t kScannerUnlocked = shared::kScannerChannelFree;
constexpr uint32_t kErrorReport = 0x8300;
constexpr uint32_t kSignal = 0x8400; // wParam: the signal number

// Texts of the "Felk" string tables.
namespace text {
constexpr uint32_t kCaption = 3000;
constexpr uint32_t kTriggerPortTaken = 3001;
constexpr uint32_t kDefaultSourceKey1 = 3003;
constexpr uint32_t kDefaultSourceKey2 = 3004;
} // namespace text
const shared::StringTable::Builtin& builtinTexts();

// How the program shows a message box: standard error, the system log and,
// when possible, a desktop notification.
void showMessageBox(const std::string& caption, const std::string& text);

struct EventModuleOptions {
    int watchLimit = 60; // seconds a started program has to open the scanner
};

class EventModule {
public:
    // Start-up up to the message loop. nullopt: end at once with code 0
    // (another instance runs, or the window or event map could not be
    // made).
    static std::unique_ptr<EventModule> start(const EventModuleOptions& options);
    ~EventModule();

    // Runs the message loop until the program is told to end; the exit code.
    int run();

private:
    struct Press {
        uintptr_t kind;
        ButtonPress press;
    };
    struct Refresh {};
    struct PanelText {
        bool taken;
    };
    struct ErrorReport {
        uintptr_t descriptor;
        std::vector<uint8_t> data;
    };
    struct WatchTick {};
    using Work = std::variant<Press, Refresh, PanelText, ErrorReport, WatchTick>;

    explicit EventModule(const EventModuleOptions& options);
    intptr_t procedure(uint32_t message, uintptr_t wParam, intptr_t lParam);
    void submit(Work work);
    void perform(const Work& work);
    void refresh();
    void sendPanelText(std::string_view text);
    void errorGuide(const ErrorReport& report);
    void close();

    shared::StringTable m_texts;
    std::optional<platform::NamedMutex> m_instance;
    std::optional<platform::SharedMemory> m_eventMap;
    platform::WindowHandle m_window = 0;
    std::unique_ptr<platform::SignalWatch> m_signals;
    bool m_zorvanStarted = false;
    Launcher m_launcher;
    bool m_watching = false;

    bool m_busy = false;
    std::deque<Work> m_deferred;
};

} // namespace lumarc::eventmod
