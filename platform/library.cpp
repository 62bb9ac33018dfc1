// Library loading with dlopen and the Windows search order.
#include "library.h"

#include "error_codes.h"
#include "folders.h"

#include <algorithm>
#include <dlfcn.h>
#include <filesystem>
#include <utility>
#include <vector>

namespace lumarc::platform {
namespace {

namespace fs = std::filesystem;

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
    });
    return out;
}

fs::path moduleFolder(const void* address)
{
    return modulePath(address).parent_path();
}

// The files load() tries for a Linux library name without a folder, in
// order; the plain name last (the loader's own search).
std::vector<std::string> candidatesFor(const std::string& name, const void* requester)
{
    std::vector<std::string> candidates{(programFolder() / name).string()};
    if (const fs::path folder = moduleFolder(requester); !folder.empty())
        candidates.push_back((folder / name).string());
    return candidates;
}

} // namespace

fs::path modulePath(const void* address)
{
    Dl_info info{};
    if (address == nullptr || ::dladdr(address, &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::error_code ec;
    fs::path module = fs::canonical(info.dli_fname, ec);
    return ec ? fs::path() : module;
}

bool libraryLoaded(std::string_view windowsName, const void* requester)
{
    const std::string name = linuxLibraryName(windowsName);
    std::vector<std::string> candidates;
    if (name.find('/') == std::string::npos)
        candidates = candidatesFor(name, requester);
    candidates.push_back(name);
    for (const std::string& candidate : candidates) {
        if (void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
            ::dlclose(handle); // the reference RTLD_NOLOAD added
            return true;
        }
    }
    return false;
}

std::string linuxLibraryName(std::string_view windowsName)
{
    if (windowsName.find('/') != std::string_view::npos)
        return std::string(windowsName);
    std::string name = lower(windowsName);
    if (name.size() > 3 && name.ends_with(".so"))
        return std::string(windowsName);
    if (name.size() > 4 && name.ends_with(".dll"))
        name.resize(name.size() - 4);
    return "lib" + name + ".so";
}

Result<Library> Library::load(std::string_view windowsName)
{
    return load(windowsName, __builtin_return_address(0));
}

Result<Library> Library::load(std::string_view windowsName, const void* requester)
{
    const std::string name = linuxLibraryName(windowsName);
    if (name.find('/') != std::string::npos) {
        if (void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL))
            return Library(handle, name);
        return Error{win32::kModNotFound, std::string("load ") + name + ": " + ::dlerror()};
    }
    for (const std::string& candidate : candidatesFor(name, requester)) {
        std::error_code ec;
        if (!fs::exists(candidate, ec))
            continue;
        if (void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL))
            return Library(handle, candidate);
        return Error{win32::kBadExeFormat, "load " + candidate + ": " +
                                               ::dlerror()};
    }
    if (void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL))
        return Library(handle, name);
    return Error{win32::kModNotFound, std::string("load ") + name + ": " + ::dlerror()};
}

Library::Library(Library&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_path(std::move(other.m_path))
{
}

Library& Library::operator=(Library&& other) noexcept
{
    if (this != &other) {
        if (m_handle != nullptr)
            ::dlclose(m_handle);
        m_handle = std::exchange(other.m_handle, nullptr);
        m_path = std::move(other.m_path);
    }
    return *this;
}

Library::~Library()
{
    if (m_handle != nullptr)
        ::dlclose(m_handle);
}

Result<void*> Library::symbol(const char* name) const
{
    ::dlerror();
    void* address = ::dlsym(m_handle, name);
    if (address == nullptr)
        return Error{win32::kProcNotFound, "symbol " + std::string(name) + " not in " + m_path};
    return address;
}

} // namespace lumarc::platform
