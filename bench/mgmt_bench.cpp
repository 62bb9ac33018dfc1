// Management exchange benchmark, run inside a private network namespace
// (bench/run.sh). Measures side by side, against the same simulated unit:
//   - Zorvan_GetName, and a plain socket client doing the same connect,
//     greeting, request, reply and close; medians and their ratio;
//   - Zorvan_GetAllUser + Zorvan_PutAllUser round trips, with peak memory.
// The rounds of the two clients alternate so that both see the same machine.
#include "mgmt/zorvan.h"
#include "platform/unit_address.h"
#include "unitsim/simulated_unit.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kUnit = "127.0.0.2";

double microseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

bool readExactly(int fd, uint8_t* buffer, size_t length)
{
    size_t got = 0;
    while (got < length) {
        const ssize_t n = ::recv(fd, buffer + got, length - got, 0);
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// The reference: the same exchange written directly on sockets.
bool plainGetName(uint32_t address, uint8_t* record)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(10002);
    to.sin_addr.s_addr = address;
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    uint8_t greeting[16];
    ok = ok && readExactly(fd, greeting, 16);
    const uint8_t request[16] = {16, 0, 0, 0, 0x5A, 0x56, 0, 0, 0x40, 0x01, 0, 0, 0, 0, 0, 0};
    ok = ok && ::send(fd, request, sizeof request, MSG_NOSIGNAL) == 16;
    uint8_t reply[16 + 52];
    ok = ok && readExactly(fd, reply, sizeof reply);
    if (ok)
        std::memcpy(record, reply + 16, 52);
    ::close(fd);
    return ok;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long peakKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int perRound = argc > 2 ? std::atoi(argv[2]) : 200;
    lumarc::unitsim::UnitConfig config;
    config.address = *lumarc::platform::resolveUnitAddress(kUnit);
    auto unit = lumarc::unitsim::SimulatedUnit::start(config);
    if (!unit) {
        std::fprintf(stderr, "cannot start the simulated unit: %s\n", unit.error().text.c_str());
        return 1;
    }
    if (Zorvan_Startup(0, 0) != 0)
        return 1;

    std::vector<double> zorvan, plain;
    UnitNameRecord record{};
    uint8_t raw[52];
    // Warm-up: connections, caches, the first thread of the server.
    for (int i = 0; i < 50; ++i) {
        Zorvan_GetName(kUnit, &record);
        plainGetName(config.address, raw);
    }
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < perRound; ++i) {
            const auto begin = Clock::now();
            if (Zorvan_GetName(kUnit, &record) != 0)
                return 1;
            zorvan.push_back(microseconds(Clock::now() - begin));
        }
        for (int i = 0; i < perRound; ++i) {
            const auto begin = Clock::now();
            if (!plainGetName(config.address, raw))
                return 1;
            plain.push_back(microseconds(Clock::now() - begin));
        }
    }
    const double z = median(zorvan), p = median(plain);
    std::printf("GetName exchange, %zu calls each, medians:\n", zorvan.size());
    std::printf("  Zorvan_GetName      %8.1f us\n", z);
    std::printf("  plain socket client %8.1f us\n", p);
    std::printf("  ratio               %8.2f (target <= 1.30)\n", z / p);

    // User database: one backup and one restore per iteration.
    const long before = peakKiB();
    std::vector<uint8_t> block(ZORVAN_USERDB_BUFFER_SIZE, 0);
    constexpr int kDatabaseRounds = 20;
    std::vector<double> database;
    for (int i = 0; i < kDatabaseRounds; ++i) {
        const auto begin = Clock::now();
        if (Zorvan_GetAllUser(kUnit, "root", "0000", "bench", block.data(), 0) != 0 ||
            Zorvan_PutAllUser(kUnit, "root", "0000", "bench", block.data(), 0) != 0)
            return 1;
        database.push_back(microseconds(Clock::now() - begin) / 1000.0);
    }
    std::printf("GetAllUser + PutAllUser (344 KB each way), %d rounds:\n", kDatabaseRounds);
    std::printf("  median %.2f ms, max %.2f ms\n", median(database),
                *std::max_element(database.begin(), database.end()));
    std::printf("  peak resident memory %ld KiB (was %ld KiB before the transfers)\n", peakKiB(),
                before);
    Zorvan_Cleanup();
    return 0;
}
