// Network SCSI transport benchmark, run by bench/run.sh inside a private
// network namespace against a lumarc-unitsim process. Measures side by side
// on the same simulated scanner:
//   - 512 KiB image READ(10) requests through SendASPI32Command (event
//     completion), and a plain socket client sending the same tunnel requests
//     over its own connection: MB/s of both and the ratio;
//   - 96-byte INQUIRY round trips per second, both ways;
//   - the time to scan one A4 page at 300 dpi, 24-bit, with lumarc-scan.
#include "platform/event.h"
#include "platform/library.h"
#include "platform/unit_address.h"
#include "scsinet/aspi.h"
#include "tools/scan_command.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/uio.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace lumarc;

constexpr uint32_t kChunk = 512 * 1024;
constexpr int kRounds = 9;
constexpr int kReads = 400;       // per round
constexpr int kInquiries = 1500; // per round

// The window of the benchmark: A4, 300 dpi colour (26 MB a page).
std::vector<uint8_t> windowData()
{
    std::vector<uint8_t> w(48, 0);
    const auto be16 = [&](size_t at, uint32_t v) {
        w[at] = static_cast<uint8_t>(v >> 8);
        w[at + 1] = static_cast<uint8_t>(v);
    };
    const auto be32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            w[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    be16(6, 40);
    be16(10, 300);
    be16(12, 300);
    be32(22, 9921);
    be32(26, 14031);
    w[33] = 5;
    w[34] = 24;
    return w;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// A client of the transport library, as scanning software is.
class AspiClient {
public:
    explicit AspiClient(uint32_t (*send)(void*)) : m_send(send)
    {
        m_done = std::make_unique<platform::Event>(
            std::move(*platform::Event::create(platform::EventReset::Auto)));
    }
    uint8_t run(std::initializer_list<uint8_t> cdb, uint8_t* data, uint32_t length, bool in)
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
        return block.SRB_Status == SS_COMP || block.SRB_Status == SS_ERR ? SS_COMP
                                                                         : block.SRB_Status;
    }

private:
    uint32_t (*m_send)(void*);
    std::unique_ptr<platform::Event> m_done;
};

// The reference: the same tunnel requests written directly on a socket.
class PlainClient {
public:
    explicit PlainClient(uint32_t address)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(10001);
        to.sin_addr.s_addr = address;
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
            std::perror("connect");
        uint8_t greeting[16];
        readExactly(greeting, sizeof greeting);
    }
    ~PlainClient() { ::close(m_fd); }
    bool run(std::initializer_list<uint8_t> cdb, uint8_t* data, uint32_t length, bool in)
    {
        uint8_t header[40] = {};
        const uint32_t out = in ? 0 : length;
        const uint32_t words[6] = {40 + out, 0x565A, 1, static_cast<uint32_t>(cdb.size()),
                                   in ? length : 0, out};
        std::memcpy(header, words, sizeof words);
        std::copy(cdb.begin(), cdb.end(), header + 24);
        iovec parts[2] = {{header, sizeof header}, {data, out}};
        if (::writev(m_fd, parts, out != 0 ? 2 : 1) < 0)
            return false;
        uint8_t reply[40];
        return readExactly(reply, sizeof reply) && (!in || readExactly(data, length));
    }

private:
    bool readExactly(uint8_t* into, size_t length)
    {
        size_t got = 0;
        while (got < length) {
            const ssize_t n = ::recv(m_fd, into + got, length - got, 0);
            if (n <= 0)
                return false;
            got += static_cast<size_t>(n);
        }
        return true;
    }
    int m_fd = -1;
};

template <class Client> double readRate(Client& client)
{
    std::vector<uint8_t> buffer(kChunk);
    auto window = windowData();
    client.run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, window.data(), 48, false);
    client.run({0x1B, 0, 0, 0, 0, 0}, nullptr, 0, false);
    // Warm: the first pass renders the page on the unit.
    for (int i = 0; i < 60; ++i)
        client.run({0x28, 0, 0, 0, 0, 0, 0x08, 0, 0, 0}, buffer.data(), kChunk, true);
    client.run({0x1B, 0, 0, 0, 0, 0}, nullptr, 0, false);
    const auto begin = Clock::now();
    for (int i = 0; i < kReads; ++i) {
        if (i % 40 == 39) // stay within the page (48 reads of 512 KiB)
            client.run({0x1B, 0, 0, 0, 0, 0}, nullptr, 0, false);
        client.run({0x28, 0, 0, 0, 0, 0, 0x08, 0, 0, 0}, buffer.data(), kChunk, true);
    }
    return kReads * static_cast<double>(kChunk) / 1e6 / seconds(Clock::now() - begin);
}

