// The scanner information tool as a program, without its windows: the
// single instance, the selected unit, scanner-information mode, the current
// unit and the device link, from start to end.
//
//   start():  mutex -> library started -> unit read -> mode entered ->
//             Current set -> link opened  ==> Run (show the sheet)
//   any failure on the way shows one message and gives End
//   end():    mode left (when entered) -> library cleaned up -> mutex
//             released -> link closed
//
// Single-threaded; requestStop() may come at any moment from the program's
// signal handling and makes start() end at its next step.
#pragma once

#include "message_boxes.h"
#include "scanner_data.h"
#include "sti_device_link.h"
#include "texts.h"
#include "unit_management.h"

#include "platform/named_mutex.h"
#include "shared/settings_file.h"

#include <memory>
#include <optional>
#include <string>

namespace lumarc::infotool {

constexpr const char* kInstanceMutex = "Gaugery";
constexpr size_t kScannerNameLength = 15;
constexpr size_t kUnitAddressLength = 259;

class ToolSession {
public:
    enum class Start {
        Run,        // the sheet may be shown
        End,        // a message was shown (or a stop was asked for)
        SecondCopy, // another copy runs: end silently
    };

    ToolSession(UnitManagement& management, MessageBoxes& boxes, const Texts& texts,
                StiDeviceLink::Creator creator = {});
    ~ToolSession(); // end()

    Start start();
    // Always safe to call, once or more; leaves the mode when it was entered.
    void end();
    void requestStop() { m_stop = true; }
    bool stopRequested() const { return m_stop; }

    const std::string& scannerName() const { return m_scanner; }
    const std::string& unitAddress() const { return m_address; }
    bool inScannerInfoMode() const { return m_modeEntered; }
    StiDeviceLink& link() { return *m_link; }
    const ScannerIdentity& identity() const { return m_identity; }
    // "%s - %s": the scanner name and the unit address.
    std::string caption() const;
    shared::SettingsFile& settings() { return m_settings; }

private:
    Start fail(uint32_t messageId);

    UnitManagement& m_management;
    MessageBoxes& m_boxes;
    const Texts& m_texts;
    StiDeviceLink::Creator m_creator;
    shared::SettingsFile m_settings;
    std::optional<platform::NamedMutex> m_mutex;
    bool m_started = false;
    bool m_modeEntered = false;
    bool m_stop = false;
    std::string m_scanner;
    std::string m_address;
    std::unique_ptr<StiDeviceLink> m_link;
    ScannerIdentity m_identity;
};

// Puts texts into a "%s" format one after another; other characters stay.
std::string formatText(const std::string& format, std::initializer_list<std::string> texts);

} // namespace lumarc::infotool
