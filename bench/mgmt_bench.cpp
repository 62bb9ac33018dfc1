// Management exchange benchmark, run by bench/run.sh inside a private network
// namespace. One run compares clients of one server, round by round:
//   - Zorvan_GetName and a plain socket client doing the same connect,
//     greeting, request, reply and close, against the server at --unit;
//   - with --bare ADDRESS, the plain client against a bare server as well;
// exchanges per second (from the median time of each round), with the client
// process's context switches and CPU time per exchange.
// With --database, Zorvan_GetAllUser + Zorvan_PutAllUser round trips and the
// client's peak memory (the server must be a simulated unit).
//
//   mgmt_bench --unit ADDRESS [--bare ADDRESS] [--title TEXT] [--targets]
//              [--database] [--rounds N] [--per-slice N] [--server-pid PID]
//   mgmt_bench --unit ADDRESS --count zorvan|plain N
// --count makes N exchanges with one client and nothing else, for counting
// system calls and context switches from outside (perf stat, strace -c).
#include "clients.h"
#include "mgmt/zorvan.h"
#include "platform/unit_address.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using namespace lumarc::bench;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kNameRequest[16] = {16, 0, 0, 0, 0x5A, 0x56, 0, 0, 0x40, 0x01, 0, 0, 0, 0, 0, 0};

double microseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

long peakKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// One client's part: its series, and the times of its calls this round.
struct Contender {
    std::function<bool()> call;
    Series series;
    std::vector<double> times;
};

// One round: slices of calls, the clients taking turns, the order turning
// each slice. A round's rate comes from its median call, so that a pause of
// the machine does not move it.
bool runRound(std::vector<Contender*>& contenders, int slices, int perSlice)
{
    bool ok = true;
    const size_t n = contenders.size();
    for (int slice = 0; slice < slices && ok; ++slice) {
        for (size_t k = 0; k < n && ok; ++k) {
            Contender& c = *contenders[(k + static_cast<size_t>(slice)) % n];
            c.series.slice(static_cast<size_t>(perSlice), [&] {
                for (int i = 0; i < perSlice && ok; ++i) {
                    const auto begin = Clock::now();
                    ok = c.call();
                    c.times.push_back(microseconds(Clock::now() - begin));
                }
            });
        }
    }
    for (Contender* c : contenders) {
        c->series.endRoundAt(1e6 / spread(c->times).median);
        c->times.clear();
    }
    return ok;
}

int database(const char* unit)
{
    const long before = peakKiB();
    std::vector<uint8_t> block(ZORVAN_USERDB_BUFFER_SIZE, 0);
    constexpr int kDatabaseRounds = 20;
    std::vector<double> times;
    for (int i = 0; i < kDatabaseRounds; ++i) {
        const auto begin = Clock::now();
        if (Zorvan_GetAllUser(unit, "root", "0000", "bench", block.data(), 0) != 0 ||
            Zorvan_PutAllUser(unit, "root", "0000", "bench", block.data(), 0) != 0)
            return 1;
        times.push_back(microseconds(Clock::now() - begin) / 1000.0);
    }
    const Spread t = spread(times);
    std::printf("  GetAllUser + PutAllUser (344 KB each way), %d rounds: median %.2f ms, "
                "max %.2f ms\n",
                kDatabaseRounds, t.median, t.high);
    std::printf("  peak resident memory of the client %ld KiB (%ld KiB before the transfers)\n",
                peakKiB(), before);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const char* unit = "127.0.0.2";
    const char* bare = nullptr;
    std::string title;
    bool targets = false, withDatabase = false;
    int rounds = 9, perSlice = 5;
    std::string countWho;
    long countExchanges = -1;
    constexpr int kSlices = 40;
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
        else if (arg == "--database")
            withDatabase = true;
        else if (arg == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--per-slice" && i + 1 < argc)
            perSlice = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--server-pid" && i + 1 < argc)
            watchServer(std::atoi(argv[++i]));
        else if (arg == "--count" && i + 2 < argc) {
            countWho = argv[++i];
            countExchanges = std::max(0L, std::atol(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: mgmt_bench --unit ADDRESS [--bare ADDRESS] "
                                 "[--title TEXT] [--targets] [--database] [--rounds N] "
                                 "[--per-slice N] [--server-pid PID]\n"
                                 "       mgmt_bench --unit ADDRESS --count zorvan|plain N\n");
            return 2;
        }
    }
    const auto address = lumarc::platform::resolveUnitAddress(unit);
    const auto bareAddress =
        bare != nullptr ? lumarc::platform::resolveUnitAddress(bare) : address;
    if (!address || !bareAddress || Zorvan_Startup(0, 0) != 0) {
        std::fprintf(stderr, "cannot start\n");
        return 1;
    }

    UnitNameRecord record{};
    uint8_t reply[16 + 52];
    const auto zorvan = [&] { return Zorvan_GetName(unit, &record) == 0; };
    const auto plain = [&] { return plainExchange(*address, kNameRequest, reply); };
    const auto plainToBare = [&] { return plainExchange(*bareAddress, kNameRequest, reply); };
    if (countExchanges >= 0) {
        if (countWho != "zorvan" && countWho != "plain") {
            std::fprintf(stderr, "no such client\n");
            return 2;
        }
        bool ok = true;
        for (long i = 0; i < 10 + countExchanges && ok; ++i)
            ok = countWho == "zorvan" ? zorvan() : plain();
        Zorvan_Cleanup();
        return ok ? 0 : 1;
    }
    // Warm-up: connections, caches, the first threads of a server.
    for (int i = 0; i < 50; ++i)
        if (!zorvan() || !plain() || (bare != nullptr && !plainToBare())) {
            std::fprintf(stderr, "a warm-up exchange failed\n");
            return 1;
        }

    Contender z, p, b;
    z.call = zorvan;
    p.call = plain;
    b.call = plainToBare;
    std::vector<Contender*> contenders{&z, &p};
    if (bare != nullptr)
        contenders.push_back(&b);
    for (int r = 0; r < rounds; ++r) {
        if (!runRound(contenders, kSlices, perSlice)) {
            std::fprintf(stderr, "an exchange failed\n");
            return 1;
        }
    }

    std::printf("%s%smedians of %d rounds of %d exchanges; context switches and CPU time per "
                "exchange\n",
                title.c_str(), title.empty() ? "" : ": ", rounds, kSlices * perSlice);
    printHead("GetName exchange", "per s", targets);
    const auto line = [&](const char* name, const Series& s, const Series* against,
                          const char* of, double target) {
        char ratio[64] = "", goal[16] = "";
        if (against != nullptr) {
            const Spread q = spread(ratios(s.rates(), against->rates()));
            std::snprintf(ratio, sizeof ratio, "%.2f of %s (%.2f-%.2f)", q.median, of, q.low,
                          q.high);
            if (targets)
                std::snprintf(goal, sizeof goal, ">= %.2f", target);
        }
        printLine(name, spread(s.rates()).median, ratio, goal, s);
    };
    if (bare != nullptr) {
        line("plain client, bare server", b.series, nullptr, "", 0);
        line("plain client", p.series, &b.series, "bare", 0.9);
    } else {
        line("plain client", p.series, nullptr, "", 0);
    }
    line("Zorvan_GetName", z.series, &p.series, "plain", 0.9);

    const int result = withDatabase ? database(unit) : 0;
    Zorvan_Cleanup();
    return result;
}
