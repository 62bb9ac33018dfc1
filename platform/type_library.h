// Type libraries: what a COM server's classes and interfaces are, and their
// registration.
//
// A type library is a small text file shipped beside its server library
// (libfoo.so comes with libfoo.tlb), in the ini layout:
//
//   [Library]
//   Name=FOOLib
//   LIBID={...}
//   Version=1.0                  major.minor, decimal
//   LCID=1033                    decimal
//   HelpString=Foo 1.0 Type Library
//
//   [Interface IFoo]             one section per interface, in file order
//   IID={...}
//   HelpString=IFoo Interface
//   3=Open: Method Open          vtable slot = method name: its help string
//
//   [Class Foo]                  one section per class
//   CLSID={...}
//   HelpString=Foo Class
//   Interfaces=IFoo, IBar        the first one is the default interface
//
// Registering writes, under HKEY_CLASSES_ROOT:
//   TypeLib\{LIBID}\<major.minor>                 @ = help string
//   TypeLib\{LIBID}\<major.minor>\FLAGS           @ = 0
//   TypeLib\{LIBID}\<major.minor>\HELPDIR         @ = the help folder
//   TypeLib\{LIBID}\<major.minor>\<lcid>\<platform>  @ = the .tlb file
//   Interface\{IID}                               @ = interface name
//   Interface\{IID}\TypeLib                       @ = {LIBID}, Version = major.minor
// with the version in hexadecimal digits and the lcid in hexadecimal
// ("409" for 1033), as the Windows registry keeps them; the platform key is
// "win64" on 64-bit builds and "win32" otherwise. Unregistering removes the
// lcid key, the version key when no other lcid is left below it (together
// with the interfaces registered for that version), and the LIBID key when
// no version is left.
#pragma once

#include "com.h"
#include "guid.h"
#include "registry.h"
#include "result.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace lumarc::platform {

struct TypeLibMethod {
    uint32_t slot = 0;
    std::string name;
    std::string helpString;
};

struct TypeLibInterface {
    std::string name;
    Guid iid;
    std::string helpString;
    std::vector<TypeLibMethod> methods; // in slot order
};

struct TypeLibClass {
    std::string name;
    Guid clsid;
    std::string helpString;
    std::vector<std::string> interfaces; // the default one first
};

struct TypeLibrary {
    std::string name;
    Guid libid;
    uint16_t majorVersion = 0;
    uint16_t minorVersion = 0;
    uint32_t lcid = 0;
    std::string helpString;
    std::vector<TypeLibInterface> interfaces;
    std::vector<TypeLibClass> classes;
};

// Reads a type library's text; an Error (13, invalid data) names the first
// missing or malformed entry.
Result<TypeLibrary> parseTypeLibrary(std::string_view text);
Result<TypeLibrary> loadTypeLibrary(const std::filesystem::path& file);

// Registers the library described by file, in one atomic registry step.
// TYPE_E_REGISTRYACCESS when the registry cannot be written.
HRESULT registerTypeLibrary(const TypeLibrary& library, const std::filesystem::path& file,
                            const std::filesystem::path& helpFolder, Registry& registry);

// Removes a registration (see the file comment). TYPE_E_LIBNOTREGISTERED
// when that version and lcid are not registered, TYPE_E_REGISTRYACCESS when
// the registry cannot be written.
HRESULT unregisterTypeLibrary(const Guid& libid, uint16_t majorVersion, uint16_t minorVersion,
                              uint32_t lcid, Registry& registry);

} // namespace lumarc::platform
