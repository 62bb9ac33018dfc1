// The configuration tool as a program, without its windows: the single
// instance, the management library, the event module's window, and the end.
//
//   start():  mutex (a second copy brings the first one's window to the
//             front and ends) -> library started -> event module's window
//             found  ==> Run (show the unit list window)
//   a failure on the way shows one message and gives End
//   end():    library cleaned up (when started) -> mutex released
//
// Single-threaded.
#pragma once

#include "texts.h"
#include "unit_management.h"

#include "platform/named_mutex.h"
#include "shared/message_boxes.h"

#include <functional>
#include <optional>

namespace lumarc::configtool {

constexpr const char* kInstanceMutex = "hPrevUnitdeskInstance";

// Whether the event module's window exists, and the refresh request to it.
class EventModuleLink {
public:
    virtual ~EventModuleLink() = default;
    virtual bool exists() = 0;
    // Posts the refresh request (both parameters 0); false when the window
    // is gone or cannot take it.
    virtual bool requestRefresh() = 0;
};

// The window titled "Kicklet", in this process or another of the user.
class KickletWindow : public EventModuleLink {
public:
    bool exists() override;
    bool requestRefresh() override;
};

class UnitdeskSession {
public:
    enum class Start {
        Run,
        End,        // a message was shown
        SecondCopy, // the first copy was asked to come to the front
    };

    // activateFirst asks the running copy to come to the front (false when
    // its window could not be found).
    UnitdeskSession(UnitManagement& management, EventModuleLink& eventModule,
                    shared::MessageBoxes& boxes, const Texts& texts,
                    std::function<bool()> activateFirst);
    ~UnitdeskSession(); // end()

    Start start();
    void end();

private:
    Start fail(uint32_t message);

    UnitManagement& m_management;
    EventModuleLink& m_eventModule;
    shared::MessageBoxes& m_boxes;
    const Texts& m_texts;
    std::function<bool()> m_activateFirst;
    std::optional<platform::NamedMutex> m_mutex;
    bool m_started = false;
};

} // namespace lumarc::configtool
