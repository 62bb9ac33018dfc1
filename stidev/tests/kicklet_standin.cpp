// Stands in for the event module in the tests until it exists: owns a
// window titled "Kicklet" and appends every application message it gets to
// a file, one line each: "0xMMMM wParam lParam". Ends on SIGTERM.
#include "platform/message_window.h"

#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t g_stop = 0;

} // namespace

int main(int argc, char** argv)
{
    using namespace lumarc::platform;
    if (argc != 2) {
        std::fprintf(stderr, "usage: kicklet_standin LOGFILE\n");
        return 64;
    }
    const char* log = argv[1];
    auto window = createWindow(
        [log](WindowHandle, uint32_t message, uintptr_t wParam, intptr_t lParam) -> intptr_t {
            if (message == wm::kTimer && g_stop != 0)
                postQuitMessage(0);
            if (message >= wm::kApp) {
                if (FILE* file = std::fopen(log, "a")) {
                    std::fprintf(file, "0x%04X %lu %ld\n", message,
                                 static_cast<unsigned long>(wParam), static_cast<long>(lParam));
                    std::fclose(file);
                }
            }
            return 0;
        },
        "Kicklet");
    if (!window) {
        std::fprintf(stderr, "kicklet_standin: %s\n", window.error().text.c_str());
        return 2;
    }
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    (void)setTimer(*window, 1, std::chrono::milliseconds(20));
    Message message;
    while (getMessage(message))
        dispatchMessage(message);
    (void)destroyWindow(*window);
    return 0;
}
