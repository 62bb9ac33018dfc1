// The event module's window, its start-up and its messages.
#include "event_module.h"

#include "error_guide.h"
#include "twain_sources.h"

#include "mgmt/zorvan.h"

#include "platform/debug_output.h"
#include "platform/desktop_notification.h"
#include "platform/event_log.h"
#include "platform/folders.h"
#include "platform/language.h"
#include "platform/memory_block.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/unit_address.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <syslog.h>

namespace lumarc::eventmod {
namespace {

constexpr uintptr_t kWatchTimer = 100;
constexpr std::chrono::milliseconds kWatchPeriod{1000};
constexpr int32_t kTriggerPortTaken = 10048;
// Work that waits while a unit exchange runs: a unit or a local program
// flooding the window cannot make it grow without bound.
constexpr size_t kMaxDeferred = 256;
constexpr size_t kAddressCapacity = 128;
// Where an installer records the error-guide files' folder (at most 199
// characters are taken, as the system always has).
constexpr std::string_view kErrorGuideKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\KemrGuid.exe";
constexpr size_t kErrorGuidePathMax = 199;

const shared::StringTable::Builtin kBuiltin = {
    {text::kCaption, "Lumarc Event Module"},
    {text::kTriggerPortTaken,
     "The trigger port is already used by other application. Close the application or change "
     "the trigger port settings using Lumarc Software and restart your PC."},
    {text::kDefaultSourceKey1, "Default Source"},
    {text::kDefaultSourceKey2, "Default Source"},
};

std::string fieldText(const char* field, size_t size)
{
    return std::string(field, strnlen(field, size));
}

std::optional<std::filesystem::path> registeredErrorGuideFolder()
{
    auto path = platform::Registry().value(platform::RegistryRoot::LocalMachine, kErrorGuideKey,
                                           "Path");
    if (!path || path->empty())
        return std::nullopt;
    path->resize(std::min(path->size(), kErrorGuidePathMax));
    return std::filesystem::path(*path);
}

} // namespace

const shared::StringTable::Builtin& builtinTexts()
{
    return kBuiltin;
}

void showMessageBox(const std::string& caption, const std::string& message)
{
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), message.c_str());
    ::syslog(LOG_USER | LOG_ERR, "%s: %s", caption.c_str(), message.c_str());
    (void)platform::notifyDesktop(caption, caption, message, platform::NotificationUrgency::Critical);
}

EventModule::EventModule(const EventModuleOptions& options)
    : m_texts(shared::StringTable::load("Felk", kBuiltin)),
      m_launcher(LauncherServices{
          [](const std::string& unit, Report code) {
              const uint32_t r = Zorvan_Apl_Report(unit.c_str(), static_cast<uint32_t>(code));
              if (r != 0)
                  platform::debugOutput("Kicklet: report " +
                                        std::to_string(static_cast<uint32_t>(code)) + " to " +
                                        unit + " failed: " + std::to_string(r) + "\n");
          },
          [] { return platform::NamedMutex::exists(kTransportMutex); },
          [](const LaunchCommand& command) {
              return platform::Process::start(command.argv, command.workingFolder);
          },
          [this](const std::string& model) {
              (void)prepareDataSources(model, {m_texts.text(text::kDefaultSourceKey1),
                                               m_texts.text(text::kDefaultSourceKey2)});
          },
          [] { return shared::launchFilePath(); }, options.watchLimit})
{
}

std::unique_ptr<EventModule> EventModule::start(const EventModuleOptions& options)
{
    std::unique_ptr<EventModule> module(new EventModule(options));
    auto instance = platform::NamedMutex::create(kInstanceMutex);
    if (!instance || instance->alreadyExisted())
        return nullptr; // another instance serves this user
    module->m_instance.emplace(std::move(*instance));

    auto window = platform::createWindow(
        [m = module.get()](platform::WindowHandle, uint32_t message, uintptr_t wParam,
                           intptr_t lParam) { return m->procedure(message, wParam, lParam); },
        kWindowTitle);
    if (!window) {
        platform::debugOutput("Kicklet: window: " + window.error().text + "\n");
        return nullptr;
    }
    module->m_window = *window;
    auto signals = platform::SignalWatch::start({SIGTERM, SIGINT, SIGHUP, SIGCHLD},
                                                module->m_window, kSignal);
    if (signals)
        module->m_signals = std::move(*signals);

    const int32_t started = Zorvan_Startup(module->m_window, kButtonEvent);
    module->m_zorvanStarted = true;
    if (started == kTriggerPortTaken)
        showMessageBox(module->m_texts.text(text::kCaption),
                       module->m_texts.text(text::kTriggerPortTaken));
    else if (started != 0)
        platform::debugOutput("Kicklet: the listener did not start (" + std::to_string(started) +
                              "); running without button events\n");

    module->refresh();

    auto eventMap = platform::SharedMemory::create(kEventMap, kEventMapSize);
    if (!eventMap)
        return nullptr;
    std::memset(eventMap->data(), 0, kEventMapSize);
    module->m_eventMap.emplace(std::move(*eventMap));
    return module;
}

EventModule::~EventModule()
{
    m_signals.reset();
    if (m_zorvanStarted)
        Zorvan_Cleanup();
    if (m_window != 0 && platform::isWindow(m_window))
        (void)platform::destroyWindow(m_window);
}

