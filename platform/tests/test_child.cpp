// A helper program the process tests start: it behaves as asked.
//   block-read        blocks reading a pipe nobody writes to
//   spin              burns the CPU until killed
//   exit N            ends with code N
//   cwd FILE          writes its working folder to FILE
//   hold-mutex NAME   creates the named mutex, prints "ready", then sleeps
#include "platform/named_mutex.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "block-read") == 0) {
        int fds[2];
        if (::pipe(fds) != 0)
            return 2;
        char c;
        return ::read(fds[0], &c, 1) < 0 ? 3 : 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "spin") == 0) {
        volatile unsigned long n = 0;
        for (;;)
            n = n + 1;
    }
    if (argc >= 3 && std::strcmp(argv[1], "exit") == 0)
        return std::atoi(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "cwd") == 0) {
        char buffer[4096];
        if (::getcwd(buffer, sizeof buffer) == nullptr)
            return 2;
        std::ofstream(argv[2]) << buffer;
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "hold-mutex") == 0) {
        auto mutex = lumarc::platform::NamedMutex::create(argv[2]);
        if (!mutex)
            return 2;
        std::printf("ready %d\n", mutex->alreadyExisted() ? 1 : 0);
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
    std::fprintf(stderr, "usage: platform_test_child MODE [ARG]\n");
    return 64;
}
