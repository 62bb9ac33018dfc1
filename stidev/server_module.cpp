// Lock count and class factory.
#include "server_module.h"

#include "sti_object.h"

#include <atomic>
#include <mutex>
#include <new>

namespace lumarc::stidev {
namespace {

using namespace platform;

std::atomic<long> g_locks{0};

class ClassFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(const Guid& iid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }

    // The module holds the first reference; each step above it is someone
    // else's, and the first of those locks the module.
    uint32_t AddRef() override
    {
        const uint32_t before = m_references.fetch_add(1, std::memory_order_relaxed);
        if (before == 1)
            lockModule();
        return before + 1;
    }

    uint32_t Release() override
    {
        const uint32_t before = m_references.fetch_sub(1, std::memory_order_acq_rel);
        if (before == 2)
            unlockModule();
        if (before == 1)
            delete this;
        return before - 1;
    }

    HRESULT CreateInstance(IUnknown* outer, const Guid& iid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (outer != nullptr && iid != IID_IUnknown)
            return CLASS_E_NOAGGREGATION;
        return StiObject::create(outer, iid, out);
    }

    HRESULT LockServer(int32_t lock) override
    {
        if (lock != 0)
            lockModule();
        else
            unlockModule();
        return S_OK;
    }

private:
    ~ClassFactory() = default;

    std::atomic<uint32_t> m_references{1};
};

// The module's reference to the factory, dropped when the library unloads.
struct FactoryHolder {
    std::mutex mutex;
    ClassFactory* factory = nullptr;
    ~FactoryHolder()
    {
        if (factory != nullptr)
            factory->Release();
    }
};

FactoryHolder g_factory;

} // namespace

void lockModule()
{
    g_locks.fetch_add(1, std::memory_order_relaxed);
}

void unlockModule()
{
    g_locks.fetch_sub(1, std::memory_order_acq_rel);
}

long moduleLockCount()
{
    return g_locks.load(std::memory_order_acquire);
}

IClassFactory* classFactory()
{
    std::scoped_lock lock(g_factory.mutex);
    if (g_factory.factory == nullptr)
        g_factory.factory = new (std::nothrow) ClassFactory;
    return g_factory.factory;
}

const void* moduleAnchor()
{
    return &g_locks;
}

} // namespace lumarc::stidev
