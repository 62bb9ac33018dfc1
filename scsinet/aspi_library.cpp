// Start, dispatch, worker and completion of the transport.
#include "aspi_library.h"

#include "transport_log.h"
#include "tunnel.h"

#include "platform/error_codes.h"
#include "platform/event.h"
#include "platform/folders.h"
#include "platform/named_mutex.h"
#include "platform/net_socket.h"
#include "platform/profile.h"
#include "platform/unit_address.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <utility>

namespace lumarc::scsinet {
namespace {

constexpr uint32_t kSupportReady = 0x0101;
constexpr uint32_t kSupportBusy = 0xE500;
constexpr uint32_t kSupportFailed = 0xE400;
constexpr int32_t kDefaultDataRecv = 180;
constexpr size_t kAddressCapacity = 128;
constexpr size_t kMaxCdb = 16;
constexpr size_t kMaxSense = 24;
// The unit a start without an address uses when Drovik.ini names none: a
// simulated unit on this machine, never a guess on the user's network.
constexpr const char* kDefaultUnit = "127.0.0.2";
constexpr const char* kMutexName = "Drovik32MutexObject";
constexpr std::chrono::milliseconds kUnwokenWait{10};
// Times the worker yields to a caller that is sending before it sleeps.
constexpr int kSubmitYields = 20;

// Completion, in two steps: the status (with release order: a client that
// polls it sees the sense data and the buffer filled before it), then the
// event or the routine. How to signal is read before the status is
// published: from then on the block is the client's again, which may
// already be filling it for its next request.
struct Signal {
    uint8_t flags = 0;
    void* postProc = nullptr;
};

Signal signalOf(const SRB_ExecSCSICmd& block)
{
    return {block.SRB_Flags, block.SRB_PostProc};
}

void publishStatus(SRB_ExecSCSICmd& block, uint8_t status)
{
    __atomic_store_n(&block.SRB_Status, status, __ATOMIC_RELEASE);
}

void signalCompletion(SRB_ExecSCSICmd& block, const Signal& signal)
{
    if ((signal.flags & SRB_EVENT_NOTIFY) != 0) {
        (void)platform::Event::signal(
            static_cast<int>(reinterpret_cast<intptr_t>(signal.postProc)));
    } else if ((signal.flags & SRB_POSTING) != 0 && signal.postProc != nullptr) {
        reinterpret_cast<void (*)(SRB_ExecSCSICmd*)>(signal.postProc)(&block);
    }
}

void complete(SRB_ExecSCSICmd& block, uint8_t status)
{
    const Signal signal = signalOf(block);
    publishStatus(block, status);
    signalCompletion(block, signal);
}

// The receive time-out, read again when DROVIK32.ini changes. The file's
// place is fixed for the life of the library: the Windows directory does
// not move under a running process.
class DataRecvSetting {
public:
    DataRecvSetting() : m_path(platform::windowsFolder() / "DROVIK32.ini") {}

    std::chrono::seconds get()
    {
        struct stat st {};
        const bool exists = ::stat(m_path.c_str(), &st) == 0;
        const int64_t stamp = exists ? st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec : -1;
        std::scoped_lock lock(m_mutex);
        if (!m_value || stamp != m_stamp) {
            const auto value = static_cast<int32_t>(
                platform::Profile(m_path).readInt("TimeOut", "DataRecv", kDefaultDataRecv));
            m_value = std::chrono::seconds(value > 0 ? value : 1);
            m_stamp = stamp;
        }
        return *m_value;
    }

