// Windows, thread queues and the cross-process window link.
//
// Every thread that uses windows has a ThreadQueue, reached through a
// thread_local owner and shared with the global window registry. A queue's
// thread waits in poll() on: its wake-up eventfd (posts, sends and results
// from other threads), the sockets selected for its windows, and the
// datagram sockets of its titled windows; timers bound the wait.
#include "message_window.h"

#include "error_codes.h"
#include "folders.h"
#include "named_mutex.h"
#include "unique_fd.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace lumarc::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Internal: a destroy request carried to the owner thread.
constexpr uint32_t kDestroyRequest = 0x7FFF0001;

// The cross-process datagram: a fixed head, then the data of a data copy.
constexpr uint32_t kLinkMagic = 0x4D574D4C; // "LMWM"
constexpr uint32_t kLinkPost = 1;
constexpr uint32_t kLinkCopyData = 2;
constexpr size_t kLinkHead = 44;

struct ThreadQueue;

struct WindowRecord {
    WindowHandle handle = 0;
    std::weak_ptr<ThreadQueue> owner;
    WindowProcedure procedure;
    std::string title;
    std::string socketPath; // bound datagram socket of a titled local window
    bool remote = false;    // a window of another process, reached by socketPath
};

struct PendingSend {
    Message message;
    std::shared_ptr<ThreadQueue> sender;
    std::atomic<bool> done{false};
    bool failed = false;
    intptr_t result = 0;
};

struct SocketWatch {
    WindowHandle window = 0;
    uint32_t message = 0;
    uint32_t events = 0;
    bool outstanding = false; // a read/accept message waits in the queue
    bool writeSent = false;
    bool connectSent = false;
    bool closed = false;
};

struct Timer {
    WindowHandle window;
    uintptr_t id;
    std::chrono::milliseconds interval;
    Clock::time_point due;
};

struct CopyPayload {
    CopyData record;
    std::vector<uint8_t> bytes;
};

struct ThreadQueue {
    std::mutex mutex;
    UniqueFd wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::deque<Message> posted;
    std::deque<std::shared_ptr<PendingSend>> sent;
    std::vector<Timer> timers;
    std::map<int, SocketWatch> sockets;
    std::map<int, WindowHandle> links; // datagram socket -> titled window
    std::vector<UniqueFd> linkSockets;
    std::map<intptr_t, std::unique_ptr<CopyPayload>> copies; // lParam -> payload
    bool quit = false;
    int quitCode = 0;
    bool alive = true;

    void wakeUp() const
    {
        const uint64_t one = 1;
        (void)!::write(wake.get(), &one, sizeof one);
    }
    void drainWake() const
    {
        uint64_t value;
        while (::read(wake.get(), &value, sizeof value) > 0) {
        }
    }
};

// The registry of windows, local and remote.
struct Registry {
    std::mutex mutex;
    std::unordered_map<WindowHandle, std::shared_ptr<WindowRecord>> windows;
    WindowHandle next = 0x10000;

    std::shared_ptr<WindowRecord> find(WindowHandle handle)
    {
        std::scoped_lock lock(mutex);
        const auto it = windows.find(handle);
        return it == windows.end() ? nullptr : it->second;
    }
    WindowHandle add(std::shared_ptr<WindowRecord> record)
    {
        std::scoped_lock lock(mutex);
        next += 2;
        record->handle = next;
        windows.emplace(next, std::move(record));
        return next;
    }
    std::shared_ptr<WindowRecord> remove(WindowHandle handle)
    {
        std::scoped_lock lock(mutex);
        const auto it = windows.find(handle);
        if (it == windows.end())
            return nullptr;
        auto record = it->second;
        windows.erase(it);
        return record;
    }
};

Registry& registry()
{
    static Registry* instance = new Registry; // lives as long as any thread may use it
    return *instance;
}

void releaseQueue(const std::shared_ptr<ThreadQueue>& queue);

// Owns the calling thread's queue; on thread exit, windows die and waiting
// senders are released.
struct QueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~QueueHolder()
    {
        if (queue)
            releaseQueue(queue);
    }
};

thread_local QueueHolder t_holder;

