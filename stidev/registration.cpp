// Writing and removing the server's registry entries.
#include "registration.h"

#include "quentysti.h"

#include "platform/debug_output.h"
#include "platform/registry.h"
#include "platform/type_library.h"

#include <string>

namespace lumarc::stidev {
namespace {

using namespace platform;

constexpr auto kRoot = RegistryRoot::ClassesRoot;
constexpr const char* kDescription = "VexEmStiObj Class";
constexpr uint16_t kTypeLibMajor = 1;
constexpr uint16_t kTypeLibMinor = 0;
constexpr uint32_t kTypeLibLcid = 1033;

std::string classKey()
{
    return "CLSID\\" + formatGuid(CLSID_VexEmStiObj);
}

} // namespace

HRESULT registerServer(const std::filesystem::path& library)
{
    const std::string clsid = formatGuid(CLSID_VexEmStiObj);
    const std::string key = classKey();
    Registry registry;
    const Status written = registry.update([&](RegistryKeys& keys) -> Status {
        if (auto removed = keys.deleteTree(kRoot, key); !removed)
            return removed;
        const struct {
            std::string key;
            std::string name;
            std::string data;
        } entries[] = {
            {kVexEmStiProgId, "", kDescription},
            {std::string(kVexEmStiProgId) + "\\CLSID", "", clsid},
            {kVexEmStiVersionIndependentProgId, "", kDescription},
            {std::string(kVexEmStiVersionIndependentProgId) + "\\CLSID", "", clsid},
            {key, "", kDescription},
            {key + "\\ProgID", "", kVexEmStiProgId},
            {key + "\\VersionIndependentProgID", "", kVexEmStiVersionIndependentProgId},
            {key + "\\InprocServer32", "", library.string()},
            {key + "\\InprocServer32", "ThreadingModel", "both"},
        };
        for (const auto& entry : entries) {
            if (auto set = keys.setValue(kRoot, entry.key, entry.name, entry.data); !set)
                return set;
        }
        return {};
    });
    if (!written) {
        debugOutput("QuentySti: registering the class failed: " + written.error().text + "\n");
        return SELFREG_E_CLASS;
    }

    std::filesystem::path typeLibraryFile = library;
    typeLibraryFile.replace_extension(".tlb");
    auto typeLibrary = loadTypeLibrary(typeLibraryFile);
    if (!typeLibrary) {
        debugOutput("QuentySti: " + typeLibrary.error().text + "\n");
        return TYPE_E_CANTLOADLIBRARY;
    }
    return registerTypeLibrary(*typeLibrary, typeLibraryFile, library.parent_path(), registry);
}

HRESULT unregisterServer()
{
    Registry registry;
    const Status removed = registry.update([](RegistryKeys& keys) -> Status {
        for (const std::string& key :
             {std::string(kVexEmStiProgId), std::string(kVexEmStiVersionIndependentProgId),
              classKey()}) {
            if (auto gone = keys.deleteTree(kRoot, key); !gone)
                return gone;
        }
        return {};
    });
    if (!removed) {
        debugOutput("QuentySti: unregistering the class failed: " + removed.error().text + "\n");
        return SELFREG_E_CLASS;
    }
    const HRESULT typeLibrary = unregisterTypeLibrary(LIBID_VEXEMSTILib, kTypeLibMajor,
                                                      kTypeLibMinor, kTypeLibLcid, registry);
    return typeLibrary == TYPE_E_LIBNOTREGISTERED ? S_OK : typeLibrary;
}

} // namespace lumarc::stidev
