// Start, dispatch, worker and completion of the transport.
#include "aspi_library.h"

#include "transport_log.h"
#include "tunnel.h"

#include "platform/event.h"
#include "platform/folders.h"
#include "platform/named_mutex.h"
#include "platform/profile.h"
#include "platform/unit_address.h"

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

// Completion: status, then the event or the routine.
void complete(SRB_ExecSCSICmd& block, uint8_t status)
{
    // Published with release order: a client that polls the status sees the
    // sense data and the buffer filled before it.
    __atomic_store_n(&block.SRB_Status, status, __ATOMIC_RELEASE);
    if ((block.SRB_Flags & SRB_EVENT_NOTIFY) != 0) {
        (void)platform::Event::signal(
            static_cast<int>(reinterpret_cast<intptr_t>(block.SRB_PostProc)));
    } else if ((block.SRB_Flags & SRB_POSTING) != 0 && block.SRB_PostProc != nullptr) {
        reinterpret_cast<void (*)(SRB_ExecSCSICmd*)>(block.SRB_PostProc)(&block);
    }
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

private:
    const std::filesystem::path m_path;
    std::mutex m_mutex;
    std::optional<std::chrono::seconds> m_value;
    int64_t m_stamp = -1;
};

class Transport {
public:
    Transport()
    {
        auto mutex = platform::NamedMutex::create(kMutexName);
        if (mutex)
            m_mutex = std::make_unique<platform::NamedMutex>(std::move(*mutex));
        else
            logLine("transport mutex: %s\n", mutex.error().text.c_str());
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
        return start(unitOrNull);
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
        if (std::this_thread::get_id() != m_worker.get_id()) {
            // A new request waits for the previous one to complete.
            m_queueChanged.wait(lock, [&] { return m_stopping || (m_queue.empty() && !m_busy); });
        }
        if (m_stopping) {
            // The library is being unloaded (the process may be exiting).
            lock.unlock();
            complete(block, SS_ASPI_IS_BUSY);
            return SS_ASPI_IS_BUSY;
        }
        m_queue.push_back(&block);
        lock.unlock();
        m_queueChanged.notify_all();
        return SS_PENDING;
    }

private:
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

    void work()
    {
        for (;;) {
            SRB_ExecSCSICmd* block = nullptr;
            {
                std::unique_lock lock(m_queueMutex);
                m_queueChanged.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
                if (m_queue.empty()) {
                    m_workerEnded = true;
                    m_queueChanged.notify_all();
                    return;
                }
                block = m_queue.front();
                m_queue.pop_front();
                m_busy = true;
            }
            const uint8_t status = run(*block);
            // The exchange is over: a caller waiting to submit may queue its
            // request now, so that it does not have to wait twice (once for
            // the completion, once more for this flag). The worker takes it
            // after the completion below, which may itself queue a request.
            {
                std::scoped_lock lock(m_queueMutex);
                m_busy = false;
            }
            m_queueChanged.notify_all();
            complete(*block, status);
        }
    }

    uint8_t run(SRB_ExecSCSICmd& block)
    {
        logLine(">Send Scsi Command \n");
        const auto timeout = m_dataRecv.get();
        uint8_t scsi = 0;
        if (m_tunnel.exchange(block, &scsi, timeout) != 0)
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

    std::mutex m_startMutex;
    bool m_started = false;

    std::mutex m_queueMutex;
    std::condition_variable m_queueChanged;
    std::deque<SRB_ExecSCSICmd*> m_queue;
    bool m_busy = false;
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