    // The value read last, without looking at the file.
    std::chrono::seconds last()
    {
        std::scoped_lock lock(m_mutex);
        return m_value.value_or(std::chrono::seconds(kDefaultDataRecv));
    }

private:
    const std::filesystem::path m_path;
    std::mutex m_mutex;
    std::optional<std::chrono::seconds> m_value;
    int64_t m_stamp = -1;
};

// Who has the request in hand. A caller sends its request itself, and the
// worker receives the reply and signals the completion: the worker wakes
// once per request (for the reply), where a hand-over of the request would
// cost it a second wake-up. The worker watches the connection while it
// waits, so that a reply wakes it, and drops what arrives between requests.
//
//   phase       the connection is            leads to
//   Idle        watched by the worker        Submitting (a caller sends), Draining
//                                            (bytes between requests), Running (queued)
//   Submitting  the caller's, sending        Sent
//   Sent        watched by the worker        Running (the reply begins, the rest of the
//                                            request is to send, or the time-out)
//   Running     the worker's                 Completing
//   Completing  nobody's: the status is      Submitting (a caller sends), Running (a
//               published, the signal comes  queued request), Idle
//   Draining    the worker's                 Idle
//
// While a completion is signalled its status is already published, so the
// next request may be sent: by the client that the completion woke, or by a
// completion routine. A request is queued for the worker instead (which then
// sends it too) when it cannot be sent at once: while the worker does not
// watch the connection (before the first request, or once the connection
// has ended), or a second one from a completion routine.
enum class Phase { Idle, Submitting, Sent, Running, Completing, Draining };

using Clock = std::chrono::steady_clock;

class Transport {
public:
    Transport()
    {
        auto mutex = platform::NamedMutex::create(kMutexName);
        if (mutex)
            m_mutex = std::make_unique<platform::NamedMutex>(std::move(*mutex));
        else
            logLine("transport mutex: %s\n", mutex.error().text.c_str());
        auto wake = platform::Event::create(platform::EventReset::Auto);
        if (wake)
            m_wake = std::make_unique<platform::Event>(std::move(*wake));
        else
            logLine("worker event: %s\n", wake.error().text.c_str());
        (void)m_dataRecv.get();
        m_worker = std::thread([this] { work(); });
    }

    ~Transport() { m_tunnel.close(); }

    // Ends the worker and releases the callers waiting to submit, for at
    // most `limit`. True when nothing runs in the transport any more, so it
    // may be destroyed; false when the worker or a caller is still inside
    // (the process is exiting from a completion routine, or a caller is
    // still in an export), and it must be left alone.
    bool stop(std::chrono::milliseconds limit)
    {
        m_tunnel.abort();
        std::unique_lock lock(m_queueMutex);
        m_stopping = true;
        m_queueChanged.notify_all();
        wakeWorker();
        if (std::this_thread::get_id() == m_worker.get_id()) {
            m_worker.detach(); // exit() from a completion routine
            return false;
        }
        const bool quiet = m_queueChanged.wait_for(
            lock, limit, [&] { return m_workerEnded && m_callers == 0; });
        lock.unlock();
        if (!quiet) {
            m_worker.detach();
            return false;
        }
        m_worker.join();
        return true;
    }

    // Counts a caller inside an export, so that unloading never destroys
    // what it waits on.
    class Call {
    public:
        explicit Call(Transport& t) : m_transport(t)
        {
            std::scoped_lock lock(t.m_queueMutex);
            ++t.m_callers;
        }
        ~Call()
        {
            std::scoped_lock lock(m_transport.m_queueMutex);
            if (--m_transport.m_callers == 0)
                m_transport.m_queueChanged.notify_all();
        }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

    private:
        Transport& m_transport;
    };

    // The first call starts the library and reports how that went; every
    // later call reports one ready adapter without any traffic, whatever
    // the first call's outcome (a failed start is not repeated).
    uint32_t supportInfo(const char* unitOrNull)
    {
        std::scoped_lock lock(m_startMutex);
        if (m_started)
            return kSupportReady;
        m_started = true;
        const uint32_t support = start(unitOrNull);
        if (support == kSupportReady) {
            // From now on the worker may watch the connection.
            std::scoped_lock queueLock(m_queueMutex);
            m_connected = true;
        }
        return support;
    }

