// Network SCSI transport benchmark, run by bench/run.sh inside a private
// network namespace. One run compares clients of one server, round by round,
// each round on new connections (a connection keeps some state for its
// whole life, such as a pacing sender's bandwidth estimate) and in alternating
// slices, so that all clients see the same machine:
//   - SendASPI32Command (event completion) and a plain client on its own
//     connection, both against the server at --unit: the library's ratio is
//     its own cost when that server is a fast responder;
//   - the least hand-off (bench/clients.h), the floor of any client that
//     completes on a thread other than the caller's, as the library must:
//     the library's ratio to it is its cost beyond what its rules prescribe;
//   - with --bare ADDRESS, the plain client against a bare server as well,
//     which shows what the server at --unit costs beyond the wire;
// for 512 KiB image READ(10)s (MB/s) and 96-byte INQUIRYs (per second),
// with the client process's context switches and CPU time per request.
// With --scan, an A4 page at 300 dpi colour: the time to read it through
// the library, to encode it as PNG, and lumarc-scan's time end to end.
//
//   aspi_bench --unit ADDRESS [--bare ADDRESS] [--title TEXT] [--targets] [--scan]
//              [--verbose] [--server-pid PID]
//   aspi_bench --unit ADDRESS --count library|plain|handoff inquiry|read N
// --verbose prints every round's rates; --server-pid adds the context
// switches and CPU time of that server process per request. --count makes N
// requests with one client and nothing else, for counting system calls and
// context switches from outside (perf stat, strace -c): the difference
// between two runs with different N is the cost of those requests alone.
#include "clients.h"
#include "platform/library.h"
#include "platform/unit_address.h"
#include "scsinet/aspi.h"
#include "tools/png_writer.h"
#include "tools/scan_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace lumarc;
using namespace lumarc::bench;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kChunk = 512 * 1024;
constexpr int kRounds = 11;
// Short slices, so that other work on the machine falls on every client
// alike: 400 reads and 1600 INQUIRYs per client and round.
constexpr int kSlices = 40;            // per client and round
constexpr int kReadsPerSlice = 10;     // within one page of 48 reads
constexpr int kInquiriesPerSlice = 40;
constexpr int kScans = 3;

// A4 at 300 dpi in colour, as lumarc-scan sets it.
constexpr uint32_t kPixels = 9921 * 300 / 1200;
constexpr uint32_t kLines = 14031 * 300 / 1200;
constexpr uint32_t kBytesPerLine = kPixels * 3;

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

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

bool setWindow(TunnelClient& client)
{
    auto window = windowData();
    return client.run({0x24, 0, 0, 0, 0, 0, 0, 0, 48, 0}, window.data(), 48, false);
}

bool startScan(TunnelClient& client)
{
    return client.run({0x1B, 0, 0, 0, 0, 0}, nullptr, 0, false);
}

bool readChunk(TunnelClient& client, uint8_t* buffer)
{
    return client.run({0x28, 0, 0, 0, 0, 0, 0x08, 0, 0, 0}, buffer, kChunk, true);
}

bool inquire(TunnelClient& client)
{
    uint8_t inquiry[96];
    return client.run({0x12, 0, 0, 0, 96, 0}, inquiry, 96, true);
}

// The transport library loaded for one round: its own connection, closed
// when the library is unloaded.
class LibraryClient {
public:
    static std::unique_ptr<LibraryClient> open(const char* unit)
    {
        auto library = platform::Library::load("DROVIK32.dll");
        if (!library) {
            std::fprintf(stderr, "cannot load the transport: %s\n", library.error().text.c_str());
            return nullptr;
        }
        auto support = library->function<uint32_t(const char*)>("GetASPI32SupportInfo2");
        auto send = library->function<uint32_t(void*)>("SendASPI32Command");
        if (!support || !send || (*support)(unit) != 0x0101) {
            std::fprintf(stderr, "the transport did not start against %s\n", unit);
            return nullptr;
        }
        return std::unique_ptr<LibraryClient>(new LibraryClient(std::move(*library), *send));
    }
    AspiClient& client() { return m_client; }

private:
    LibraryClient(platform::Library library, AspiClient::Send* send)
        : m_library(std::move(library)), m_client(send)
    {
    }
    platform::Library m_library;
    AspiClient m_client;
};

