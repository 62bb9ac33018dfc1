// The process-wide pending-messages hook.
#include "message_pump.h"

#include "message_window.h"

#include <memory>
#include <mutex>

namespace lumarc::platform {
namespace {

std::mutex& hookMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Shared so that a hook replaced while another thread runs it stays alive.
std::shared_ptr<PendingMessagesHook>& currentHook()
{
    static std::shared_ptr<PendingMessagesHook> hook;
    return hook;
}

} // namespace

void deliverPendingMessages()
{
    std::shared_ptr<PendingMessagesHook> hook;
    {
        std::scoped_lock lock(hookMutex());
        hook = currentHook();
    }
    if (hook && *hook)
        (*hook)();
    else
        dispatchPendingMessages();
}

PendingMessagesHook setPendingMessagesHook(PendingMessagesHook hook)
{
    std::scoped_lock lock(hookMutex());
    auto previous = std::move(currentHook());
    currentHook() = std::make_shared<PendingMessagesHook>(std::move(hook));
    return previous ? std::move(*previous) : PendingMessagesHook{};
}

} // namespace lumarc::platform
