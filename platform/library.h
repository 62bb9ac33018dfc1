// Loading libraries by their Windows file name.
//
// "X.dll" (any case) maps to "libx.so"; a name without an extension gets the
// same treatment, and a name ending in ".so" or holding a '/' is used as it
// is. The library is looked for in the program folder, then in the folder
// of the library that asks for it, then on the normal search path.
#pragma once

#include "result.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace lumarc::platform {

// The Linux file name for a Windows library name.
std::string linuxLibraryName(std::string_view windowsName);

// The full path of the loaded module (program or library) that contains
// address; empty when there is none.
std::filesystem::path modulePath(const void* address);

// Whether the library that load(windowsName) would find, asked from the
// module containing requester, is loaded in this process now. Loads
// nothing.
bool libraryLoaded(std::string_view windowsName, const void* requester);

class Library {
public:
    // Loads the library; the caller's own module decides the second folder
    // searched (found through the return address).
    static Result<Library> load(std::string_view windowsName);
    // As load, with the module that contains requester as the asking library.
    static Result<Library> load(std::string_view windowsName, const void* requester);

    Library(Library&& other) noexcept;
    Library& operator=(Library&& other) noexcept;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library(); // unloads

    // The address of an exported symbol, or an Error with code 127.
    Result<void*> symbol(const char* name) const;

    template <class Function> Result<Function*> function(const char* name) const
    {
        auto address = symbol(name);
        if (!address)
            return address.error();
        return reinterpret_cast<Function*>(*address);
    }

    const std::string& path() const { return m_path; }

private:
    Library(void* handle, std::string path) : m_handle(handle), m_path(std::move(path)) {}

    void* m_handle = nullptr;
    std::string m_path;
};

} // namespace lumarc::platform
