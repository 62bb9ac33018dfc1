// A client of the still-image server for the tests that need a folder of
// their own (a transport that is missing or broken): run from a folder that
// holds a copy of it, libquentysti.so (with its .tlb) and the platform
// library, it registers that copy and creates the object as the scanner
// information tool does. Prints "<HRESULT> <null|object> <transport loaded:
// yes|no>".
#include "platform/com.h"
#include "platform/folders.h"
#include "platform/library.h"
#include "stidev/quentysti.h"

#include <cstdio>

int main()
{
    using namespace lumarc::platform;
    auto server = Library::load((programFolder() / "libquentysti.so").string());
    if (!server) {
        std::printf("cannot load the server: %s\n", server.error().text.c_str());
        return 2;
    }
    auto registerServer = server->function<DllRegisterServerFunction>("DllRegisterServer");
    auto create = server->function<decltype(StiCreateInstanceP)>("StiCreateInstanceP");
    if (!registerServer || !create || (*registerServer)() != S_OK) {
        std::printf("cannot register the server\n");
        return 2;
    }
    comInitialize();
    IVexEmStiMgr* manager = reinterpret_cast<IVexEmStiMgr*>(1);
    const HRESULT result = (*create)(nullptr, 0, &manager, nullptr);
    std::printf("0x%08X %s %s\n", static_cast<uint32_t>(result),
                manager == nullptr ? "null" : "object",
                libraryLoaded("DROVIK32.dll", nullptr) ? "yes" : "no");
    if (manager != nullptr)
        manager->Release();
    comUninitialize();
    return 0;
}