std::shared_ptr<ThreadQueue> currentQueue()
{
    if (!t_holder.queue)
        t_holder.queue = std::make_shared<ThreadQueue>();
    return t_holder.queue;
}

Error noWindow(WindowHandle window)
{
    return Error{win32::kInvalidWindowHandle,
                 "window " + std::to_string(window) + " does not exist"};
}

std::string linkPath(const std::filesystem::path& folder, std::string_view title)
{
    return (folder / ("window." + encodeObjectName(title))).string();
}

bool fillAddress(const std::string& path, sockaddr_un& address)
{
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// Whether a process listens on the datagram socket at path.
bool linkAlive(const std::string& path)
{
    sockaddr_un address;
    if (!fillAddress(path, address))
        return false;
    UniqueFd probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    return probe &&
           ::connect(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// The fixed head of a cross-process datagram.
std::array<uint8_t, kLinkHead> linkHead(uint32_t kind, uint32_t message, uintptr_t wParam,
                                        uintptr_t dwData, size_t dataSize)
{
    std::array<uint8_t, kLinkHead> head{};
    const auto put32 = [&](size_t at, uint32_t v) { std::memcpy(head.data() + at, &v, 4); };
    const auto put64 = [&](size_t at, uint64_t v) { std::memcpy(head.data() + at, &v, 8); };
    put32(0, kLinkMagic);
    put32(4, kind);
    put32(8, message);
    put64(16, wParam);
    put64(24, 0); // lParam: never a pointer across processes
    put64(32, dwData);
    put32(40, static_cast<uint32_t>(dataSize));
    return head;
}

Status sendLinkDatagram(const std::string& path, uint32_t kind, uint32_t message, uintptr_t wParam,
                        uintptr_t dwData, std::span<const uint8_t> data)
{
    sockaddr_un address;
    if (!fillAddress(path, address))
        return Error{win32::kFilenameTooLong, "window socket path too long"};
    const auto head = linkHead(kind, message, wParam, dwData, data.size());
    std::vector<uint8_t> datagram(head.begin(), head.end());
    datagram.resize(kLinkHead + data.size());
    if (!data.empty())
        std::memcpy(&datagram[kLinkHead], data.data(), data.size());
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return win32Error("window socket", errno);
    if (::sendto(fd.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                 reinterpret_cast<sockaddr*>(&address), sizeof address) !=
        static_cast<ssize_t>(datagram.size()))
        return Error{win32::kInvalidWindowHandle, "window at " + path + " does not answer"};
    return {};
}

// Reads every datagram waiting on a titled window's socket into the queue.
// Only well-formed datagrams of our own user get through.
void receiveLinkDatagrams(ThreadQueue& queue, int fd, WindowHandle window)
{
    for (;;) {
        std::vector<uint8_t> buffer(kLinkHead + kMaxCopyData + 1);
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        iovec io{buffer.data(), buffer.size()};
        msghdr header{};
        header.msg_iov = &io;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd, &header, MSG_DONTWAIT);
        if (n < 0)
            return;
        if ((header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0 ||
            static_cast<size_t>(n) < kLinkHead)
            continue;
        bool ours = false;
        for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
                ucred credentials;
                std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
                ours = credentials.uid == ::getuid();
            }
        }
        uint32_t magic, kind, message, length;
        uint64_t wParam, lParam, dwData;
        std::memcpy(&magic, &buffer[0], 4);
        std::memcpy(&kind, &buffer[4], 4);
        std::memcpy(&message, &buffer[8], 4);
        std::memcpy(&wParam, &buffer[16], 8);
        std::memcpy(&lParam, &buffer[24], 8);
        std::memcpy(&dwData, &buffer[32], 8);
        std::memcpy(&length, &buffer[40], 4);
        if (!ours || magic != kLinkMagic || lParam != 0 ||
            static_cast<size_t>(n) != kLinkHead + length)
            continue;
        if (kind == kLinkPost && length == 0 && message != kDestroyRequest) {
            queue.posted.push_back({window, message, static_cast<uintptr_t>(wParam), 0});
        } else if (kind == kLinkCopyData) {
            auto payload = std::make_unique<CopyPayload>();
            payload->bytes.assign(buffer.begin() + kLinkHead, buffer.begin() + n);
            payload->record = {static_cast<uintptr_t>(dwData), length,
                               payload->bytes.empty() ? nullptr : payload->bytes.data()};
            const auto key = reinterpret_cast<intptr_t>(&payload->record);
            queue.copies.emplace(key, std::move(payload));
            queue.posted.push_back({window, wm::kCopyData, static_cast<uintptr_t>(wParam), key});
        }
    }
}

void unlinkTitled(WindowRecord& record)
{
    if (!record.remote && !record.socketPath.empty())
        ::unlink(record.socketPath.c_str());
}

// Forgets everything a queue holds for a window (owner thread, lock held).
void forgetWindow(ThreadQueue& queue, WindowHandle window)
{
    std::erase_if(queue.timers, [&](const Timer& t) { return t.window == window; });
    std::erase_if(queue.sockets, [&](const auto& s) { return s.second.window == window; });
    for (auto it = queue.links.begin(); it != queue.links.end();) {
        if (it->second == window) {
            const int fd = it->first;
            std::erase_if(queue.linkSockets, [&](const UniqueFd& u) { return u.get() == fd; });
            it = queue.links.erase(it);
        } else {
            ++it;
        }
    }
}

void destroyOnOwner(WindowHandle window)
{
    auto record = registry().find(window);
    if (!record)
        return;
    if (record->procedure)
        record->procedure(window, wm::kDestroy, 0, 0);
    registry().remove(window);
    if (auto owner = record->owner.lock()) {
        std::scoped_lock lock(owner->mutex);
        forgetWindow(*owner, window);
    }
    unlinkTitled(*record);
}

// Handles the sends waiting for this thread; returns whether it handled any.
bool processSent(const std::shared_ptr<ThreadQueue>& queue)
{
    bool any = false;
    for (;;) {
        std::shared_ptr<PendingSend> pending;
        {
            std::scoped_lock lock(queue->mutex);
            if (queue->sent.empty())
                return any;
            pending = queue->sent.front();
            queue->sent.pop_front();
        }
        any = true;
        const Message& m = pending->message;
        auto record = registry().find(m.window);
        if (!record || record->remote || record->owner.lock() != queue) {
            pending->failed = true;
        } else if (m.message == kDestroyRequest) {
            destroyOnOwner(m.window);
        } else if (record->procedure) {
            pending->result = record->procedure(m.window, m.message, m.wParam, m.lParam);
        }
        pending->done.store(true, std::memory_order_release);
        pending->sender->wakeUp();
    }
}

void releaseQueue(const std::shared_ptr<ThreadQueue>& queue)
{
    std::vector<WindowHandle> owned;
    {
        std::scoped_lock lock(registry().mutex);
        for (const auto& [handle, record] : registry().windows)
            if (!record->remote && record->owner.lock() == queue)
                owned.push_back(handle);
    }
    for (WindowHandle handle : owned) {
        if (auto record = registry().remove(handle))
            unlinkTitled(*record);
    }
    std::deque<std::shared_ptr<PendingSend>> waiting;
    {
        std::scoped_lock lock(queue->mutex);
        queue->alive = false;
        waiting.swap(queue->sent);
    }
    for (auto& pending : waiting) {
        pending->failed = true;
        pending->done.store(true, std::memory_order_release);
        pending->sender->wakeUp();
    }
}

// Checks a watched socket that poll() reported; queues its notifications.
void classifySocket(ThreadQueue& queue, int fd, SocketWatch& watch, short revents)
{
    if ((revents & POLLNVAL) != 0) {
        watch.closed = true; // closed behind our back: stop watching
        return;
    }
    if ((watch.events & fd::kConnect) != 0 && !watch.connectSent &&
        (revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
        int err = 0;
        socklen_t length = sizeof err;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length);
        watch.connectSent = true;
        queue.posted.push_back({watch.window, watch.message, static_cast<uintptr_t>(fd),
                                socketNotification(fd::kConnect, wsaFromErrno(err))});
    }
    if ((watch.events & fd::kWrite) != 0 && !watch.writeSent && (revents & POLLOUT) != 0) {
        watch.writeSent = true;
        queue.posted.push_back({watch.window, watch.message, static_cast<uintptr_t>(fd),
                                socketNotification(fd::kWrite, 0)});
    }
    if ((revents & (POLLIN | POLLHUP | POLLERR)) == 0 || watch.outstanding)
        return;
    if ((watch.events & fd::kAccept) != 0) {
        watch.outstanding = true;
        queue.posted.push_back({watch.window, watch.message, static_cast<uintptr_t>(fd),
                                socketNotification(fd::kAccept, 0)});
        return;
    }
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        if ((watch.events & fd::kRead) != 0) {
            watch.outstanding = true;
            queue.posted.push_back({watch.window, watch.message, static_cast<uintptr_t>(fd),
                                    socketNotification(fd::kRead, 0)});
        }
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    // End of stream or a connection error: one close notification.
    const uint32_t error = n < 0 ? wsaFromErrno(errno) : 0;
    watch.closed = true;
    if ((watch.events & fd::kClose) != 0)
        queue.posted.push_back({watch.window, watch.message, static_cast<uintptr_t>(fd),
                                socketNotification(fd::kClose, error)});
}

// Takes the next queued message (posted, then due timers); with wait, blocks
// until one arrives. Returns false when there is none (no wait) or on quit.
enum class Take { Message, None, Quit };

Take takeMessage(const std::shared_ptr<ThreadQueue>& queue, Message& out, bool wait)
{
    for (;;) {
        processSent(queue);
        std::vector<pollfd> fds;
        int timeout = wait ? -1 : 0;
        {
            std::scoped_lock lock(queue->mutex);
            if (!queue->posted.empty()) {
                out = queue->posted.front();
                queue->posted.pop_front();
                // A read or accept notification comes again once this one is
                // taken (the socket is read in its handler).
                if (auto it = queue->sockets.find(static_cast<int>(out.wParam));
                    it != queue->sockets.end() && it->second.window == out.window &&
                    it->second.message == out.message)
                    it->second.outstanding = false;
                return Take::Message;
            }
            if (queue->quit) {
                queue->quit = false;
                out = Message{0, wm::kQuit, static_cast<uintptr_t>(queue->quitCode), 0};
                return Take::Quit;
            }
            const auto now = Clock::now();
            for (auto& timer : queue->timers) {
                if (timer.due <= now) {
                    timer.due = now + timer.interval;
                    out = Message{timer.window, wm::kTimer, timer.id, 0};
                    return Take::Message;
                }
                if (wait) {
                    const auto left =
                        std::chrono::duration_cast<std::chrono::milliseconds>(timer.due - now)
                            .count() +
                        1;
                    timeout = timeout < 0 ? static_cast<int>(left)
                                          : std::min(timeout, static_cast<int>(left));
                }
            }
            std::erase_if(queue->sockets, [](const auto& s) { return s.second.closed; });
            // A look without waiting needs the descriptors only for the
            // sockets and links: posts, sends, quits and timers are all in
            // memory (the wake-up that comes with them is drained by the next
            // wait). This keeps the check that every exchange makes before
            // connecting free of system calls on an ordinary thread.
            if (!wait && queue->sockets.empty() && queue->links.empty() && queue->sent.empty())
                return Take::None;
            fds.push_back({queue->wake.get(), POLLIN, 0});
            for (const auto& [fd, watch] : queue->sockets) {
                short events = 0;
                if (!watch.outstanding)
                    events |= POLLIN;
                if (((watch.events & fd::kWrite) != 0 && !watch.writeSent) ||
                    ((watch.events & fd::kConnect) != 0 && !watch.connectSent))
                    events |= POLLOUT;
                fds.push_back({fd, events, 0});
            }
            for (const auto& [fd, window] : queue->links)
                fds.push_back({fd, POLLIN, 0});
        }
        const int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR)
            return Take::None;
        queue->drainWake();
        bool queued = false;
        {
            std::scoped_lock lock(queue->mutex);
            for (size_t i = 1; n > 0 && i < fds.size(); ++i) {
                if (fds[i].revents == 0)
                    continue;
                const int fd = fds[i].fd;
                if (auto it = queue->sockets.find(fd); it != queue->sockets.end()) {
                    classifySocket(*queue, fd, it->second, fds[i].revents);
                } else if (auto link = queue->links.find(fd); link != queue->links.end()) {
                    receiveLinkDatagrams(*queue, fd, link->second);
                }
            }
            queued = !queue->posted.empty() || !queue->sent.empty() || queue->quit;
        }
        if (!wait && !queued && !processSent(queue)) {
            // One more look at timers that fell due during the poll.
            std::scoped_lock lock(queue->mutex);
            const auto now = Clock::now();
            const bool due = std::any_of(queue->timers.begin(), queue->timers.end(),
                                         [&](const Timer& t) { return t.due <= now; });
            if (!due)
                return Take::None;
        }
    }
}