// One client's part of the benchmark.
struct Contender {
    TunnelClient* client = nullptr;
    Series reads;
    Series inquiries;
};

// One round: every contender's slices in turn, the order turning each slice.
bool runRound(const std::vector<Contender*>& contenders, std::vector<uint8_t>& buffer)
{
    bool ok = true;
    for (Contender* c : contenders) {
        // Warm: the window (a simulated unit renders its page once), the
        // connection, the caches.
        ok = ok && setWindow(*c->client) && startScan(*c->client);
        for (int i = 0; i < 60 && ok; ++i)
            ok = readChunk(*c->client, buffer.data()) && inquire(*c->client);
    }
    const size_t n = contenders.size();
    for (int slice = 0; slice < kSlices && ok; ++slice) {
        for (size_t k = 0; k < n && ok; ++k) {
            Contender& c = *contenders[(k + static_cast<size_t>(slice)) % n];
            ok = startScan(*c.client);
            c.reads.slice(kReadsPerSlice, [&] {
                for (int i = 0; i < kReadsPerSlice && ok; ++i)
                    ok = readChunk(*c.client, buffer.data());
            });
        }
        for (size_t k = 0; k < n && ok; ++k) {
            Contender& c = *contenders[(k + static_cast<size_t>(slice)) % n];
            c.inquiries.slice(kInquiriesPerSlice, [&] {
                for (int i = 0; i < kInquiriesPerSlice && ok; ++i)
                    ok = inquire(*c.client);
            });
        }
    }
    for (Contender* c : contenders) {
        c->reads.endRound(kChunk / 1e6);
        c->inquiries.endRound(1);
    }
    return ok;
}

struct Line {
    const char* name;
    const Series* series;
    const Series* against = nullptr; // the ratio's denominator
    const char* of = "";
    double target = 0;
};

void table(const char* title, const char* unit, const std::vector<Line>& lines, bool targets)
{
    printHead(title, unit, targets);
    for (const Line& l : lines) {
        char ratio[64] = "";
        char target[16] = "";
        if (l.against != nullptr) {
            const Spread r = spread(ratios(l.series->rates(), l.against->rates()));
            std::snprintf(ratio, sizeof ratio, "%.2f of %s (%.2f-%.2f)", r.median, l.of, r.low,
                          r.high);
            if (targets && l.target > 0)
                std::snprintf(target, sizeof target, ">= %.2f", l.target);
        }
        printLine(l.name, spread(l.series->rates()).median, ratio, target, *l.series);
    }
}

// The page through the library, kept for the encoding that follows.
double deliverPage(TunnelClient& aspi, std::vector<uint8_t>& page)
{
    page.resize(static_cast<size_t>(kLines) * kBytesPerLine);
    const uint32_t linesPerRead = kChunk / kBytesPerLine;
    const auto begin = Clock::now();
    setWindow(aspi);
    startScan(aspi);
    for (uint32_t line = 0; line < kLines;) {
        const uint32_t count = std::min(linesPerRead, kLines - line);
        const uint32_t bytes = count * kBytesPerLine;
        aspi.run({0x28, 0, 0, 0, 0, 0, static_cast<uint8_t>(bytes >> 16),
                  static_cast<uint8_t>(bytes >> 8), static_cast<uint8_t>(bytes), 0},
                 page.data() + static_cast<size_t>(line) * kBytesPerLine, bytes, true);
        line += count;
    }
    return seconds(Clock::now() - begin);
}

std::optional<double> encodePage(const std::vector<uint8_t>& page, const char* path)
{
    const auto begin = Clock::now();
    auto png = tools::PngWriter::create(path, kPixels, kLines, 3, 300);
    if (!png)
        return std::nullopt;
    for (uint32_t line = 0; line < kLines; ++line)
        if (!(*png)->writeRow(std::span(page).subspan(static_cast<size_t>(line) * kBytesPerLine,
                                                      kBytesPerLine)))
            return std::nullopt;
    if (!(*png)->finish())
        return std::nullopt;
    return seconds(Clock::now() - begin);
}