template <class Client> double inquiryRate(Client& client)
{
    uint8_t inquiry[96];
    for (int i = 0; i < 200; ++i)
        client.run({0x12, 0, 0, 0, 96, 0}, inquiry, 96, true);
    const auto begin = Clock::now();
    for (int i = 0; i < kInquiries; ++i)
        client.run({0x12, 0, 0, 0, 96, 0}, inquiry, 96, true);
    return kInquiries / seconds(Clock::now() - begin);
}

} // namespace

int main(int argc, char** argv)
{
    const char* unit = argc > 1 ? argv[1] : "127.0.0.2";
    const char* label = argc > 2 ? argv[2] : "";
    auto library = platform::Library::load("DROVIK32.dll");
    if (!library) {
        std::fprintf(stderr, "cannot load the transport: %s\n", library.error().text.c_str());
        return 1;
    }
    auto support = library->function<uint32_t(const char*)>("GetASPI32SupportInfo2");
    auto send = library->function<uint32_t(void*)>("SendASPI32Command");
    if (!support || !send || (*support)(unit) != 0x0101) {
        std::fprintf(stderr, "the transport did not start against %s\n", unit);
        return 1;
    }
    AspiClient aspi(*send);
    PlainClient plain(*platform::resolveUnitAddress(unit));

    // Alternate the two clients round by round so that both see the same
    // machine; each ratio is taken within one round, and the median of the
    // rounds is reported, so a noisy moment on a shared machine moves one
    // round and not the result.
    std::vector<double> aspiRead, plainRead, readRatio, aspiInq, plainInq, inqRatio;
    for (int round = 0; round < kRounds; ++round) {
        aspiRead.push_back(readRate(aspi));
        plainRead.push_back(readRate(plain));
        readRatio.push_back(aspiRead.back() / plainRead.back());
        aspiInq.push_back(inquiryRate(aspi));
        plainInq.push_back(inquiryRate(plain));
        inqRatio.push_back(aspiInq.back() / plainInq.back());
    }
    std::printf("%s%smedians of %d rounds\n", label, *label != 0 ? ", " : "", kRounds);
    std::printf("  512 KiB READ(10):  SendASPI32Command %7.0f MB/s, plain client %7.0f MB/s, "
                "ratio %.2f (rounds %.2f-%.2f; target >= 0.80)\n",
                median(aspiRead), median(plainRead), median(readRatio),
                *std::min_element(readRatio.begin(), readRatio.end()),
                *std::max_element(readRatio.begin(), readRatio.end()));
    std::printf("  96-byte INQUIRY:   SendASPI32Command %7.0f /s,   plain client %7.0f /s,   "
                "ratio %.2f (rounds %.2f-%.2f; target >= 0.50)\n",
                median(aspiInq), median(plainInq), median(inqRatio),
                *std::min_element(inqRatio.begin(), inqRatio.end()),
                *std::max_element(inqRatio.begin(), inqRatio.end()));

    std::ostringstream out, err;
    const auto begin = Clock::now();
    const int scanned = lumarc::tools::runScan(
        {"-u", unit, "-r", "300", "-o", "/tmp/lumarc-bench-a4.png", "--quiet"}, out, err);
    const double took = seconds(Clock::now() - begin);
    ::unlink("/tmp/lumarc-bench-a4.png");
    if (scanned != 0) {
        std::fprintf(stderr, "lumarc-scan failed: %s\n", err.str().c_str());
        return 1;
    }
    std::printf("  A4 page, 300 dpi, 24-bit, with lumarc-scan (PNG written): %.2f s\n", took);
    return 0;
}
