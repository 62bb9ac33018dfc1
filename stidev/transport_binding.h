// The transport binding: the network SCSI transport loaded, resolved and
// started for the current unit, shared by every object of the process.
//
//   absent --first object--> bound (library loaded, started) --last object gone--> absent
//
// The binding is counted: it lives while any object holds a reference, so
// destroying one object leaves the others working. Making it loads
// "DROVIK32.dll", resolves its three exports, reads [Common] Current and
// that unit section's "IP" and "Scanner" from the shared settings file, and
// starts the transport with the address; any failure unloads the library
// again. Releasing the last reference unloads the library, which closes
// its connection and completes every request it still held.
#pragma once

#include "pending_request.h"

#include "platform/library.h"
#include "platform/result.h"
#include "scsinet/aspi.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace lumarc::stidev {

// Used when the unit section lacks the key (see quentysti.h).
constexpr const char* kDefaultUnitAddress = "127.0.0.2";
constexpr const char* kDefaultScannerModel = "ORBIX-4000";
constexpr size_t kUnitAddressCapacity = 128; // bytes with the NUL
constexpr size_t kScannerModelCapacity = 20;

class TransportBinding {
public:
    // Loads, resolves, reads the settings and starts; the Error says which
    // step failed.
    static Result<std::unique_ptr<TransportBinding>> make();

    const std::string& unitAddress() const { return m_unitAddress; }
    const std::string& scannerModel() const { return m_scannerModel; }

    // Hands a request block to the transport (SendASPI32Command).
    uint32_t send(SRB_ExecSCSICmd& block) const { return m_send(&block); }

    // The completed request kept for the next escape on this binding.
    SpareRequest& spare() const { return m_spare; }

private:
    using SupportInfo = uint32_t();
    using SupportInfo2 = uint32_t(const char*);
    using Send = uint32_t(void*);

    TransportBinding(platform::Library library, Send* sendFunction, std::string unit, std::string model)
        : m_library(std::move(library)), m_send(sendFunction), m_unitAddress(std::move(unit)),
          m_scannerModel(std::move(model))
    {
    }

    platform::Library m_library;
    Send* m_send;
    std::string m_unitAddress;
    std::string m_scannerModel;
    mutable SpareRequest m_spare;
};

// One object's reference to the shared binding.
class BindingReference {
public:
    // The process's binding, made first when there is none.
    static Result<BindingReference> acquire();

    BindingReference(BindingReference&& other) noexcept
        : m_binding(std::exchange(other.m_binding, nullptr))
    {
    }
    BindingReference& operator=(BindingReference&&) = delete;
    BindingReference(const BindingReference&) = delete;
    ~BindingReference(); // the last reference unloads the transport

    const TransportBinding& operator*() const { return *m_binding; }
    const TransportBinding* operator->() const { return m_binding; }

private:
    explicit BindingReference(const TransportBinding* binding) : m_binding(binding) {}

    const TransportBinding* m_binding;
};

} // namespace lumarc::stidev