int scanPage(const char* unit, TunnelClient& aspi)
{
    const std::string path = "/tmp/lumarc-bench-a4-" + std::to_string(::getpid()) + ".png";
    std::vector<double> delivered, encoded, scanned;
    std::vector<uint8_t> page;
    for (int i = 0; i < kScans; ++i) {
        delivered.push_back(deliverPage(aspi, page));
        const auto took = encodePage(page, path.c_str());
        if (!took) {
            std::fprintf(stderr, "PNG encoding failed\n");
            return 1;
        }
        encoded.push_back(*took);
        std::ostringstream out, err;
        const auto begin = Clock::now();
        if (tools::runScan({"-u", unit, "-r", "300", "-o", path, "--quiet"}, out, err) != 0) {
            std::fprintf(stderr, "lumarc-scan failed: %s\n", err.str().c_str());
            return 1;
        }
        scanned.push_back(seconds(Clock::now() - begin));
    }
    ::unlink(path.c_str());
    const double mb = static_cast<double>(page.size()) / 1e6;
    const auto show = [&](const char* what, const std::vector<double>& s) {
        const Spread t = spread(s);
        std::printf("    %-44s %6.3f s (%.3f-%.3f)  %6.0f MB/s\n", what, t.median, t.low, t.high,
                    mb / t.median);
    };
    std::printf("  A4 page, 300 dpi, 24-bit (%.1f MB), medians of %d:\n", mb, kScans);
    show("read through SendASPI32Command", delivered);
    show("PNG encoding alone (tools/png_writer)", encoded);
    show("lumarc-scan end to end (PNG written)", scanned);
    return 0;
}