// A live titled window of this process, or 0.
WindowHandle findLocalWindow(std::string_view title)
{
    std::scoped_lock lock(registry().mutex);
    for (const auto& [handle, record] : registry().windows)
        if (!record->remote && record->title == title && !record->owner.expired())
            return handle;
    return 0;
}

// The socket address of a titled window of another process. The runtime
// folder is checked once for each value of XDG_RUNTIME_DIR, and the address
// of the last title is kept, so the frequent posts to one window cost no
// look-up and no allocation.
Result<sockaddr_un> titledWindowAddress(std::string_view title)
{
    static std::mutex mutex;
    static std::optional<std::string> checkedFor;
    static std::filesystem::path folder;
    static std::string lastTitle;
    static sockaddr_un lastAddress{};
    const char* variable = std::getenv("XDG_RUNTIME_DIR");
    const std::string_view now = variable != nullptr ? variable : "";
    std::scoped_lock lock(mutex);
    if (checkedFor != now) {
        auto checked = runtimeFolder();
        if (!checked)
            return checked.error();
        folder = std::move(*checked);
        checkedFor = std::string(now);
        lastTitle.clear();
    }
    if (lastTitle != title) { // never equal after a failure: titles are not empty
        lastTitle.clear();
        if (!fillAddress(linkPath(folder, title), lastAddress))
            return Error{win32::kFilenameTooLong, "window title too long"};
        lastTitle = std::string(title);
    }
    return lastAddress;
}

