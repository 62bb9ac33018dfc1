// kicklet: the resident event module of one user's desktop session.
#include "event_module.h"

#include "platform/debug_output.h"
#include "platform/signal_watch.h"
#include "shared/version.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

namespace {

constexpr const char* kUsage = R"(Usage: kicklet [OPTION]...
The Lumarc event module: keeps the list of Lumarc units current, starts the
program configured for a unit's Scan or Send-to button, tells the unit how
that went, and relays scanner texts to the unit's panel. One copy runs per
user, started at log-in; a second copy ends at once.

  -f, --foreground   stay attached to the terminal and print debug output
                     on standard error (for debugging, and for a service
                     manager that runs it in the foreground)
  -h, --help         show this help and exit
  -V, --version      show the version and exit

Without --foreground, kicklet detaches from the terminal and runs on in the
background. It ends cleanly on SIGTERM, SIGINT or SIGHUP.

Files: ~/.config/Velorin/Orbtwain/Quenty.ini (units), Lanyard.ini (what each
button starts), ~/.local/share/lumarc/windows/twain_32/orbscan32/ (TWAIN
data sources).

Exit status: 0 when it ended normally or another copy already runs,
2 for a usage error.
)";

// Detaches from the terminal: a child in a new session carries on.
void detach()
{
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("kicklet: fork");
        std::exit(1);
    }
    if (pid > 0)
        std::_Exit(0);
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
}

} // namespace

int main(int argc, char** argv)
{
    static const option kOptions[] = {{"foreground", no_argument, nullptr, 'f'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {nullptr, 0, nullptr, 0}};
    bool foreground = false;
    for (int c; (c = ::getopt_long(argc, argv, "fhV", kOptions, nullptr)) != -1;) {
        switch (c) {
        case 'f':
            foreground = true;
            break;
        case 'h':
            std::fputs(kUsage, stdout);
            return 0;
        case 'V':
            std::printf("kicklet (Lumarc) %.*s\n",
                        static_cast<int>(lumarc::shared::kVersion.size()),
                        lumarc::shared::kVersion.data());
            return 0;
        default:
            std::fputs("Try 'kicklet --help' for more information.\n", stderr);
            return 2;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "kicklet: unexpected argument '%s'\n", argv[optind]);
        return 2;
    }
    if (!foreground)
        detach();
    else if (std::getenv("LUMARC_DEBUG") == nullptr)
        ::setenv("LUMARC_DEBUG", "1", 1);
    // Before any thread exists: the signals reach the program as messages.
    lumarc::platform::blockSignals({SIGTERM, SIGINT, SIGHUP, SIGCHLD});
    std::signal(SIGPIPE, SIG_IGN);

    lumarc::eventmod::EventModuleOptions options;
    if (const char* limit = std::getenv("LUMARC_LAUNCH_WATCH_SECONDS"))
        options.watchLimit = std::max(0, std::atoi(limit));
    auto module = lumarc::eventmod::EventModule::start(options);
    if (!module)
        return 0;
    return module->run();
}