// The --count mode: one client, a few requests to warm it, then n more.
int count(const char* unit, uint32_t address, const std::string& who, const std::string& kind,
          long n)
{
    std::unique_ptr<LibraryClient> library;
    std::optional<PlainTunnelClient> plain;
    std::optional<HandOffTunnelClient> handOff;
    TunnelClient* client = nullptr;
    if (who == "library") {
        library = LibraryClient::open(unit);
        client = library ? &library->client() : nullptr;
    } else if (who == "plain") {
        plain.emplace(address);
        client = plain->connected() ? &*plain : nullptr;
    } else if (who == "handoff") {
        handOff.emplace(address);
        client = handOff->connected() ? &*handOff : nullptr;
    }
    if (client == nullptr || (kind != "inquiry" && kind != "read")) {
        std::fprintf(stderr, "no such client or request kind\n");
        return 1;
    }
    std::vector<uint8_t> buffer(kChunk);
    const bool reads = kind == "read";
    bool ok = !reads || (setWindow(*client) && startScan(*client));
    for (long i = 0; i < 10 + n && ok; ++i)
        ok = reads ? readChunk(*client, buffer.data()) : inquire(*client);
    if (!ok)
        std::fprintf(stderr, "a request failed\n");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const char* unit = "127.0.0.2";
    const char* bare = nullptr;
    std::string title;
    bool targets = false, scan = false, verbose = false;
    std::string countWho, countKind;
    long countRequests = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--unit" && i + 1 < argc)
            unit = argv[++i];
        else if (arg == "--bare" && i + 1 < argc)
            bare = argv[++i];
        else if (arg == "--title" && i + 1 < argc)
            title = argv[++i];
        else if (arg == "--targets")
            targets = true;
        else if (arg == "--scan")
            scan = true;
        else if (arg == "--verbose")
            verbose = true;
        else if (arg == "--server-pid" && i + 1 < argc)
            watchServer(std::atoi(argv[++i]));
        else if (arg == "--count" && i + 3 < argc) {
            countWho = argv[++i];
            countKind = argv[++i];
            countRequests = std::max(0L, std::atol(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: aspi_bench --unit ADDRESS [--bare ADDRESS] "
                                 "[--title TEXT] [--targets] [--scan] [--verbose] "
                                 "[--server-pid PID]\n"
                                 "       aspi_bench --unit ADDRESS --count library|plain|handoff "
                                 "inquiry|read N\n");
            return 2;
        }
    }
    const auto unitAddress = platform::resolveUnitAddress(unit);
    const auto bareAddress = platform::resolveUnitAddress(bare != nullptr ? bare : unit);
    if (!unitAddress || !bareAddress) {
        std::fprintf(stderr, "no such address\n");
        return 1;
    }
    if (countRequests >= 0)
        return count(unit, *unitAddress, countWho, countKind, countRequests);

    // Each ratio is taken within one round; the median of the rounds is
    // reported, so a noisy moment on a shared machine moves one round and
    // not the result.
    std::vector<uint8_t> buffer(kChunk);
    Contender aspi, handOff, plain, plainToBare;
    for (int round = 0; round < kRounds; ++round) {
        auto library = LibraryClient::open(unit);
        HandOffTunnelClient handOffClient(*unitAddress);
        PlainTunnelClient plainClient(*unitAddress);
        std::optional<PlainTunnelClient> bareClient;
        if (bare != nullptr)
            bareClient.emplace(*bareAddress);
        if (!library || !handOffClient.connected() || !plainClient.connected() ||
            (bareClient && !bareClient->connected())) {
            std::fprintf(stderr, "a client could not connect\n");
            return 1;
        }
        aspi.client = &library->client();
        handOff.client = &handOffClient;
        plain.client = &plainClient;
        plainToBare.client = bareClient ? &*bareClient : nullptr;
        std::vector<Contender*> contenders{&aspi, &handOff, &plain};
        if (bareClient)
            contenders.push_back(&plainToBare);
        if (!runRound(contenders, buffer)) {
            std::fprintf(stderr, "a request failed\n");
            return 1;
        }
        if (verbose)
            std::printf("round %d: READ MB/s library %.0f hand-off %.0f plain %.0f bare %.0f; "
                        "INQUIRY/s library %.0f hand-off %.0f plain %.0f bare %.0f\n",
                        round, aspi.reads.rates().back(), handOff.reads.rates().back(),
                        plain.reads.rates().back(),
                        bareClient ? plainToBare.reads.rates().back() : 0,
                        aspi.inquiries.rates().back(), handOff.inquiries.rates().back(),
                        plain.inquiries.rates().back(),
                        bareClient ? plainToBare.inquiries.rates().back() : 0);
    }

    std::printf("%s%smedians of %d rounds; context switches and CPU time per request\n",
                title.c_str(), title.empty() ? "" : ": ", kRounds);
    std::vector<Line> reads, inquiries;
    if (bare != nullptr) {
        reads.push_back({"plain client, bare server", &plainToBare.reads});
        reads.push_back({"plain client", &plain.reads, &plainToBare.reads, "bare", 0.9});
        inquiries.push_back({"plain client, bare server", &plainToBare.inquiries});
        inquiries.push_back(
            {"plain client", &plain.inquiries, &plainToBare.inquiries, "bare", 0.9});
    } else {
        reads.push_back({"plain client", &plain.reads});
        inquiries.push_back({"plain client", &plain.inquiries});
    }
    reads.push_back({"least hand-off", &handOff.reads, &plain.reads, "plain"});
    reads.push_back({"SendASPI32Command", &aspi.reads, &plain.reads, "plain", 0.9});
    reads.push_back({"SendASPI32Command", &aspi.reads, &handOff.reads, "hand-off"});
    inquiries.push_back({"least hand-off", &handOff.inquiries, &plain.inquiries, "plain"});
    inquiries.push_back({"SendASPI32Command", &aspi.inquiries, &plain.inquiries, "plain", 0.8});
    inquiries.push_back({"SendASPI32Command", &aspi.inquiries, &handOff.inquiries, "hand-off"});
    table("512 KiB READ(10)", "MB/s", reads, targets);
    table("96-byte INQUIRY", "per s", inquiries, targets);
    if (!scan)
        return 0;
    auto library = LibraryClient::open(unit);
    return library ? scanPage(unit, library->client()) : 1;
}
