// Loading a server library and calling its registration entry point.
#include "regsvr_command.h"

#include "cli.h"

#include "platform/com.h"
#include "platform/library.h"
#include "platform/registry.h"

#include <cstdio>
#include <filesystem>
#include <ostream>

namespace lumarc::tools {
namespace {

constexpr const char* kUsage = R"(usage: lumarc-regsvr [-u] LIBRARY

Registers the COM server library LIBRARY (a file path) by calling its
DllRegisterServer, or unregisters it (-u) by calling its DllUnregisterServer.
The entries go to the registry file of the user: $XDG_CONFIG_HOME/Velorin/
registry.ini (default ~/.config/Velorin/registry.ini).

Options:
  -u, --unregister   unregister instead of register
  --help

Exit status: 0 success, 1 the library's call failed, 2 a wrong command line,
3 the library cannot be loaded, 4 it has no such entry point.
)";

std::string hex(platform::HRESULT result)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(result));
    return text;
}


} // namespace

int runRegsvr(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    bool unregister = false;
    std::vector<std::string> files;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            out << kUsage;
            return kRegsvrOk;
        }
        if (arg == "--version" || arg == "-V") {
            out << versionLine("lumarc-regsvr") << "\n";
            return kRegsvrOk;
        }
        if (arg == "-u" || arg == "--unregister") {
            unregister = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            err << "lumarc-regsvr: unknown option " << arg << "\n(lumarc-regsvr --help shows the usage)\n";
            return kRegsvrUsage;
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 1) {
        err << "lumarc-regsvr: name exactly one library file\n(lumarc-regsvr --help shows the usage)\n";
        return kRegsvrUsage;
    }

    std::error_code ec;
    const std::filesystem::path file = std::filesystem::absolute(files.front(), ec).lexically_normal();
    if (ec || !std::filesystem::is_regular_file(file, ec)) {
        err << "lumarc-regsvr: " << files.front() << ": no such file\n";
        return kRegsvrNotLoaded;
    }
    platform::ComScope com;
    auto library = platform::Library::load(file.string());
    if (!library) {
        err << "lumarc-regsvr: cannot load " << file.string() << ": " << library.error().text
            << "\n";
        return kRegsvrNotLoaded;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto call = library->function<platform::DllRegisterServerFunction>(entry);
    if (!call) {
        err << "lumarc-regsvr: " << file.string() << " has no " << entry
            << ": it is not a COM server that registers itself\n";
        return kRegsvrNoEntry;
    }
    const platform::HRESULT result = (*call)();
    if (!platform::succeeded(result)) {
        err << "lumarc-regsvr: " << entry << " of " << file.string() << " failed: " << hex(result)
            << " (" << platform::hresultText(result) << ")\n";
        return kRegsvrFailed;
    }
    out << (unregister ? "unregistered " : "registered ") << file.string() << " ("
        << platform::registryFilePath().string() << ")\n";
    return kRegsvrOk;
}

} // namespace lumarc::tools
