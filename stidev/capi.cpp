// The exports of libquentysti.so. No exception leaves them.
#include "quentysti.h"

#include "escape.h"
#include "registration.h"
#include "server_module.h"

#include "platform/library.h"

using namespace lumarc::platform;
using lumarc::stidev::abandonedRequests;
using lumarc::stidev::classFactory;
using lumarc::stidev::moduleAnchor;
using lumarc::stidev::moduleLockCount;

namespace {

template <class Body> HRESULT guarded(Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace

extern "C" {

HRESULT DllGetClassObject(const Guid* clsid, const Guid* iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (clsid == nullptr || iid == nullptr)
        return E_INVALIDARG;
    if (*clsid != CLSID_VexEmStiObj)
        return CLASS_E_CLASSNOTAVAILABLE;
    return guarded([&] {
        IClassFactory* factory = classFactory();
        return factory != nullptr ? factory->QueryInterface(*iid, out) : E_OUTOFMEMORY;
    });
}

HRESULT DllCanUnloadNow(void)
{
    // Requests the transport still holds keep the library loaded as well.
    abandonedRequests().release();
    return moduleLockCount() == 0 && abandonedRequests().count() == 0 ? S_OK : S_FALSE;
}

HRESULT DllRegisterServer(void)
{
    return guarded([] {
        const auto library = modulePath(moduleAnchor());
        if (library.empty())
            return E_UNEXPECTED;
        return lumarc::stidev::registerServer(library);
    });
}

HRESULT DllUnregisterServer(void)
{
    return guarded([] { return lumarc::stidev::unregisterServer(); });
}

HRESULT StiCreateInstanceP(void*, uint32_t, IVexEmStiMgr** out, IUnknown*)
{
    if (out == nullptr)
        return E_POINTER;
    return guarded([&] {
        return createInstance(CLSID_VexEmStiObj, nullptr, clsctx::kAll, IID_IVexEmStiMgr,
                              reinterpret_cast<void**>(out));
    });
}

} // extern "C"