    uint32_t execute(SRB_ExecSCSICmd& block)
    {
        if (block.SRB_Target != DROVIK_TARGET_ID) {
            complete(block, SS_NO_DEVICE);
            return SS_NO_DEVICE;
        }
        if (block.SRB_CDBLen > kMaxCdb) {
            complete(block, SS_INVALID_SRB);
            return SS_INVALID_SRB;
        }
        if (block.SRB_BufLen > DROVIK_MAX_DATA ||
            (block.SRB_BufLen != 0 && block.SRB_BufPointer == nullptr)) {
            complete(block, block.SRB_BufLen > DROVIK_MAX_DATA ? SS_BUFFER_TO_BIG : SS_INVALID_SRB);
            return block.SRB_Status;
        }
        if (block.SRB_SenseLen > kMaxSense)
            block.SRB_SenseLen = kMaxSense;
        const uint8_t* c = block.CDBByte;
        logLine("%02X %02X %02X %02X %02X %02X\n", c[0], c[1], c[2], c[3], c[4], c[5]);
        block.SRB_Status = SS_PENDING;

        std::unique_lock lock(m_queueMutex);
        const bool onWorker = std::this_thread::get_id() == m_worker.get_id();
        if (!onWorker) {
            // A new request waits for the previous one to complete (its
            // status published).
            m_queueChanged.wait(lock, [&] {
                return m_stopping || (m_queue.empty() &&
                                      (m_phase == Phase::Idle || m_phase == Phase::Completing));
            });
        }
        if (m_stopping) {
            // The library is being unloaded (the process may be exiting).
            lock.unlock();
            complete(block, SS_ASPI_IS_BUSY);
            return SS_ASPI_IS_BUSY;
        }
        // While a completion is signalled the worker reads the connection
        // next; while it is idle, only if it watches it.
        if (m_queue.empty() &&
            (m_phase == Phase::Completing || (m_phase == Phase::Idle && m_watchFd >= 0))) {
            m_phase = Phase::Submitting;
            lock.unlock();
            submit(block);
            return SS_PENDING;
        }
        m_queue.push_back(&block);
        // A worker that is busy takes the queue before it waits again.
        const bool wake = m_phase == Phase::Idle;
        if (wake)
            wakeWorker();
        return SS_PENDING;
    }

private:
    // A request that its caller sent, for the worker to complete.
    struct InFlight {
        SRB_ExecSCSICmd* block = nullptr;
        TunnelExchange exchange;
        int32_t sendResult = 0;
        std::chrono::seconds timeout{};
        Clock::time_point deadline; // for the first bytes of the reply
        bool arrived = false;       // bytes have arrived since it was sent
        bool needsWorker = false;   // a failed or partial send: the worker acts at once
    };

    uint32_t start(const char* unitOrNull)
    {
        // Without its mutex the transport would be invisible to the event
        // module; a library cannot refuse to load, so it refuses to start.
        if (!m_mutex) {
            logLine("the transport mutex could not be created\n");
            return kSupportFailed;
        }
        std::string unit;
        if (unitOrNull != nullptr) {
            unit.assign(unitOrNull, strnlen(unitOrNull, kAddressCapacity - 1));
        } else {
            const platform::Profile settings(platform::windowsFolder() / "twain_32" / "Drovik.ini");
            char buffer[kAddressCapacity];
            settings.readString("Setting", "Remote", kDefaultUnit, buffer, sizeof buffer);
            unit = buffer;
        }
        auto address = platform::resolveUnitAddress(unit);
        if (!address) {
            logLine("Error gethostbyname()\n %x", address.error().code);
            return kSupportFailed;
        }
        const int32_t opened = m_tunnel.open(*address, m_dataRecv.get());
        if (opened == 0)
            return kSupportReady;
        return opened == kTunnelFailed ? kSupportBusy : kSupportFailed;
    }

    // On the caller's thread, in the Submitting phase: the request goes out
    // as far as the socket takes it at once, then the worker has it.
    void submit(SRB_ExecSCSICmd& block)
    {
        logLine(">Send Scsi Command \n");
        InFlight f;
        f.block = &block;
        f.timeout = m_dataRecv.get();
        f.sendResult = m_tunnel.startRequest(block, f.exchange, false);
        f.deadline = Clock::now() + f.timeout;
        f.needsWorker = f.sendResult != 0 || f.exchange.sent < f.exchange.request.size();
        std::unique_lock lock(m_queueMutex);
        // A worker in its wait for arrivals sees the reply come; it is woken
        // only when it must act before that wait would end. A worker that
        // is not waiting takes the request when it is done.
        const bool waiting = m_waitEnd != Clock::time_point::min();
        const bool wake = waiting && (f.needsWorker || f.deadline < m_waitEnd);
        m_inFlight = f;
        m_phase = Phase::Sent;
        if (wake)
            wakeWorker();
        lock.unlock();
        m_submitted.notify_one();
    }

    void wakeWorker()
    {
        if (m_wake)
            (void)m_wake->set();
    }

