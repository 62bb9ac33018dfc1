// bench_responders: the benchmark servers as a program of their own, so that
// bench/run.sh can pin them to a CPU apart from the client.
//
//   bench_responders [--fast ADDRESS] [--bare ADDRESS]
//
// Serves until SIGTERM or SIGINT.
#include "responders.h"

#include "platform/unit_address.h"

#include <csignal>
#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    using namespace lumarc;
    // Block the signals in every thread; the main thread takes them below.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    std::unique_ptr<bench::FastResponder> fast;
    std::unique_ptr<bench::BareServer> bare;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto address = i + 1 < argc ? platform::resolveUnitAddress(argv[i + 1])
                                          : Result<uint32_t>(Error{1, "no address"});
        if ((arg != "--fast" && arg != "--bare") || !address) {
            std::fprintf(stderr, "usage: bench_responders [--fast ADDRESS] [--bare ADDRESS]\n");
            return 2;
        }
        ++i;
        if (arg == "--fast") {
            auto started = bench::FastResponder::start(*address);
            if (!started) {
                std::fprintf(stderr, "fast responder: %s\n", started.error().text.c_str());
                return 1;
            }
            fast = std::move(*started);
        } else {
            auto started = bench::BareServer::start(*address);
            if (!started) {
                std::fprintf(stderr, "bare server: %s\n", started.error().text.c_str());
                return 1;
            }
            bare = std::move(*started);
        }
    }
    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
}
