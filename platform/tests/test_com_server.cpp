// A small in-process COM server for the COM runtime tests: one class whose
// object answers a number, a live-object count as its unload rule, and an
// export that tells how many objects live.
#include "test_com_server.h"

#include <atomic>

namespace {

using namespace lumarc::platform;
using lumarc::testing::INumber;

constexpr Guid kClassId = lumarc::testing::kNumberClassId;
constexpr Guid kNumberId = lumarc::testing::kNumberInterfaceId;

std::atomic<int> g_locks{0};

class NumberObject final : public INumber {
public:
    NumberObject() { ++g_locks; }
    HRESULT QueryInterface(const Guid& iid, void** out) override
    {
        if (iid != IID_IUnknown && iid != kNumberId) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *out = static_cast<INumber*>(this);
        return S_OK;
    }
    uint32_t AddRef() override { return ++m_references; }
    uint32_t Release() override
    {
        const uint32_t left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }
    int32_t Number() override { return 42; }

private:
    ~NumberObject() { --g_locks; }
    std::atomic<uint32_t> m_references{0};
};

class Factory final : public IClassFactory {
public:
    HRESULT QueryInterface(const Guid& iid, void** out) override
    {
        if (iid != IID_IUnknown && iid != IID_IClassFactory) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    uint32_t AddRef() override { return ++g_locks; }
    uint32_t Release() override { return --g_locks; }
    HRESULT CreateInstance(IUnknown* outer, const Guid& iid, void** out) override
    {
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        auto* object = new NumberObject;
        object->AddRef();
        const HRESULT result = object->QueryInterface(iid, out);
        object->Release();
        return result;
    }
    HRESULT LockServer(int32_t lock) override
    {
        g_locks += lock != 0 ? 1 : -1;
        return S_OK;
    }
};

Factory g_factory;

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(const Guid* clsid,
                                                                            const Guid* iid,
                                                                            void** out)
{
    if (*clsid != kClassId) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(*iid, out);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow()
{
    return g_locks == 0 ? S_OK : S_FALSE;
}