    void work()
    {
        std::unique_lock lock(m_queueMutex);
        // Whether the worker has waited for arrivals since it last completed
        // a request: a request sent meanwhile may have its reply there, or
        // on its way.
        bool waited = false;
        for (;;) {
            if (m_phase == Phase::Submitting) {
                // The worker is done (or the reply, or a stray byte, came)
                // before the caller handed its request over. The caller is
                // a few instructions from doing so, unless it was preempted
                // on this CPU: yielding lets it finish without two more
                // system calls to sleep and to wake.
                for (int i = 0; i < kSubmitYields && m_phase == Phase::Submitting; ++i) {
                    lock.unlock();
                    std::this_thread::yield();
                    lock.lock();
                }
                m_submitted.wait(lock, [&] { return m_phase != Phase::Submitting; });
                continue;
            }
            if (m_phase == Phase::Sent) {
                InFlight& f = m_inFlight;
                // A worker that has not waited since the request was sent
                // goes straight to the reply: it is there, or the receive
                // waits for it (bounded by its time-out as ever).
                const bool take = f.needsWorker || f.arrived || !waited;
                const bool timedOut = !take && Clock::now() >= f.deadline;
                if (!take && !timedOut) {
                    waitForArrival(lock, f.deadline);
                    continue;
                }
                const InFlight taken = f;
                m_phase = Phase::Running;
                lock.unlock();
                const uint8_t status = finishSent(taken, timedOut);
                lock.lock();
                completeRequest(lock, *taken.block, status);
                waited = false;
                continue;
            }
            if (!m_queue.empty()) {
                SRB_ExecSCSICmd* block = m_queue.front();
                m_queue.pop_front();
                m_phase = Phase::Running;
                lock.unlock();
                const uint8_t status = run(*block);
                lock.lock();
                completeRequest(lock, *block, status);
                waited = false;
                continue;
            }
            m_phase = Phase::Idle;
            m_queueChanged.notify_all();
            if (m_stopping) {
                m_workerEnded = true;
                return;
            }
            // Watch the connection for bytes between requests (and for the
            // replies of requests that callers send themselves).
            m_watchFd = m_connected && !m_waitFailed ? m_tunnel.arrivalFd() : -1;
            waitForArrival(lock, Clock::now() + m_dataRecv.last());
            waited = true;
        }
    }

    // Waits with the lock released until bytes arrive on the watched
    // connection, the worker is woken, or until `until`; then notes the
    // arrival for a request that was sent, or drops bytes that arrived
    // between requests.
    void waitForArrival(std::unique_lock<std::mutex>& lock, Clock::time_point until)
    {
        const int fd = m_watchFd;
        // Without its event (the process ran out of descriptors at load) the
        // worker looks at its queue every few milliseconds.
        if (!m_wake)
            until = std::min(until, Clock::now() + kUnwokenWait);
        m_waitEnd = until;
        lock.unlock();
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        const auto ready = platform::waitReadable(
            fd, std::max(left, std::chrono::milliseconds::zero()), m_wake ? m_wake->fd() : -1);
        lock.lock();
        m_waitEnd = Clock::time_point::min();
        if (!ready) {
            if (ready.error().code == platform::win32::kOperationAborted) {
                (void)m_wake->consume();
            } else {
                // Never wait in a loop that fails at once: the connection is
                // no longer watched, and a request sent is received the
                // ordinary way.
                logLine("wait for the unit: %s\n", ready.error().text.c_str());
                m_waitFailed = true;
                m_watchFd = -1;
                if (m_phase == Phase::Sent)
                    m_inFlight.arrived = true;
            }
            return;
        }
        if (!*ready)
            return;
        if (m_phase == Phase::Sent) {
            m_inFlight.arrived = true;
        } else if (m_phase == Phase::Idle) {
            // A connection that has ended is readable for ever: arrivalFd()
            // no longer offers it, so the next wait does not watch it.
            m_phase = Phase::Draining;
            lock.unlock();
            (void)m_tunnel.dropArrived();
            lock.lock();
            m_phase = Phase::Idle;
            m_queueChanged.notify_all();
        }
    }

    // Publishes the status, then signals the completion with the lock
    // released; the next request may be sent meanwhile.
    void completeRequest(std::unique_lock<std::mutex>& lock, SRB_ExecSCSICmd& block, uint8_t status)
    {
        const Signal signal = signalOf(block);
        publishStatus(block, status);
        m_phase = Phase::Completing;
        lock.unlock();
        signalCompletion(block, signal);
        lock.lock();
    }

    // A request queued for the worker: all of it runs here.
    uint8_t run(SRB_ExecSCSICmd& block)
    {
        logLine(">Send Scsi Command \n");
        const auto timeout = m_dataRecv.get();
        uint8_t scsi = 0;
        const int32_t result = m_tunnel.exchange(block, &scsi, timeout);
        return conclude(block, result, scsi, timeout);
    }

    // A request its caller sent: the rest of the send, the reply.
    uint8_t finishSent(InFlight f, bool timedOut)
    {
        uint8_t scsi = 0;
        int32_t result = f.sendResult;
        if (result == 0) {
            result = timedOut ? m_tunnel.replyTimedOut(f.exchange)
                              : m_tunnel.finishRequest(*f.block, f.exchange, &scsi, f.timeout);
        }
        return conclude(*f.block, result, scsi, f.timeout);
    }