int EventModule::run()
{
    platform::Message message;
    while (platform::getMessage(message))
        platform::dispatchMessage(message);
    return static_cast<int>(message.wParam);
}

intptr_t EventModule::procedure(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    switch (message) {
    case kButtonEvent: {
        // The block is ours from here on: take its values, free it.
        auto block = reinterpret_cast<platform::MemoryHandle>(lParam);
        Press press{wParam, {}};
        if (const auto* event = static_cast<const ButtonEvent*>(platform::globalLock(block))) {
            press.press.unit = platform::addressText(event->address);
            press.press.flags = event->flags;
            press.press.user = fieldText(event->userName, sizeof event->userName);
            press.press.scanner = fieldText(event->scannerModel, sizeof event->scannerModel);
            platform::globalUnlock(block);
        }
        platform::globalFree(block);
        if (m_eventMap)
            m_eventMap->data()[0] = static_cast<std::byte>(wParam & 0xFF);
        if (wParam == 1)
            submit(std::move(press));
        return 0;
    }
    case kRefreshRequest:
        submit(Refresh{});
        return 0;
    case kScannerLocked:
    case kScannerUnlocked:
        submit(PanelText{message == kScannerLocked});
        return 0;
    case platform::wm::kCopyData: {
        // The data are valid only while this message is handled: a private
        // copy goes to the error-guide step.
        const auto* copy = reinterpret_cast<const platform::CopyData*>(lParam);
        if (copy != nullptr) {
            ErrorReport report{copy->dwData, {}};
            if (copy->lpData != nullptr)
                report.data.assign(static_cast<const uint8_t*>(copy->lpData),
                                   static_cast<const uint8_t*>(copy->lpData) + copy->cbData);
            submit(std::move(report));
        }
        return 1;
    }
    case platform::wm::kTimer:
        if (wParam == kWatchTimer)
            submit(WatchTick{});
        return 0;
    case kSignal:
        if (wParam == SIGCHLD)
            m_launcher.reapChildren();
        else
            close();
        return 0;
    case platform::wm::kDestroy:
        platform::postQuitMessage(0);
        return 0;
    default:
        return 0;
    }
}

void EventModule::submit(Work work)
{
    if (m_busy) {
        const bool tickQueued = std::holds_alternative<WatchTick>(work) &&
                                std::any_of(m_deferred.begin(), m_deferred.end(), [](const Work& w) {
                                    return std::holds_alternative<WatchTick>(w);
                                });
        if (tickQueued)
            return;
        if (m_deferred.size() >= kMaxDeferred) {
            platform::debugOutput("Kicklet: too much work waiting; a message was dropped\n");
            return;
        }
        m_deferred.push_back(std::move(work));
        return;
    }
    m_busy = true;
    perform(work);
    while (!m_deferred.empty()) {
        Work next = std::move(m_deferred.front());
        m_deferred.pop_front();
        perform(next);
    }
    m_busy = false;
}

void EventModule::perform(const Work& work)
{
    if (const auto* press = std::get_if<Press>(&work)) {
        if (m_launcher.launch(press->press) && !m_watching) {
            m_watching = true;
            (void)platform::setTimer(m_window, kWatchTimer, kWatchPeriod);
        }
    } else if (std::holds_alternative<Refresh>(work)) {
        refresh();
        shared::SettingsFile file;
        (void)file.writeWithRetry(shared::section::kCommon, shared::key::kRefresh,
                                  shared::kRefreshDone);
        (void)file.flush();
    } else if (const auto* panel = std::get_if<PanelText>(&work)) {
        if (panel->taken)
            m_launcher.scannerTaken();
        sendPanelText(panel->taken ? "0" : "1");
    } else if (const auto* report = std::get_if<ErrorReport>(&work)) {
        errorGuide(*report);
    } else if (std::holds_alternative<WatchTick>(work)) {
        if (!m_launcher.tick()) {
            m_watching = false;
            (void)platform::killTimer(m_window, kWatchTimer);
        }
    }
}

void EventModule::refresh()
{
    shared::SettingsFile file;
    ZorvanNetwork network;
    if (const auto model = refreshUnitList(file, network))
        (void)prepareDataSources(*model, {m_texts.text(text::kDefaultSourceKey1),
                                          m_texts.text(text::kDefaultSourceKey2)});
}

void EventModule::sendPanelText(std::string_view panelText)
{
    const shared::SettingsFile file;
    const std::string current =
        file.profile().readString(shared::section::kCommon, shared::key::kCurrent, "0");
    char address[kAddressCapacity] = {};
    file.profile().readString(current, shared::key::kIp, "", address, sizeof address);
    const std::string textCopy(panelText);
    (void)Zorvan_SendMsg(address, 0, textCopy.c_str(), static_cast<uint32_t>(textCopy.size()));
}

void EventModule::errorGuide(const ErrorReport& report)
{
    const auto code = errorCode(report.descriptor, report.data);
    if (!code)
        return;
    const auto file = chooseErrorGuideFile(registeredErrorGuideFolder(), platform::programFolder(),
                                           platform::userLanguage().idText());
    const std::string message = errorGuideText(file, *code);
    if (!message.empty())
        sendPanelText(message);
}

void EventModule::close()
{
    // The counterpart of agreeing to the log-off: the instance is given up
    // at once, the window goes, and the loop ends with the quit it posts.
    m_instance.reset();
    if (m_window != 0)
        (void)platform::destroyWindow(m_window);
}

} // namespace lumarc::eventmod
