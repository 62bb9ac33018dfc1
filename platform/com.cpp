// The COM runtime: per-thread initialisation and the table of loaded
// in-process servers.
#include "com.h"

#include "debug_output.h"
#include "error_codes.h"
#include "library.h"
#include "registry.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <mutex>
#include <vector>

namespace lumarc::platform {
namespace {

struct ThreadCom {
    uint32_t initialised = 0; // successful comInitialize calls not yet undone
    Apartment apartment = Apartment::SingleThreaded;
};

thread_local ThreadCom t_com;

// One loaded server library.
struct Server {
    Library library;
    DllGetClassObjectFunction* getClassObject = nullptr;
    DllCanUnloadNowFunction* canUnloadNow = nullptr; // null: never unloaded
};

// The servers loaded in this process. A server's DllGetClassObject is
// called under the mutex, and so is the unload decision, so a library is
// never unloaded between the look-up of a class and the moment its factory
// holds the library.
struct Servers {
    std::mutex mutex;
    std::vector<std::unique_ptr<Server>> loaded;
};

Servers& servers()
{
    static Servers* instance = new Servers; // in use until the process ends
    return *instance;
}

std::string classKey(const Guid& clsid)
{
    return "CLSID\\" + formatGuid(clsid);
}

// The loaded server for path, loading it first when needed; null with the
// HRESULT in failure otherwise. Called under the table's mutex.
Server* serverFor(std::vector<std::unique_ptr<Server>>& loaded, const std::string& path,
                  HRESULT& failure)
{
    for (const auto& server : loaded)
        if (server->library.path() == path)
            return server.get();
    auto library = Library::load(path);
    if (!library) {
        debugOutput("COM: cannot load " + path + ": " + library.error().text + "\n");
        failure = CO_E_DLLNOTFOUND;
        return nullptr;
    }
    auto getClassObject = library->function<DllGetClassObjectFunction>("DllGetClassObject");
    if (!getClassObject) {
        debugOutput("COM: " + path + " has no DllGetClassObject\n");
        failure = CO_E_ERRORINDLL;
        return nullptr;
    }
    auto canUnloadNow = library->function<DllCanUnloadNowFunction>("DllCanUnloadNow");
    auto server = std::make_unique<Server>(
        Server{std::move(*library), *getClassObject, canUnloadNow ? *canUnloadNow : nullptr});
    loaded.push_back(std::move(server));
    return loaded.back().get();
}

} // namespace

std::string hresultText(HRESULT result)
{
    switch (result) {
    case S_OK:
        return "success";
    case S_FALSE:
        return "success (false)";
    case E_NOTIMPL:
        return "not implemented";
    case E_NOINTERFACE:
        return "the object has no such interface";
    case E_POINTER:
        return "a required pointer is null";
    case E_FAIL:
        return "unspecified failure";
    case E_UNEXPECTED:
        return "unexpected failure";
    case CLASS_E_NOAGGREGATION:
        return "the class cannot be aggregated";
    case CLASS_E_CLASSNOTAVAILABLE:
        return "the library does not serve that class";
    case REGDB_E_CLASSNOTREG:
        return "the class is not registered";
    case CO_E_NOTINITIALIZED:
        return "COM is not initialised on this thread";
    case CO_E_CLASSSTRING:
        return "the ProgID or class string is not registered";
    case CO_E_DLLNOTFOUND:
        return "the server library cannot be loaded";
    case CO_E_ERRORINDLL:
        return "the server library lacks its entry points";
    case SELFREG_E_TYPELIB:
        return "the type library could not be registered";
    case SELFREG_E_CLASS:
        return "the class could not be registered";
    case RPC_E_CHANGED_MODE:
        return "COM was initialised with the other apartment kind";
    case TYPE_E_REGISTRYACCESS:
        return "the registry cannot be written";
    case TYPE_E_LIBNOTREGISTERED:
        return "the type library is not registered";
    case TYPE_E_CANTLOADLIBRARY:
        return "the type library cannot be loaded";
    default:
        break;
    }
    const auto code = static_cast<uint32_t>(result);
    if ((code & 0xFFFF0000u) == 0x80070000u)
        return systemMessage(code & 0xFFFFu);
    char text[32];
    std::snprintf(text, sizeof text, "result 0x%08X", code);
    return text;
}

HRESULT comInitialize(Apartment apartment)
{
    if (t_com.initialised == 0) {
        t_com = {1, apartment};
        return S_OK;
    }
    if (t_com.apartment != apartment)
        return RPC_E_CHANGED_MODE;
    ++t_com.initialised;
    return S_FALSE;
}

void comUninitialize()
{
    if (t_com.initialised == 0)
        return;
    if (--t_com.initialised == 0)
        freeUnusedLibraries();
}

bool comInitialized()
{
    return t_com.initialised != 0;
}

HRESULT getClassObject(const Guid& clsid, uint32_t context, const Guid& iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (!comInitialized())
        return CO_E_NOTINITIALIZED;
    if ((context & clsctx::kInprocServer) == 0)
        return REGDB_E_CLASSNOTREG;
    const auto path =
        Registry().value(RegistryRoot::ClassesRoot, classKey(clsid) + "\\InprocServer32");
    if (!path || path->empty())
        return REGDB_E_CLASSNOTREG;

    Servers& table = servers();
    std::scoped_lock lock(table.mutex);
    HRESULT failure = E_FAIL;
    Server* server = serverFor(table.loaded, *path, failure);
    if (server == nullptr)
        return failure;
    const HRESULT result = server->getClassObject(&clsid, &iid, out);
    if (!succeeded(result))
        *out = nullptr;
    return result;
}

HRESULT createInstance(const Guid& clsid, IUnknown* outer, uint32_t context, const Guid& iid,
                       void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    ComPtr<IClassFactory> factory;
    const HRESULT found = getClassObject(clsid, context, IID_IClassFactory, factory.putVoid());
    if (!succeeded(found))
        return found;
    const HRESULT created = factory->CreateInstance(outer, iid, out);
    if (!succeeded(created))
        *out = nullptr;
    return created;
}

HRESULT classIdFromProgId(std::string_view progId, Guid& clsid)
{
    if (progId.empty() || progId.find('\\') != std::string_view::npos)
        return CO_E_CLASSSTRING;
    const auto text =
        Registry().value(RegistryRoot::ClassesRoot, std::string(progId) + "\\CLSID");
    const auto parsed = text ? parseGuid(*text) : std::nullopt;
    if (!parsed)
        return CO_E_CLASSSTRING;
    clsid = *parsed;
    return S_OK;
}

void freeUnusedLibraries()
{
    std::vector<std::unique_ptr<Server>> unused;
    {
        Servers& table = servers();
        std::scoped_lock lock(table.mutex);
        auto keep = std::stable_partition(
            table.loaded.begin(), table.loaded.end(), [](const std::unique_ptr<Server>& server) {
                return server->canUnloadNow == nullptr || server->canUnloadNow() != S_OK;
            });
        std::move(keep, table.loaded.end(), std::back_inserter(unused));
        table.loaded.erase(keep, table.loaded.end());
    }
    // Unloaded outside the lock: a library's unload may itself use COM.
    unused.clear();
}

} // namespace lumarc::platform
