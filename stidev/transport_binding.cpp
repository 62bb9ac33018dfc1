// Making, sharing and releasing the transport binding.
#include "transport_binding.h"

#include "escape.h"
#include "server_module.h"

#include "platform/debug_output.h"
#include "platform/profile.h"
#include "shared/settings_file.h"

#include <cstdio>
#include <mutex>

namespace lumarc::stidev {
namespace {

constexpr const char* kTransportLibrary = "DROVIK32.dll";
constexpr uint32_t kSupportReady = SS_COMP; // status byte of the support word

Error bindingFailure(std::string text)
{
    platform::debugOutput("QuentySti: " + text + "\n");
    return Error{0x80004005u, std::move(text)};
}

// The one binding of the process and its reference count. Making and
// releasing it happen under the mutex, so a new object never sees a binding
// that is being torn down.
struct SharedBinding {
    std::mutex mutex;
    std::unique_ptr<TransportBinding> binding;
    size_t references = 0;
};

SharedBinding& shared()
{
    static SharedBinding instance;
    return instance;
}

} // namespace

Result<std::unique_ptr<TransportBinding>> TransportBinding::make()
{
    // The transport is looked for beside this library too.
    auto library = platform::Library::load(kTransportLibrary, moduleAnchor());
    if (!library)
        return bindingFailure(library.error().text);
    auto supportInfo = library->function<SupportInfo>("GetASPI32SupportInfo");
    auto send = library->function<Send>("SendASPI32Command");
    auto supportInfo2 = library->function<SupportInfo2>("GetASPI32SupportInfo2");
    if (!supportInfo || !send || !supportInfo2)
        return bindingFailure("the transport " + library->path() + " lacks an ASPI entry point");

    // The current unit of the shared settings file, read from one state of
    // the file.
    const shared::SettingsFile settings;
    const auto document = settings.profile().snapshot();
    const uint32_t current = platform::readIntFrom(document, shared::section::kCommon,
                                                   shared::key::kCurrent,
                                                   shared::defaults::kCurrentInUnitList);
    const std::string section = shared::unitSection(current);
    char unit[kUnitAddressCapacity];
    char model[kScannerModelCapacity];
    platform::readStringFrom(document, section, shared::key::kIp, kDefaultUnitAddress, unit,
                             sizeof unit);
    platform::readStringFrom(document, section, shared::key::kScanner, kDefaultScannerModel,
                             model, sizeof model);

    const uint32_t support = (*supportInfo2)(unit);
    if (((support >> 8) & 0xFF) != kSupportReady) {
        char word[16];
        std::snprintf(word, sizeof word, "0x%04X", support);
        return bindingFailure("the transport did not start for unit " + std::string(unit) +
                              ": support word " + word);
    }
    return std::unique_ptr<TransportBinding>(
        new TransportBinding(std::move(*library), *send, unit, model));
}

Result<BindingReference> BindingReference::acquire()
{
    SharedBinding& state = shared();
    std::scoped_lock lock(state.mutex);
    if (!state.binding) {
        auto made = TransportBinding::make();
        if (!made)
            return made.error();
        state.binding = std::move(*made);
    }
    ++state.references;
    return BindingReference(state.binding.get());
}

BindingReference::~BindingReference()
{
    if (m_binding == nullptr)
        return;
    SharedBinding& state = shared();
    std::scoped_lock lock(state.mutex);
    if (--state.references != 0)
        return;
    // Unloading the transport completes the requests it still held, so the
    // ones an escape gave up on can go now.
    state.binding.reset();
    abandonedRequests().release();
}

} // namespace lumarc::stidev
