// A scanning program that exits with the transport still loaded, in the
// ways real programs do: returning from main, exit() from another thread
// while a request runs, exit() from a completion routine. The test runs it
// and expects its own exit status.
//
//   exit_with_transport LIBRARY|linked UNIT MODE
//   MODE: idle (one request, then return 7), in-flight (exit 8 while the
//   unit has not answered), thread (exit 9 from another thread while this
//   one submits), routine (exit 10 from the completion routine)
#include "aspi.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

#ifdef LINKED_TRANSPORT
#define LOOKUP(name) static_cast<decltype(&name)>(&name)
#else
#define LOOKUP(name) reinterpret_cast<decltype(&name)>(::dlsym(library, #name))
#endif

namespace {

uint8_t g_data[96];

void exitFromRoutine(SRB_ExecSCSICmd*)
{
    std::exit(10);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    [[maybe_unused]] void* library = nullptr;
#ifndef LINKED_TRANSPORT
    library = ::dlopen(argv[1], RTLD_NOW);
    if (library == nullptr)
        return 3;
#endif
    decltype(&GetASPI32SupportInfo2) start = LOOKUP(GetASPI32SupportInfo2);
    decltype(&SendASPI32Command) send = LOOKUP(SendASPI32Command);
    if (!start || !send || (start(argv[2]) & 0xFF00) != 0x0100)
        return 4;
    const std::string mode = argv[3];
    static SRB_ExecSCSICmd block{};
    block.SRB_Cmd = SC_EXEC_SCSI_CMD;
    block.SRB_Target = DROVIK_TARGET_ID;
    block.SRB_Flags = SRB_DIR_IN | SRB_EVENT_NOTIFY;
    block.SRB_BufLen = sizeof g_data;
    block.SRB_BufPointer = g_data;
    block.SRB_SenseLen = 14;
    block.SRB_CDBLen = 6;
    block.CDBByte[0] = 0x12;
    block.CDBByte[4] = sizeof g_data;
    const int done = ::eventfd(0, EFD_CLOEXEC);
    block.SRB_PostProc = reinterpret_cast<void*>(static_cast<intptr_t>(done));
    if (mode == "routine") {
        block.SRB_Flags = SRB_DIR_IN | SRB_POSTING;
        block.SRB_PostProc = reinterpret_cast<void*>(&exitFromRoutine);
        send(&block);
        ::pause();
    }
    if (mode == "thread") {
        std::thread([] {
            ::usleep(20000);
            std::exit(9);
        }).detach();
        for (;;) {
            send(&block);
            pollfd p{done, POLLIN, 0};
            ::poll(&p, 1, 1000);
            uint64_t value;
            (void)!::read(done, &value, sizeof value);
        }
    }
    send(&block);
    if (mode == "in-flight") {
        ::usleep(50000); // the unit never answers
        return 8;
    }
    pollfd p{done, POLLIN, 0};
    // Read as a polling client does: the status is published with release
    // order, and the event's wake-up alone orders nothing for the sanitizer.
    if (::poll(&p, 1, 5000) != 1)
        return 5;
    if (__atomic_load_n(&block.SRB_Status, __ATOMIC_ACQUIRE) != SS_COMP)
        return 5;
    return 7;
}