std::shared_ptr<ThreadQueue> ownerOf(WindowHandle window, std::shared_ptr<WindowRecord>* out)
{
    auto record = registry().find(window);
    if (out != nullptr)
        *out = record;
    if (!record || record->remote)
        return nullptr;
    return record->owner.lock();
}

} // namespace

Result<WindowHandle> createWindow(WindowProcedure procedure, std::string_view title)
{
    auto queue = currentQueue();
    if (!queue->wake)
        return win32Error("eventfd", errno);
    auto record = std::make_shared<WindowRecord>();
    record->owner = queue;
    record->procedure = std::move(procedure);
    record->title = std::string(title);

    UniqueFd link;
    if (!title.empty()) {
        auto folder = runtimeFolder();
        if (!folder)
            return folder.error();
        const std::string path = linkPath(*folder, title);
        sockaddr_un address;
        if (!fillAddress(path, address))
            return Error{win32::kFilenameTooLong, "window title too long"};
        link.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!link)
            return win32Error("window socket", errno);
        const int on = 1;
        ::setsockopt(link.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
        if (::bind(link.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            if (errno != EADDRINUSE)
                return win32Error("bind " + path, errno);
            // A file left by a process that died is taken over; a live
            // window keeps its title.
            if (linkAlive(path))
                return Error{win32::kAlreadyExists, "a window titled \"" + record->title +
                                                        "\" exists already"};
            ::unlink(path.c_str());
            if (::bind(link.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                return win32Error("bind " + path, errno);
        }
        record->socketPath = path;
    }
    const WindowHandle handle = registry().add(record);
    if (link) {
        std::scoped_lock lock(queue->mutex);
        queue->links.emplace(link.get(), handle);
        queue->linkSockets.push_back(std::move(link));
    }
    return handle;
}

Status destroyWindow(WindowHandle window)
{
    std::shared_ptr<WindowRecord> record;
    auto owner = ownerOf(window, &record);
    if (!record)
        return noWindow(window);
    if (record->remote)
        return Error{win32::kAccessDenied, "a window of another process"};
    if (owner == currentQueue()) {
        destroyOnOwner(window);
        return {};
    }
    auto sent = sendMessage(window, kDestroyRequest);
    if (!sent)
        return sent.error();
    return {};
}

bool isWindow(WindowHandle window)
{
    auto record = registry().find(window);
    if (!record)
        return false;
    if (record->remote)
        return linkAlive(record->socketPath);
    auto owner = record->owner.lock();
    return owner != nullptr;
}

Status postMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    std::shared_ptr<WindowRecord> record;
    auto owner = ownerOf(window, &record);
    if (record && record->remote) {
        if (lParam != 0)
            return Error{win32::kInvalidParameter, "lParam must be 0 across processes"};
        return sendLinkDatagram(record->socketPath, kLinkPost, message, wParam, 0, {});
    }
    if (!owner)
        return noWindow(window);
    {
        std::scoped_lock lock(owner->mutex);
        if (!owner->alive)
            return noWindow(window);
        owner->posted.push_back({window, message, wParam, lParam});
    }
    owner->wakeUp();
    return {};
}

Result<intptr_t> sendMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                             intptr_t lParam)
{
    std::shared_ptr<WindowRecord> record;
    auto owner = ownerOf(window, &record);
    if (record && record->remote)
        return Error{win32::kInvalidParameter, "only data copies are sent to other processes"};
    if (!owner)
        return noWindow(window);
    auto self = currentQueue();
    if (owner == self) {
        if (message == kDestroyRequest) {
            destroyOnOwner(window);
            return intptr_t{0};
        }
        return record->procedure ? record->procedure(window, message, wParam, lParam) : 0;
    }
    auto pending = std::make_shared<PendingSend>();
    pending->message = {window, message, wParam, lParam};
    pending->sender = self;
    {
        std::scoped_lock lock(owner->mutex);
        if (!owner->alive)
            return noWindow(window);
        owner->sent.push_back(pending);
    }
    owner->wakeUp();
    // Wait for the result, handling the sends addressed to this thread.
    while (!pending->done.load(std::memory_order_acquire)) {
        if (processSent(self))
            continue;
        // The owner wakes us when it is done, as does any send to us.
        pollfd p{self->wake.get(), POLLIN, 0};
        if (::poll(&p, 1, -1) > 0)
            self->drainWake();
    }
    if (pending->failed)
        return noWindow(window);
    return pending->result;
}

Status sendCopyData(WindowHandle window, WindowHandle from, uintptr_t dwData,
                    std::span<const uint8_t> data)
{
    if (data.size() > kMaxCopyData)
        return Error{win32::kInvalidParameter, "data copy larger than " +
                                                   std::to_string(kMaxCopyData) + " bytes"};
    std::shared_ptr<WindowRecord> record;
    ownerOf(window, &record);
    if (record && record->remote)
        return sendLinkDatagram(record->socketPath, kLinkCopyData, wm::kCopyData, from, dwData,
                                data);
    CopyData copy{dwData, static_cast<uint32_t>(data.size()), data.data()};
    auto sent = sendMessage(window, wm::kCopyData, from, reinterpret_cast<intptr_t>(&copy));
    if (!sent)
        return sent.error();
    return {};
}

void postQuitMessage(int exitCode)
{
    auto queue = currentQueue();
    std::scoped_lock lock(queue->mutex);
    queue->quit = true;
    queue->quitCode = exitCode;
}

bool getMessage(Message& message)
{
    return takeMessage(currentQueue(), message, true) == Take::Message;
}

bool peekMessage(Message& message)
{
    return takeMessage(currentQueue(), message, false) == Take::Message;
}

intptr_t dispatchMessage(const Message& message)
{
    auto record = registry().find(message.window);
    intptr_t result = 0;
    if (record && !record->remote && record->procedure &&
        record->owner.lock() == currentQueue())
        result = record->procedure(message.window, message.message, message.wParam,
                                   message.lParam);
    if (message.message == wm::kCopyData) {
        auto queue = currentQueue();
        std::scoped_lock lock(queue->mutex);
        queue->copies.erase(message.lParam);
    }
    return result;
}

void dispatchPendingMessages()
{
    auto queue = currentQueue();
    Message message;
    for (;;) {
        const Take taken = takeMessage(queue, message, false);
        if (taken == Take::None)
            return;
        if (taken == Take::Quit) {
            // Leave the quit for the thread's own message loop.
            postQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        dispatchMessage(message);
    }
}

Status setTimer(WindowHandle window, uintptr_t id, std::chrono::milliseconds interval)
{
    auto owner = ownerOf(window, nullptr);
    if (!owner)
        return noWindow(window);
    {
        std::scoped_lock lock(owner->mutex);
        std::erase_if(owner->timers,
                      [&](const Timer& t) { return t.window == window && t.id == id; });
        owner->timers.push_back({window, id, interval, Clock::now() + interval});
    }
    owner->wakeUp();
    return {};
}

Status killTimer(WindowHandle window, uintptr_t id)
{
    auto owner = ownerOf(window, nullptr);
    if (!owner)
        return noWindow(window);
    std::scoped_lock lock(owner->mutex);
    std::erase_if(owner->timers, [&](const Timer& t) { return t.window == window && t.id == id; });
    return {};
}

Status selectSocketEvents(int socket, WindowHandle window, uint32_t message, uint32_t events)
{
    auto owner = ownerOf(window, nullptr);
    if (!owner)
        return noWindow(window);
    if (socket < 0)
        return Error{wsa::kNotSocket, "no socket"};
    {
        std::scoped_lock lock(owner->mutex);
        if (events == 0)
            owner->sockets.erase(socket);
        else
            owner->sockets[socket] = SocketWatch{window, message, events};
    }
    owner->wakeUp();
    return {};
}

bool waitHandlingSends(const Event& event, std::chrono::milliseconds timeout)
{
    auto self = currentQueue();
    const bool forever = timeout.count() < 0;
    const auto deadline = Clock::now() + (forever ? std::chrono::milliseconds(0) : timeout);
    for (;;) {
        processSent(self);
        if (event.wait(std::chrono::milliseconds(0)))
            return true;
        int wait = -1;
        if (!forever) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            wait = static_cast<int>(std::min<int64_t>(left.count(), 1 << 30));
        }
        pollfd fds[2] = {{event.fd(), POLLIN, 0}, {self->wake.get(), POLLIN, 0}};
        if (::poll(fds, 2, wait) > 0 && (fds[1].revents & POLLIN) != 0)
            self->drainWake();
    }
}

WindowHandle findWindow(std::string_view title)
{
    if (title.empty())
        return 0;
    if (const WindowHandle local = findLocalWindow(title); local != 0)
        return local;
    {
        std::scoped_lock lock(registry().mutex);
        for (const auto& [handle, record] : registry().windows)
            if (record->remote && record->title == title && linkAlive(record->socketPath))
                return handle;
    }
    auto folder = runtimeFolder();
    if (!folder)
        return 0;
    const std::string path = linkPath(*folder, title);
    if (!linkAlive(path))
        return 0;
    auto record = std::make_shared<WindowRecord>();
    record->title = std::string(title);
    record->socketPath = path;
    record->remote = true;
    return registry().add(record);
}

Status postMessageToTitle(std::string_view title, uint32_t message, uintptr_t wParam)
{
    if (title.empty())
        return noWindow(0);
    if (const WindowHandle local = findLocalWindow(title); local != 0)
        return postMessage(local, message, wParam, 0);
    auto address = titledWindowAddress(title);
    if (!address)
        return address.error();
    // One unbound socket serves every such post of the process; sendto on
    // it is the whole cost, whether a window listens or not.
    static const UniqueFd sender(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sender)
        return win32Error("window socket", errno);
    const auto datagram = linkHead(kLinkPost, message, wParam, 0, 0);
    if (::sendto(sender.get(), datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&*address), sizeof(sockaddr_un)) !=
        static_cast<ssize_t>(datagram.size()))
        return Error{win32::kInvalidWindowHandle, "no window of that title takes messages"};
    return {};
}

} // namespace lumarc::platform
