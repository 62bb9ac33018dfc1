// COM on Linux: result codes, the two standard interfaces, per-thread
// initialisation, and objects of in-process servers found through the
// registry.
//
// An in-process server is a shared library registered under
// HKEY_CLASSES_ROOT\CLSID\{class id}\InprocServer32 (default value: the
// library's full path). Creating an object loads the library once per
// process, asks its DllGetClassObject for the class factory and the factory
// for the object. A library stays loaded until a thread's last
// comUninitialize (or freeUnusedLibraries) finds that its DllCanUnloadNow
// answers S_OK.
//
// There are no apartments to marshal between: objects are called directly
// on whichever thread holds the pointer, as in-process servers registered
// with ThreadingModel "both" expect. The interfaces have the COM binary
// layout (a vtable pointer first, `this` as the first argument, the IUnknown
// methods in slots 0 to 2, no virtual destructor), so a C client can call
// through an interface pointer.
#pragma once

#include "guid.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace lumarc::platform {

using HRESULT = int32_t;

constexpr HRESULT makeHresult(uint32_t code)
{
    return static_cast<HRESULT>(code);
}

// Result codes, with their published names and values.
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = makeHresult(0x80004001);
constexpr HRESULT E_NOINTERFACE = makeHresult(0x80004002);
constexpr HRESULT E_POINTER = makeHresult(0x80004003);
constexpr HRESULT E_FAIL = makeHresult(0x80004005);
constexpr HRESULT E_UNEXPECTED = makeHresult(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = makeHresult(0x8007000E);
constexpr HRESULT E_INVALIDARG = makeHresult(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = makeHresult(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = makeHresult(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = makeHresult(0x80040154);
constexpr HRESULT CO_E_NOTINITIALIZED = makeHresult(0x800401F0);
constexpr HRESULT CO_E_CLASSSTRING = makeHresult(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = makeHresult(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = makeHresult(0x800401F9);
constexpr HRESULT SELFREG_E_TYPELIB = makeHresult(0x80040200);
constexpr HRESULT SELFREG_E_CLASS = makeHresult(0x80040201);
constexpr HRESULT RPC_E_CHANGED_MODE = makeHresult(0x80010106);
constexpr HRESULT TYPE_E_REGISTRYACCESS = makeHresult(0x8002801C);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = makeHresult(0x8002801D);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = makeHresult(0x80029C4A);

constexpr bool succeeded(HRESULT result)
{
    return result >= 0;
}

// The HRESULT of a Win32 error code (facility 7); 0 stays S_OK.
constexpr HRESULT hresultFromWin32(uint32_t code)
{
    return code == 0 ? S_OK : makeHresult(0x80070000u | (code & 0xFFFFu));
}

// A short English text for a result code, for messages.
std::string hresultText(HRESULT result);

// Class contexts: which kinds of server may serve a creation. Only
// in-process servers exist here; a context without kInprocServer finds no
// class.
namespace clsctx {
constexpr uint32_t kInprocServer = 0x1;
constexpr uint32_t kInprocHandler = 0x2;
constexpr uint32_t kLocalServer = 0x4;
constexpr uint32_t kRemoteServer = 0x10;
constexpr uint32_t kAll = kInprocServer | kInprocHandler | kLocalServer | kRemoteServer;
} // namespace clsctx

constexpr Guid IID_IUnknown = makeGuid(0x00000000, 0x0000, 0x0000,
                                       {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46});
constexpr Guid IID_IClassFactory = makeGuid(0x00000001, 0x0000, 0x0000,
                                            {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46});

// The root of every interface. An object is released with Release, never
// deleted through an interface pointer.
class IUnknown {
public:
    // *out := the object's face for iid with one reference added, or null
    // and E_NOINTERFACE.
    virtual HRESULT QueryInterface(const Guid& iid, void** out) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

class IClassFactory : public IUnknown {
public:
    virtual HRESULT CreateInstance(IUnknown* outer, const Guid& iid, void** out) = 0;
    // lock non-zero keeps the server loaded until a matching unlock.
    virtual HRESULT LockServer(int32_t lock) = 0;

protected:
    ~IClassFactory() = default;
};

// The exports of an in-process server. The class and interface ids come as
// pointers, as C callers pass them.
using DllGetClassObjectFunction = HRESULT(const Guid* clsid, const Guid* iid, void** out);
using DllCanUnloadNowFunction = HRESULT();
using DllRegisterServerFunction = HRESULT();
using DllUnregisterServerFunction = HRESULT();

enum class Apartment { SingleThreaded, MultiThreaded };

// Initialises COM for the calling thread: S_OK the first time, S_FALSE for
// each further call (every successful call needs its comUninitialize), and
// RPC_E_CHANGED_MODE, without counting, when the thread was initialised
// with the other apartment kind.
HRESULT comInitialize(Apartment apartment = Apartment::SingleThreaded);

// Undoes one successful comInitialize; the thread's last one frees the
// libraries that can be unloaded. Without a matching initialise it does
// nothing.
void comUninitialize();

// COM for the calling thread while the object lives.
class ComScope {
public:
    explicit ComScope(Apartment apartment = Apartment::SingleThreaded)
        : m_result(comInitialize(apartment))
    {
    }
    ~ComScope()
    {
        if (succeeded(m_result))
            comUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    HRESULT result() const { return m_result; }

private:
    HRESULT m_result;
};

// Whether the calling thread has initialised COM.
bool comInitialized();

// The class object (usually the class factory) of a registered in-process
// class. CO_E_NOTINITIALIZED on a thread without COM, REGDB_E_CLASSNOTREG
// when the class is not registered (or the context excludes in-process
// servers), CO_E_DLLNOTFOUND when its library cannot be loaded,
// CO_E_ERRORINDLL when the library has no DllGetClassObject; otherwise what
// DllGetClassObject answers. *out is null on failure.
HRESULT getClassObject(const Guid& clsid, uint32_t context, const Guid& iid, void** out);

// A new object of a registered class through its class factory; outer is
// the controlling object when the new one is aggregated. Errors as
// getClassObject, then those of the factory's CreateInstance.
HRESULT createInstance(const Guid& clsid, IUnknown* outer, uint32_t context, const Guid& iid,
                       void** out);

// The class id a ProgID names (HKEY_CLASSES_ROOT\<ProgID>\CLSID);
// CO_E_CLASSSTRING when it names none.
HRESULT classIdFromProgId(std::string_view progId, Guid& clsid);

// Unloads every loaded server library whose DllCanUnloadNow answers S_OK.
void freeUnusedLibraries();

// Holds one reference to an interface and releases it when it goes.
template <class Interface> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(ComPtr&& other) noexcept : m_pointer(std::exchange(other.m_pointer, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.m_pointer, nullptr));
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    Interface* get() const { return m_pointer; }
    Interface* operator->() const { return m_pointer; }
    explicit operator bool() const { return m_pointer != nullptr; }

    // Releases the interface held and returns the place for a new one, for
    // out parameters: createInstance(..., ptr.putVoid()).
    Interface** put()
    {
        reset();
        return &m_pointer;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    // Drops the reference held (and takes over pointer's, when given).
    void reset(Interface* pointer = nullptr)
    {
        if (m_pointer != nullptr)
            m_pointer->Release();
        m_pointer = pointer;
    }

private:
    Interface* m_pointer = nullptr;
};

} // namespace lumarc::platform
