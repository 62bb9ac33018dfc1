// "Deliver everything pending now": what a long blocking call does before
// each step so that the calling thread's windows stay responsive.
//
// The platform's message windows install the delivery of the calling
// thread's queue; a Qt program installs a hook that also processes Qt
// events. The hook runs on the thread that calls deliverPendingMessages and
// may run window procedures there, so callers must tolerate re-entry.
#pragma once

#include <functional>

namespace lumarc::platform {

using PendingMessagesHook = std::function<void()>;

// Runs the installed hook; without one, dispatches the calling thread's
// pending window messages.
void deliverPendingMessages();

// Installs a hook for the whole process; returns the previous one.
PendingMessagesHook setPendingMessagesHook(PendingMessagesHook hook);

} // namespace lumarc::platform
