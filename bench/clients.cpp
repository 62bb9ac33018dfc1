// The benchmarks' clients and measurements.
#include "clients.h"

#include "scsinet/aspi.h"

#include <algorithm>
#include <array>
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace lumarc::bench {
namespace {

bool readExactly(int fd, uint8_t* into, size_t length)
{
    size_t got = 0;
    while (got < length) {
        const ssize_t n = ::recv(fd, into + got, length - got, 0);
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

int connectTo(uint32_t address, uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

PlainTunnelClient::PlainTunnelClient(uint32_t address) : m_fd(connectTo(address, 10001))
{
    uint8_t greeting[16];
    if (m_fd >= 0 && !readExactly(m_fd, greeting, sizeof greeting)) {
        ::close(m_fd);
        m_fd = -1;
    }
}

PlainTunnelClient::~PlainTunnelClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

namespace {

// A tunnel request's 40-byte header.
std::array<uint8_t, 40> requestHeader(std::initializer_list<uint8_t> cdb, uint32_t length, bool in)
{
    std::array<uint8_t, 40> header{};
    const uint32_t out = in ? 0 : length;
    const uint32_t words[6] = {40 + out, 0x565A, 1, static_cast<uint32_t>(cdb.size()),
                               in ? length : 0, out};
    std::memcpy(header.data(), words, sizeof words);
    std::copy(cdb.begin(), cdb.end(), header.begin() + 24);
    return header;
}

bool sendRequest(int fd, const std::array<uint8_t, 40>& header, uint8_t* data, uint32_t length,
                 bool in)
{
    const uint32_t out = in ? 0 : length;
    iovec parts[2] = {{const_cast<uint8_t*>(header.data()), header.size()}, {data, out}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = out != 0 ? 2 : 1;
    return ::sendmsg(fd, &message, MSG_NOSIGNAL) == static_cast<ssize_t>(40 + out);
}

// Fills the parts in order, the kernel waiting until all of it is there:
// one system call in the usual case.
bool receiveParts(int fd, iovec* into, size_t count)
{
    size_t first = 0;
    while (first < count && into[first].iov_len == 0)
        ++first;
    while (first < count) {
        msghdr message{};
        message.msg_iov = &into[first];
        message.msg_iovlen = count - first;
        const ssize_t n = ::recvmsg(fd, &message, MSG_WAITALL);
        if (n <= 0)
            return false;
        auto done = static_cast<size_t>(n);
        while (first < count && done >= into[first].iov_len)
            done -= into[first++].iov_len;
        if (first < count) {
            into[first].iov_base = static_cast<uint8_t*>(into[first].iov_base) + done;
            into[first].iov_len -= done;
        }
    }
    return true;
}

} // namespace

bool PlainTunnelClient::run(std::initializer_list<uint8_t> cdb, uint8_t* data, uint32_t length,
                            bool in)
{
    if (!sendRequest(m_fd, requestHeader(cdb, length, in), data, length, in))
        return false;
    // Header and data-in straight into place.
    uint8_t reply[40];
    iovec into[2] = {{reply, sizeof reply}, {data, in ? length : 0}};
    return receiveParts(m_fd, into, 2);
}

HandOffTunnelClient::HandOffTunnelClient(uint32_t address) : m_plain(address)
{
    auto done = platform::Event::create(platform::EventReset::Auto);
    if (!m_plain.connected() || !done)
        return;
    m_done = std::make_unique<platform::Event>(std::move(*done));
    m_worker = std::thread([this] { work(); });
}

HandOffTunnelClient::~HandOffTunnelClient()
{
    if (!m_worker.joinable())
        return;
    m_stopping = true;
    ::shutdown(m_plain.fd(), SHUT_RDWR);
    m_worker.join();
}

bool HandOffTunnelClient::run(std::initializer_list<uint8_t> cdb, uint8_t* data, uint32_t length,
                              bool in)
{
    Job job{in ? data : nullptr, in ? length : 0};
    m_job.store(&job);
    // A worker that has ended takes no more jobs; one that ends from now on
    // fails the job it finds.
    if (m_ended && m_job.exchange(nullptr) == &job)
        return false;
    if (!sendRequest(m_plain.fd(), requestHeader(cdb, length, in), data, length, in) &&
        m_job.exchange(nullptr) == &job)
        return false;
    return m_done->wait(std::chrono::seconds(30)) && job.ok;
}

void HandOffTunnelClient::work()
{
    for (;;) {
        uint8_t reply[40];
        iovec header{reply, sizeof reply};
        if (!receiveParts(m_plain.fd(), &header, 1))
            break;
        // A reply follows its request, and the request's job was published
        // before it was sent.
        Job* job = nullptr;
        while (!m_stopping && (job = m_job.exchange(nullptr)) == nullptr)
            std::this_thread::yield();
        if (job == nullptr)
            break;
        iovec data{job->data, job->length};
        const bool ok = receiveParts(m_plain.fd(), &data, 1);
        // The job lives on the caller's stack: not a byte of it once the
        // caller is woken.
        job->ok = ok;
        (void)m_done->set();
        if (!ok)
            break;
    }
    m_ended = true;
    if (Job* job = m_job.exchange(nullptr)) {
        job->ok = false;
        (void)m_done->set();
    }
}

AspiClient::AspiClient(Send* send) : m_send(send)
{
    m_done = std::make_unique<platform::Event>(
        std::move(*platform::Event::create(platform::EventReset::Auto)));
}

bool AspiClient::run(std::initializer_list<uint8_t> cdb, uint8_t* data, uint32_t length, bool in)
{
    SRB_ExecSCSICmd block{};
    block.SRB_Cmd = SC_EXEC_SCSI_CMD;
    block.SRB_Flags = SRB_EVENT_NOTIFY | (in ? SRB_DIR_IN : SRB_DIR_OUT);
    block.SRB_Target = 5;
    block.SRB_BufLen = length;
    block.SRB_BufPointer = data;
    block.SRB_SenseLen = 24;
    block.SRB_CDBLen = static_cast<uint8_t>(cdb.size());
    block.SRB_PostProc = reinterpret_cast<void*>(static_cast<intptr_t>(m_done->fd()));
    std::copy(cdb.begin(), cdb.end(), block.CDBByte);
    if (m_send(&block) == SS_PENDING)
        m_done->wait(std::chrono::seconds(30));
    return block.SRB_Status == SS_COMP || block.SRB_Status == SS_ERR;
}

bool plainExchange(uint32_t address, std::span<const uint8_t> request, std::span<uint8_t> reply)
{
    const int fd = connectTo(address, 10002);
    if (fd < 0)
        return false;
    uint8_t greeting[16];
    const bool ok = readExactly(fd, greeting, sizeof greeting) &&
                    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                        static_cast<ssize_t>(request.size()) &&
                    readExactly(fd, reply.data(), reply.size());
    ::close(fd);
    return ok;
}

Usage Usage::self()
{
    rusage r{};
    ::getrusage(RUSAGE_SELF, &r);
    Usage u;
    u.cpuSeconds = static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
                   static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    u.contextSwitches = r.ru_nvcsw + r.ru_nivcsw;
    return u;
}

Usage Usage::of(int pid)
{
    // Every thread: its switches from status, its time on a CPU (in
    // nanoseconds, finer than the tick counts of stat) from schedstat.
    Usage u;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* folder = ::opendir(tasks.c_str());
    if (folder == nullptr)
        return u;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string task = tasks + "/" + entry->d_name;
        std::ifstream status(task + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.find("ctxt_switches:") != std::string::npos)
                u.contextSwitches += std::atol(line.c_str() + line.find(':') + 1);
        std::ifstream schedstat(task + "/schedstat");
        unsigned long long ns = 0;
        if (schedstat >> ns)
            u.cpuSeconds += static_cast<double>(ns) / 1e9;
    }
    ::closedir(folder);
    return u;
}

namespace {
int g_serverPid = 0;
} // namespace

void watchServer(int pid)
{
    g_serverPid = pid;
}

Usage Series::server()
{
    return g_serverPid > 0 ? Usage::of(g_serverPid) : Usage{};
}

void printHead(const char* title, const char* unit, bool targets)
{
    std::printf("  %-28s %9s   %-28s %-8s %18s %18s\n", title, unit, "ratio (range of rounds)",
                targets ? "target" : "", "client cs, CPU us", "server cs, CPU us");
}

void printLine(const char* name, double rate, const char* ratio, const char* target,
               const Series& series)
{
    char client[32], server[32] = "";
    std::snprintf(client, sizeof client, "%5.2f %6.1f", series.switchesPerRequest(),
                  series.cpuMicrosecondsPerRequest());
    if (g_serverPid > 0)
        std::snprintf(server, sizeof server, "%5.2f %6.1f", series.serverSwitchesPerRequest(),
                      series.serverCpuMicrosecondsPerRequest());
    std::printf("    %-26s %9.0f   %-28s %-8s %18s %18s\n", name, rate, ratio, target, client,
                server);
}

void Series::endRound(double scale)
{
    endRoundAt(m_roundSeconds > 0 ? static_cast<double>(m_roundRequests) / m_roundSeconds * scale
                                  : 0);
}

void Series::endRoundAt(double rate)
{
    m_rates.push_back(rate);
    m_roundRequests = 0;
    m_roundSeconds = 0;
}

Spread spread(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

std::vector<double> ratios(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> r;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        r.push_back(a[i] / b[i]);
    return r;
}

} // namespace lumarc::bench