    // The status of a request from its exchange, with the follow-up of an
    // announcing command.
    uint8_t conclude(SRB_ExecSCSICmd& block, int32_t result, uint8_t scsi,
                     std::chrono::seconds timeout)
    {
        if (result != 0)
            return SS_ASPI_IS_BUSY;
        if (scsi != 0)
            return SS_ERR;
        if (block.CDBByte[0] != 0xF1 || block.CDBByte[1] != 0x05)
            return SS_COMP;
        // The announcement is followed at once by the real command F2 on a
        // copy of the block; only its status and data reach the caller.
        SRB_ExecSCSICmd followUp = block;
        followUp.CDBByte[0] = 0xF2;
        uint8_t followUpScsi = 0;
        uint8_t status = SS_ASPI_IS_BUSY;
        if (m_tunnel.exchange(followUp, &followUpScsi, timeout) == 0)
            status = followUpScsi == 0 ? SS_COMP : SS_ERR;
        if (status != SS_COMP) {
            std::memset(block.SenseArea, 0, sizeof block.SenseArea);
            block.SenseArea[0] = 0xF0;
            block.SenseArea[2] = 0x02; // NOT READY
            block.SenseArea[7] = 0x0A;
        }
        return status;
    }

    std::unique_ptr<platform::NamedMutex> m_mutex;
    DataRecvSetting m_dataRecv;
    TunnelConnection m_tunnel;
    std::unique_ptr<platform::Event> m_wake; // wakes the worker's wait for arrivals

    std::mutex m_startMutex;
    bool m_started = false;

    std::mutex m_queueMutex;
    std::condition_variable m_queueChanged; // callers waiting to submit, unloading
    std::condition_variable m_submitted;    // the worker waiting for a caller's send
    std::deque<SRB_ExecSCSICmd*> m_queue;
    Phase m_phase = Phase::Idle;
    InFlight m_inFlight;
    bool m_connected = false;  // the connection is open: the worker may watch it
    bool m_waitFailed = false; // a wait failed at once: no more watching
    int m_watchFd = -1;        // what the worker watches in its wait (-1: nothing)
    Clock::time_point m_waitEnd = Clock::time_point::min(); // when that wait ends
    bool m_stopping = false;
    bool m_workerEnded = false;
    int m_callers = 0;
    std::thread m_worker;
};

// How long unloading waits for the worker to finish the request in flight
// (its connection is shut down first, so this is a bound, not a delay).
constexpr std::chrono::milliseconds kStopWait{2000};

// The transport lives from load to unload. It is a plain pointer, not an
// object with a static destructor: at exit the library's destructor
// decides, and a static destructor running beside it (or before a thread
// still inside an export) would destroy what others wait on.
std::mutex g_transportMutex;
Transport* g_transport = nullptr;

// Runs f on the transport, counted as a caller from before unloading could
// see it until f returns.
template <class F> uint32_t withTransport(F f)
{
    std::unique_lock lock(g_transportMutex);
    if (g_transport == nullptr)
        g_transport = new Transport;
    Transport& t = *g_transport;
    const Transport::Call call(t);
    lock.unlock();
    return f(t);
}

} // namespace

uint32_t supportInfo(const char* unitOrNull)
{
    return withTransport([&](Transport& t) { return t.supportInfo(unitOrNull); });
}

uint32_t sendCommand(SRB_ExecSCSICmd* block)
{
    if (block == nullptr)
        return SS_INVALID_SRB;
    switch (block->SRB_Cmd) {
    case SC_EXEC_SCSI_CMD:
        return withTransport([&](Transport& t) { return t.execute(*block); });
    case SC_HA_INQUIRY:
    case SC_GET_DEV_TYPE:
    case SC_ABORT_SRB:
    case SC_RESET_DEV:
    case SC_GET_DISK_INFO:
        return SS_PENDING;
    default: // SC_SET_HA_PARMS and every unknown code
        return 0x101;
    }
}

void loadTransport()
{
    std::scoped_lock lock(g_transportMutex);
    if (g_transport == nullptr)
        g_transport = new Transport;
}

void unloadTransport()
{
    Transport* gone;
    {
        std::scoped_lock lock(g_transportMutex);
        gone = std::exchange(g_transport, nullptr);
    }
    // Never throws and never waits without end: this runs from the
    // library's destructor, also when the process exits with the library
    // loaded, a request in flight or a caller blocked in an export. What
    // cannot be stopped in time is left to the process's end.
    try {
        if (gone != nullptr && gone->stop(kStopWait))
            delete gone;
    } catch (...) {
    }
}

} // namespace lumarc::scsinet
